#!/usr/bin/env bash
# Builds the Debian package with CPack, checks it with lintian, then (as root)
# installs it with dpkg the way a user would, checks what a user relies on and
# removes it again, checking that nothing is left behind.
#   scripts/test-package.sh [BUILD_DIR]
# BUILD_DIR is a configured Release build (scripts/test.sh passes build/test);
# without it the viewer is configured and built in build/package.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
stage() { echo "== [$((SECONDS - started))s] $*"; }
fail() { echo "test-package: $*" >&2; exit 1; }

for tool in cpack dpkg-deb dpkg-shlibdeps lintian scdoc desktop-file-validate xdg-mime; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh test)"
done

build=${1:-}
if [ -z "$build" ]; then
    build=build/package
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKARVELIN_TESTS=OFF -DKARVELIN_BENCH=OFF \
          -DKARVELIN_QT=ON -DKARVELIN_SANITIZE=OFF -DKARVELIN_FUZZ=OFF >/dev/null
fi
build=$(cd "$build" && pwd)

stage "cpack -G DEB in $build"
rm -f "$build"/karvelin_*.deb
# cpack builds what is out of date before it packages.
(cd "$build" && nice cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log" >&2; fail "cpack failed"; }
debs=("$build"/karvelin_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "no single karvelin_<version>_amd64.deb in $build"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "karvelin_${version}_amd64.deb" ] || fail "unexpected name $(basename "$deb")"
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, Depends: $(dpkg-deb -f "$deb" Depends)"

# What a desktop user gets from the package, and nothing else (no database
# cache, no build file): the three programs, their manual pages, the desktop entry,
# the DPX type, the icon, and the copyright and changelog Debian asks for.
contents=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
files=$(grep -v '/$' <<<"$contents" | sort)
expected=$(sort <<'EOF'
/usr/bin/karvelin
/usr/bin/karvelin-mkseq
/usr/bin/karvelin-compare
/usr/share/man/man1/karvelin.1.gz
/usr/share/man/man1/karvelin-mkseq.1.gz
/usr/share/man/man1/karvelin-compare.1.gz
/usr/share/applications/karvelin.desktop
/usr/share/mime/packages/karvelin-dpx.xml
/usr/share/icons/hicolor/scalable/apps/karvelin.svg
/usr/share/doc/karvelin/copyright
/usr/share/doc/karvelin/changelog.gz
EOF
)
[ "$files" = "$expected" ] || fail "the package holds other files than expected:
$(diff <(echo "$expected") <(echo "$files"))"
for script in postinst postrm; do
    dpkg-deb -I "$deb" "$script" | grep -q update-desktop-database ||
        fail "$script does not update the desktop database"
done

stage "lintian"
# Warnings fail too: each one is something a Debian user would meet.
lintian --display-info --fail-on error,warning "$deb" 2> >(grep -v 'running with root privileges' >&2) ||
    fail "lintian found errors or warnings"

stage "cmake --install into a scratch prefix"
# The same databases updated there as the package's scripts update in /usr.
prefix=$(mktemp -d)
cmake --install "$build" --prefix "$prefix" >/dev/null 2>&1 || fail "cmake --install failed"
grep -qx 'image/x-dpx=karvelin.desktop;' "$prefix/share/applications/mimeinfo.cache" ||
    fail "cmake --install left the desktop database without karvelin.desktop for image/x-dpx"
[ -f "$prefix/share/mime/image/x-dpx.xml" ] || fail "cmake --install left no MIME database"
rm -rf "$prefix"

if [ "$(id -u)" -ne 0 ]; then
    stage "install test skipped: dpkg -i and dpkg -r need root (the package was built and passed lintian)"
    [ -z "${KARVELIN_LEFT_OUT:-}" ] ||
        echo "  Package: dpkg -i, the checks of the installed programs and dpkg -r: they need root" \
             "(as root run: scripts/test-package.sh ${1:-})" >>"$KARVELIN_LEFT_OUT"
    exit 0
fi

# dpkg's state of the package: empty or "not-installed" when dpkg has no trace of it.
known_to_dpkg() {
    local status
    status=$(dpkg-query -W -f='${Status}' karvelin 2>/dev/null || true)
    [ -n "$status" ] && [ "${status##* }" != not-installed ]
}

# A package left over from an interrupted run would hide what this one installs.
if known_to_dpkg; then dpkg --purge karvelin >/dev/null; fi

# Folders the package brings that were not there before must go with it.
new_dirs=()
while read -r path; do
    [ -n "$path" ] && [ "${path: -1}" = / ] && [ ! -e "$path" ] && new_dirs+=("${path%/}")
done <<<"$contents"

stage "dpkg -i $(basename "$deb")"
trap 'dpkg --purge karvelin >/dev/null 2>&1 || true' EXIT
dpkg -i "$deb" >/dev/null || fail "dpkg -i failed (its dependencies: $(dpkg-deb -f "$deb" Depends))"
installed=$(dpkg -L karvelin)

# The programs answer from the installed paths, without a display.
[ "$(command -v karvelin)" = /usr/bin/karvelin ] || fail "karvelin is not /usr/bin/karvelin on PATH"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY karvelin --version) || fail "karvelin --version failed"
[ "$out" = "karvelin $version" ] || fail "karvelin --version printed '$out', the package is $version"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY karvelin --help) || fail "karvelin --help failed"
grep -q '^usage: karvelin' <<<"$out" || fail "karvelin --help printed no usage"
out=$(karvelin-mkseq --help) || fail "karvelin-mkseq --help failed"
grep -q '^usage: karvelin-mkseq' <<<"$out" || fail "karvelin-mkseq --help printed no usage"
out=$(karvelin-compare --help) || fail "karvelin-compare --help failed"
grep -q '^usage: karvelin-compare' <<<"$out" || fail "karvelin-compare --help printed no usage"
echo "karvelin --version: $(karvelin --version)"

out=$(desktop-file-validate /usr/share/applications/karvelin.desktop 2>&1) ||
    fail "desktop-file-validate failed: $out"
[ -z "$out" ] || fail "desktop-file-validate is not clean: $out"
echo "desktop-file-validate: clean"

# The system-wide default, as a new user without settings of their own sees it.
empty_home=$(mktemp -d)
mime_default() {
    env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION XDG_CONFIG_HOME="$empty_home/config" \
        XDG_DATA_HOME="$empty_home/data" xdg-mime query default image/x-dpx
}
out=$(mime_default)
[ "$out" = karvelin.desktop ] || fail "xdg-mime query default image/x-dpx gives '$out'"
echo "xdg-mime query default image/x-dpx: $out"

stage "dpkg -r karvelin"
dpkg -r karvelin >/dev/null
left=()
while read -r path; do
    [ -d "$path" ] && continue
    { [ -e "$path" ] || [ -L "$path" ]; } && left+=("$path")
done <<<"$installed"
for dir in "${new_dirs[@]}"; do
    [ -e "$dir" ] && left+=("$dir/")
done
[ ${#left[@]} -eq 0 ] || fail "left behind after dpkg -r: ${left[*]}"
if grep -rlF karvelin /usr/share/applications /usr/share/mime 2>/dev/null; then
    fail "the desktop or MIME database still names karvelin after dpkg -r"
fi
out=$(mime_default || true)
[ "$out" != karvelin.desktop ] || fail "image/x-dpx still opens with karvelin.desktop after dpkg -r"
rm -rf "$empty_home"

# Only the postrm is kept for a purge; purging leaves dpkg without any trace.
dpkg --purge karvelin >/dev/null
trap - EXIT
if known_to_dpkg; then fail "dpkg still knows karvelin after --purge"; fi
stage "package stage passed: installed, checked, removed, nothing left behind"
