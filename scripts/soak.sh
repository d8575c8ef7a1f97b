#!/usr/bin/env bash
# Soak run: plays a 200-frame 3840x2160 DPX sequence through the window logic,
# built with AddressSanitizer + UndefinedBehaviorSanitizer, at step +10 and -10,
# through every size and with the colour conversion toggled, while frames are
# replaced, relinked and cut short on disk. Fails on any sanitizer report, error
# box, inconsistent display, or growth of the heap or the resident size.
#
#   scripts/soak.sh [-t SECONDS] [-d WORKDIR]
#     -t SECONDS  how long to play (default 300)
#     -d WORKDIR  where the frames go (default: a new folder under /tmp)
#
# Disk: 200 frames of 50 MB would be 10 GB, so the sequence is 8 generated
# frames under 200 names (hard links, frame n -> source n % 8); the replacer
# writes whole copies into at most 16 of the names, so the folder stays under
# about 1.2 GB.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=300
work=""
while getopts "t:d:" opt; do
    case "$opt" in
        t) seconds=$OPTARG ;;
        d) work=$OPTARG ;;
        *) exit 2 ;;
    esac
done
if [ -z "$work" ]; then work=$(mktemp -d /tmp/karvelin-soak-XXXXXX); fi
mkdir -p "$work/src" "$work/seq"
replacer=""
cleanup() {
    if [ -n "$replacer" ]; then kill "$replacer" 2>/dev/null || true; wait "$replacer" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

echo "== building (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKARVELIN_SANITIZE=ON \
      -DKARVELIN_BENCH=OFF >/dev/null
nice cmake --build build/asan -j 2 --target hostile_tests karvelin-mkseq

echo "== generating 8 frames of 3840x2160 in $work/src"
build/asan/tools/karvelin-mkseq -o "$work/src" -n src_ -s 3840x2160 -c 8 -d 4
for n in $(seq 0 199); do
    ln "$work/src/src_$(printf %04d $((n % 8))).dpx" "$work/seq/clip_$(printf %04d "$n").dpx"
done

# Frames 0..198 are replaced while the sequence plays; 199 is left alone.
(
    RANDOM=7
    while :; do
        n=$(printf %04d $((RANDOM % 199)))
        k=$(printf %04d $((RANDOM % 8)))
        target="$work/seq/clip_$n.dpx"
        case $((RANDOM % 4)) in
            0) ln -f "$work/src/src_$k.dpx" "$target" ;;          # relinked to another frame
            1) if [ $((10#$n)) -lt 16 ]; then                     # a whole new copy, renamed in
                   cp "$work/src/src_$k.dpx" "$work/seq/.incoming"
                   mv -f "$work/seq/.incoming" "$target"
               fi ;;
            2) head -c $((RANDOM * 60)) "$work/src/src_$k.dpx" > "$work/seq/.incoming"
               mv -f "$work/seq/.incoming" "$target" ;;          # cut short
            3) rm -f "$target"; sleep 0.05
               ln -f "$work/src/src_$k.dpx" "$target" ;;          # missing for a moment
        esac
        sleep 0.1
    done
) &
replacer=$!

echo "== playing for ${seconds}s"
start=$(date +%s)
ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=64 UBSAN_OPTIONS=print_stacktrace=1 \
KARVELIN_SOAK_FRAME="$work/seq/clip_0199.dpx" KARVELIN_SOAK_SECONDS="$seconds" \
    nice build/asan/tests/hostile/hostile_tests --gtest_also_run_disabled_tests \
    --gtest_filter='Soak.*'
echo "== soak done in $(( $(date +%s) - start ))s"
