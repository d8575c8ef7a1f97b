#!/usr/bin/env bash
# The set-up scripts' first answers, which must come before anything is
# installed, built or written:
#   - scripts/run.sh without a display says so in one line of its own, naming
#     the commands that work, and writes no demo; with a display, for --help,
#     and with --virtual-display (which asks for Xvfb) it goes on to install;
#   - scripts/install-deps.sh as a user without sudo names what root must run,
#     the Japanese locale of the Shift-JIS tests included.
# apt-get, sudo, cmake and the rest are stand-ins here that note their call and
# fail, so nothing is installed or built and no network is needed.
#   setup_test.sh SOURCE_DIR
set -u
src=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
for tool in apt-get sudo cmake dpkg-query localedef xvfb-run; do
    printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\nexit 1\n' "$tool" "$work" >"$work/bin/$tool"
    chmod +x "$work/bin/$tool"
done
bash_bin=$(command -v bash)

# One run of run.sh from a fresh home; leaves its output in $out, its status in
# $rc, and what it asked the stand-ins for in $calls.
run() {
    rm -rf "${work:?}/home" "$work/calls"
    mkdir -p "$work/home/cache"
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY PATH="$work/bin:$PATH" HOME="$work/home" \
              XDG_CACHE_HOME="$work/home/cache" "$@" 2>&1)
    rc=$?
    calls=$(cat "$work/calls" 2>/dev/null)
}
run_sh=$src/scripts/run.sh

run "$bash_bin" "$run_sh"
[ $rc -ne 0 ] || fail "run.sh without a display exited 0"
[ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] || fail "run.sh without a display printed more than one line: $out"
case $out in
    run:\ no\ display*) ;;
    *) fail "run.sh without a display did not say so first: $out" ;;
esac
for want in "apt-get install xvfb" "$run_sh --virtual-display"; do
    grep -qF -- "'$want" <<<"$out" || fail "the no-display line lacks '$want': $out"
done
# xvfb-run's default screen is 8 bits deep, too shallow for Qt to paint on.
grep -qE -- "'xvfb-run -a -s \"-screen 0 [0-9]+x[0-9]+x24\" $run_sh'" <<<"$out" ||
    fail "the no-display line lacks xvfb-run with a 24-bit screen: $out"
grep -qiE 'qt|reinstall' <<<"$out" && fail "the no-display line repeats Qt's text: $out"
[ -z "$calls" ] || fail "run.sh without a display went on to: $calls"
[ -z "$(find "$work/home" -mindepth 1 ! -path "$work/home/cache")" ] ||
    fail "run.sh without a display wrote: $(find "$work/home" -mindepth 1)"

# Where a window can open, or none is needed, the same start goes on to the
# install step (which the stand-ins stop).
for args in "DISPLAY=:77" "WAYLAND_DISPLAY=wayland-9" "--help" "--version"; do
    case $args in
        *=*) run "$args" "$bash_bin" "$run_sh" ;;
        *) run "$bash_bin" "$run_sh" "$args" ;;
    esac
    grep -q '^dpkg-query ' <<<"$calls" || fail "run.sh with $args did not reach the install step: $out"
    grep -q 'no display' <<<"$out" && fail "run.sh with $args said there is no display"
done
run "$bash_bin" "$run_sh" --virtual-display
for p in xvfb xauth qt6-base-dev; do
    grep -q "^dpkg-query .* $p\$" <<<"$calls" || fail "run.sh --virtual-display did not ask for $p: $calls"
done

# install-deps.sh as a user without sudo: only id, dpkg-query, locale and grep
# are on its PATH, so no sudo is found whatever this machine has.
mkdir "$work/user"
printf '#!/bin/sh\necho 1000\n' >"$work/user/id"
printf '#!/bin/sh\nexit 1\n' >"$work/user/dpkg-query"
ln -s "$(command -v grep)" "$work/user/grep"
chmod +x "$work/user/id" "$work/user/dpkg-query"
deps() {
    out=$(PATH="$work/user" "$bash_bin" "$src/scripts/install-deps.sh" "$@" 2>&1)
    rc=$?
}
locale_line="localedef -i ja_JP -f UTF-8 ja_JP.UTF-8"
for locales in "C POSIX" "C ja_JP.utf8 POSIX"; do
    printf '#!/bin/sh\nfor l in %s; do echo $l; done\n' "$locales" >"$work/user/locale"
    chmod +x "$work/user/locale"
    deps build test
    [ $rc -ne 0 ] || fail "install-deps without sudo and packages exited 0"
    grep -qx "    apt-get install cmake .*wine64.* locales .*" <<<"$out" ||
        fail "install-deps without sudo gave no apt-get line: $out"
    if [ "$locales" = "C POSIX" ]; then
        grep -qxF "    $locale_line" <<<"$out" || fail "install-deps without sudo left out the locale: $out"
    else
        grep -qF "$locale_line" <<<"$out" && fail "install-deps asked for a locale that is there: $out"
    fi
done
deps build run
grep -qF "$locale_line" <<<"$out" && fail "install-deps asked for the tests' locale for run: $out"

[ $failures -eq 0 ] && echo "set-up scripts: no-display and no-sudo answers as expected" && exit 0
exit 1
