#!/bin/sh
# The viewer's own command-line answers, and the documents that repeat them.
#   cli_test.sh KARVELIN KARVELIN_MKSEQ SOURCE_DIR VERSION KARVELIN_COMPARE
# --help and --version must answer without a display (none is set here, and
# the xcb platform would fail without one); any other argument is a path, so
# ./--help tries to open a window and fails for want of a display. The keys
# and mouse lines of --help appear word for word in the README and the manual
# page, and every option of the generator and of the comparer in their manual
# pages.
set -u
viewer=$1 mkseq=$2 src=$3 version=$4 comparer=$5
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
no_display() { env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$@"; }

out=$(no_display "$viewer" --version 2>&1) || fail "--version exited $?"
[ "$out" = "karvelin $version" ] || fail "--version printed '$out', the project is $version"

help=$(no_display "$viewer" --help 2>/dev/null) || fail "--help exited $?"
for section in Keys: Mouse: Formats:; do
    printf '%s\n' "$help" | grep -qx "$section" || fail "--help has no $section section"
done

out=$(no_display "$viewer" ./--help 2>/dev/null); rc=$?
[ $rc -eq 1 ] && [ -z "$out" ] || fail "./--help was not taken as a path (exit $rc, stdout '$out')"

# Lines of the Keys and Mouse sections, without their indentation.
lines=$(printf '%s\n' "$help" |
    awk '/^(Keys|Mouse):$/ {on = 1; next} /^$/ {on = 0} on {sub(/^ +/, ""); print}')
[ -n "$lines" ] || fail "no key lines in --help"
for doc in README.md docs/man/karvelin.1.scd; do
    missing=$(printf '%s\n' "$lines" | while IFS= read -r line; do
        sed 's/^[ \t]*//' "$src/$doc" | grep -qxF "$line" || echo "  $line"
    done)
    [ -z "$missing" ] || fail "$doc lacks these lines of --help:
$missing"
done

options=$("$mkseq" --help | grep -o -- '--[a-z]\+' | sort -u)
[ -n "$options" ] || fail "no options in karvelin-mkseq --help"
for option in $options; do
    grep -qF -- "*$option*" "$src/docs/man/karvelin-mkseq.1.scd" || fail "karvelin-mkseq.1 lacks $option"
done

out=$("$comparer" --version) || fail "karvelin-compare --version exited $?"
[ "$out" = "karvelin-compare $version" ] || fail "karvelin-compare --version printed '$out'"
options=$("$comparer" --help | grep -o -- '--[a-z-]\+' | sort -u)
[ -n "$options" ] || fail "no options in karvelin-compare --help"
for option in $options; do
    grep -qF -- "*$option*" "$src/docs/man/karvelin-compare.1.scd" || fail "karvelin-compare.1 lacks $option"
done
grep -qF -- '*--compare* _B\_FRAME_' "$src/docs/man/karvelin.1.scd" || fail "karvelin.1 lacks --compare"

[ $failures -eq 0 ] && echo "command line and documents agree" && exit 0
exit 1
