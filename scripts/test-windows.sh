#!/usr/bin/env bash
# Builds the Windows program and tests it under Wine:
#   1. karvelin.exe for i686 (the shipped 32-bit program): built, then inspected
#      (PE32 GUI, no DLLs beyond the system's, menu, dialog, icon, manifest);
#      this machine cannot run 32-bit code, so it is not started; packed with
#      its README and licence into build/win-i686/karvelin-<version>-win32.zip;
#   2. the same sources for x86_64: the toolkit-free test programs and the Win32
#      tests run under wine64 (inside Xvfb, for the window and dialog tests);
#   3. the window smoke test: karvelin.exe under Xvfb and wine64, driven by xdotool,
#      and its --help message box.
# Build folders: build/win-i686 and build/win-x86_64 (each with its own Wine prefix).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)
[ "$jobs" -le 2 ] || jobs=2

for tool in i686-w64-mingw32-g++-posix x86_64-w64-mingw32-g++-posix xvfb-run xdotool import file; do
    command -v "$tool" >/dev/null || { echo "test-windows: $tool is missing (scripts/install-deps.sh test)" >&2; exit 1; }
done
wine64_bin=$(command -v wine64 || echo /usr/lib/wine/wine64)
[ -x "$wine64_bin" ] || { echo "test-windows: wine64 is missing" >&2; exit 1; }
wineserver_bin=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

started=$SECONDS
stage() { echo "== [$((SECONDS - started))s] $*"; }
# What this stage leaves out, for the summary at the end of scripts/test.sh.
leave_out() { [ -z "${KARVELIN_LEFT_OUT:-}" ] || printf '  Wine: %s\n' "$*" >>"$KARVELIN_LEFT_OUT"; }

stage "i686: cross-build karvelin.exe"
cmake -S . -B build/win-i686 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686-mingw.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DKARVELIN_TESTS=OFF >/dev/null
# The program needs the shared window logic; until it exists only the platform
# layer and the core are built and tested.
have_exe=0
targets=$(cmake --build build/win-i686 --target help)
if grep -qE '^\.\.\. karvelin( |$)' <<<"$targets"; then have_exe=1; fi
if [ $have_exe = 1 ]; then
cmake --build build/win-i686 -j "$jobs" --target karvelin
exe32=build/win-i686/ui/win32/karvelin.exe

stage "i686: inspect $exe32"
file "$exe32"
file "$exe32" | grep -q 'PE32 executable (GUI) Intel 80386' || { echo "not a PE32 i386 GUI program" >&2; exit 1; }
dlls=$(i686-w64-mingw32-objdump -p "$exe32" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "imports: $(echo $dlls)"
for dll in $dlls; do
    case "$dll" in
        kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|comdlg32.dll|shell32.dll|advapi32.dll|msvcrt.dll|winmm.dll|api-ms-win-*) ;;
        *) echo "depends on a non-system DLL: $dll" >&2; exit 1 ;;
    esac
done
rc=$(i686-w64-mingw32-windres -i "$exe32" -O rc)
for want in '"MAINMENU" MENU' 'MENUITEM "Convert to BT.709(&C)", 103' 'MENUITEM "1/4 Size(&Q)", 203, CHECKED' \
            'MENUITEM "Go to Frame...\tCtrl+G", 104' 'MENUITEM "Tick 16 ms", 301, CHECKED' 'MENUITEM "Every Frame", 321' '"MAINACCEL" ACCELERATORS' '71, 104, VIRTKEY, CONTROL' \
            '"GOTODLG" DIALOGEX' 'CAPTION "Go to Frame"' 'EDITTEXT 1002,' \
            '"ABOUTDLG" DIALOGEX 0, 0, 150, 120' 'CAPTION "About"' 'FONT 10, "Arial"' \
            'PUSHBUTTON "OK", 1, 55, 102, 40, 14' 'RT_GROUP_ICON' 'RT_MANIFEST' 'asInvoker'; do
    grep -qF -- "$want" <<<"$rc" || { echo "resources lack: $want" >&2; echo "$rc" | head -80 >&2; exit 1; }
done
echo "resources: menu and its shortcut, About and Go to Frame dialogs, icon and manifest present"

stage "i686: the zip for Windows users"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win-i686/CMakeCache.txt)
zip=build/win-i686/karvelin-$version-win32.zip
rm -f build/win-i686/karvelin-*-win32.zip
(cd build/win-i686 && nice cpack -G ZIP >cpack.log 2>&1) || { cat build/win-i686/cpack.log >&2; exit 1; }
unpacked=$(mktemp -d)
python3 -m zipfile -e "$zip" "$unpacked"
top=$unpacked/karvelin-$version-win32
listing=$(cd "$unpacked" && find . -type f | sort | tr '\n' ' ')
[ "$listing" = "./karvelin-$version-win32/LICENSE.txt ./karvelin-$version-win32/README.txt ./karvelin-$version-win32/karvelin.exe " ] ||
    { echo "the zip holds: $listing" >&2; exit 1; }
file "$top/karvelin.exe" | grep -q 'PE32 executable (GUI) Intel 80386' || { echo "the zip's karvelin.exe is not the PE32 GUI program" >&2; exit 1; }
grep -q 'MIT License' "$top/LICENSE.txt" && grep -q "Karvelin $version" "$top/README.txt" ||
    { echo "the zip's licence or README is not the project's" >&2; exit 1; }
rm -rf "$unpacked"
echo "zip: $zip ($(stat -c %s "$zip") bytes): karvelin.exe, README.txt, LICENSE.txt"
leave_out "the 32-bit karvelin.exe is inspected and packed, not started: Wine here runs 64-bit programs only" \
    "(its x86_64 build is what runs)"
else
    echo "no window logic yet: karvelin.exe is not built"
    leave_out "karvelin.exe, its zip, the window smoke test and --help: no window logic to build them from"
fi

stage "x86_64: cross-build (with the test trace hook)"
cmake -S . -B build/win-x86_64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-mingw.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DKARVELIN_TESTS=ON -DKARVELIN_TRACE_HOOK=ON >/dev/null
cmake --build build/win-x86_64 -j "$jobs"

export WINEPREFIX="$root/build/win-x86_64/wineprefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    stage "x86_64: new Wine prefix"
    KARVELIN_WINE_TIMEOUT=180 scripts/wine-run.sh wineboot --init || true
    timeout 60 "$wineserver_bin" -w || timeout 10 "$wineserver_bin" -k || true
fi

stage "x86_64: test programs under wine64 (in Xvfb)"
set +e
timeout --kill-after=10 900 xvfb-run -a sh -c \
    "ctest --test-dir build/win-x86_64 --output-on-failure --no-tests=error -j $jobs --timeout 300; rc=\$?; \
     timeout 30 '$wineserver_bin' -w || timeout 10 '$wineserver_bin' -k; exit \$rc"
rc=$?
set -e
if [ $rc -ne 0 ]; then
    timeout 10 "$wineserver_bin" -k 2>/dev/null || true
    echo "test-windows: the tests under Wine failed ($rc)" >&2
    exit 1
fi

if [ $have_exe = 1 ]; then
    stage "x86_64: window smoke test under Xvfb + wine64"
    tests/win32/gui_smoke.sh build/win-x86_64

    stage "x86_64: karvelin.exe --help answers in a box that OK closes (exit 0)"
    # The main window would stay open after Return; only the box ends the
    # program with 0 when its OK button is pressed.
    timeout --kill-after=10 120 xvfb-run -a sh -c "
        '$wine64_bin' build/win-x86_64/ui/win32/karvelin.exe --help & pid=\$!
        for i in \$(seq 1 60); do xdotool search --name '^Karvelin\$' >/dev/null 2>&1 && break; sleep 1; done
        sleep 1
        xdotool key Return
        for i in \$(seq 1 20); do kill -0 \$pid 2>/dev/null || break; sleep 1; done
        if kill -0 \$pid 2>/dev/null; then kill \$pid; rc=99; else wait \$pid; rc=\$?; fi
        timeout 20 '$wineserver_bin' -k; exit \$rc" ||
        { echo "test-windows: karvelin.exe --help did not end with 0 after OK" >&2; exit 1; }
fi

stage "Windows stage passed"
