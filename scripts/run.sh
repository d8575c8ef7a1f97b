#!/usr/bin/env bash
# Installs what is missing, builds the viewer (Release, build/release) and starts it.
#   scripts/run.sh            opens a generated 3840x2160 demo sequence
#   scripts/run.sh FRAME      opens the sequence FRAME belongs to
#   scripts/run.sh --virtual-display [FRAME]
#                             the same inside a virtual X server (Xvfb, installed
#                             when missing), for a machine without a display; the
#                             window there cannot be seen
# The demo (20 DPX frames, about 1 GB) is written once into
# ${XDG_CACHE_HOME:-~/.cache}/karvelin/demo and reused afterwards.
set -euo pipefail
self=$0
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

virtual=0
if [ "${1:-}" = --virtual-display ]; then
    virtual=1
    shift
fi

# Checked before anything is installed, built or written: without a display
# the viewer could only fail after the build and the 1 GB demo, and with Qt's
# advice, which does not apply. --help and --version need no window.
# xvfb-run's own screen is 8 bits deep, on which Qt cannot paint the window:
# the virtual screen is named with 24 bits.
screen="-screen 0 1920x1200x24"
if [ $virtual = 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] &&
   [ "$*" != --help ] && [ "$*" != --version ]; then
    echo "run: no display (DISPLAY and WAYLAND_DISPLAY are unset); as root run" \
         "'apt-get install xvfb xauth', then run 'xvfb-run -a -s \"$screen\" $self'," \
         "or run '$self --virtual-display', which does both" >&2
    exit 1
fi

if [ $virtual = 1 ]; then
    scripts/install-deps.sh build run xvfb
else
    scripts/install-deps.sh build run
fi

# Every option the viewer's build depends on is set here, whatever an earlier
# configure cached; the tests build in folders of their own (scripts/test.sh).
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKARVELIN_TESTS=OFF \
      -DKARVELIN_BENCH=OFF -DKARVELIN_QT=ON -DKARVELIN_SANITIZE=OFF -DKARVELIN_FUZZ=OFF >/dev/null
# Everything this folder builds (the viewer, the generator, the manual pages),
# so that `cmake --install build/release` and cpack find all they install.
cmake --build build/release -j "$(nproc)"
viewer=build/release/ui/qt/karvelin

start() {
    if [ $virtual = 1 ]; then
        echo "run: the viewer runs on a virtual display (Xvfb); its window cannot be seen, Ctrl+C ends it" >&2
        exec xvfb-run -a -s "$screen" "$viewer" "$@"
    fi
    exec "$viewer" "$@"
}

if [ $# -gt 0 ]; then
    # The viewer reads its options first and joins the words after them into
    # one path, so a name with spaces may be given quoted or not.
    start "$@"
fi

demo=${XDG_CACHE_HOME:-$HOME/.cache}/karvelin/demo
first=$demo/demo_0000.dpx
if [ ! -f "$demo/complete" ]; then
    frames=20
    frame_bytes=$((3840 * 2160 * 6 + 2048))
    mkdir -p "$(dirname "$demo")"
    # Fewer frames when the disk is short of space, but never fill it.
    avail=$(( $(df -Pk "$(dirname "$demo")" | awk 'NR==2 {print $4}') * 1024 ))
    while [ "$frames" -gt 2 ] && [ $((frames * frame_bytes + 256 * 1024 * 1024)) -gt "$avail" ]; do
        frames=$((frames - 2))
    done
    echo "Writing the demo sequence ($frames frames of 3840x2160) to $demo ..."
    # Written in place: the marker file, made last, says the sequence is whole,
    # so a run cut short is written again next time.
    rm -rf "$demo"
    build/release/tools/karvelin-mkseq --out "$demo" --name demo_ --size 3840x2160 \
        --count "$frames" --digits 4
    touch "$demo/complete"
fi
start "$first"
