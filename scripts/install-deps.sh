#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the viewer need.
# Usage: scripts/install-deps.sh [build|test|run|xvfb|perf]...
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# scdoc turns the manual pages into roff.
pkgs=(cmake g++ make pkg-config libgtest-dev libbenchmark-dev scdoc)
locale_wanted=0
for what in "$@"; do
    case "$what" in
        build) ;;
        run) pkgs+=(qt6-base-dev libgl-dev fonts-liberation) ;;
        # A virtual X server for the viewer on a machine without a display;
        # xvfb-run needs xauth, which xvfb only recommends.
        xvfb) pkgs+=(xvfb xauth) ;;
        test) pkgs+=(qt6-base-dev libgl-dev xvfb xauth xdotool imagemagick ffmpeg openimageio-tools
                     clang-14 libclang-rt-14-dev valgrind
                     g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
                     wine wine64 fonts-liberation file locales python3
                     dpkg-dev lintian desktop-file-utils xdg-utils shared-mime-info)
              locale_wanted=1 ;;
        # The benchmark against FFmpeg and OpenImageIO, and the report's chart.
        perf) pkgs+=(libavcodec-dev libswscale-dev libavutil-dev libopenimageio-dev
                     gnuplot-nox python3) ;;
    esac
done

# The Windows tests run once more under a Japanese system locale (double-byte
# file names); Wine needs that locale on the host to map such names to files.
need_locale=0
if [ $locale_wanted = 1 ] && ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    need_locale=1
fi
make_locale=(localedef -i ja_JP -f UTF-8 ja_JP.UTF-8)

missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ -n "$SUDO" ] && ! command -v sudo >/dev/null; then
    # Neither root nor sudo: say what root has to run, the locale included, so
    # that following the message leaves no test out.
    if [ ${#missing[@]} -gt 0 ]; then
        echo "install-deps: missing Debian packages and no sudo; as root run:" >&2
        echo "    apt-get install ${missing[*]}" >&2
        [ $need_locale = 0 ] || echo "    ${make_locale[*]}" >&2
        exit 1
    fi
    if [ $need_locale = 1 ]; then
        echo "install-deps: no ja_JP.UTF-8 locale and no sudo; the Shift-JIS tests will be left out" \
             "(as root run: ${make_locale[*]})" >&2
    fi
    exit 0
fi

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if [ $need_locale = 1 ]; then
    echo "Generating the ja_JP.UTF-8 locale"
    $SUDO "${make_locale[@]}" || echo "localedef failed; the Shift-JIS tests will be left out"
fi
