#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 (AddressSanitizer and
# UndefinedBehaviorSanitizer included) and runs each one in turn.
#
#   scripts/fuzz.sh [-t SECONDS] [-m] [TARGET...]
#     -t SECONDS  time per target (default 600)
#     -m          afterwards, merge the inputs that add coverage into the
#                 committed corpus (tests/fuzz/corpus/TARGET)
#     TARGET      dpx, planar, pattern, window (default: every target built)
#
# New inputs collect in build/fuzz/corpus/TARGET; crashes are written to
# build/fuzz/crashes/ and must become files of the committed corpus, listed in
# tests/fuzz/README.md with what they broke.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=600
merge=0
while getopts "t:m" opt; do
    case "$opt" in
        t) seconds=$OPTARG ;;
        m) merge=1 ;;
        *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))

build=build/fuzz
CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKARVELIN_FUZZ=ON \
    -DKARVELIN_BENCH=OFF -DKARVELIN_QT=OFF >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    # Read whole first: grep -q leaving a pipe early would fail it under
    # pipefail, and every target would be skipped without a word.
    built=$(cmake --build "$build" --target help)
    for t in dpx planar pattern window; do
        if grep -q "fuzz_$t\$" <<<"$built"; then targets+=("$t"); fi
    done
fi
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz: no fuzz target was built in $build" >&2
    exit 1
fi

# Longest input per target: a DPX needs its 780-byte header and some pixels; a
# path may be longer than the 4096-byte path buffer.
max_len() {
    case "$1" in
        dpx) echo 4096 ;;
        pattern) echo 4200 ;;
        *) echo 2048 ;;
    esac
}

status=0
for t in "${targets[@]}"; do
    cmake --build "$build" -j 2 --target "fuzz_$t"
    mkdir -p "$build/corpus/$t" "$build/crashes"
    echo "== fuzz_$t for ${seconds}s"
    # The first folder receives new inputs; the committed corpus seeds the run.
    if ! nice "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$t-" "$build/corpus/$t" "tests/fuzz/corpus/$t"; then
        echo "fuzz_$t found a failure; see $build/crashes/"
        status=1
    fi
    if [ "$merge" = 1 ]; then
        # Edges only (no hit counts): keeps the committed corpus to a few dozen files.
        nice "$build/tests/fuzz/fuzz_$t" -merge=1 -use_counters=0 -max_len="$(max_len "$t")" \
            "tests/fuzz/corpus/$t" "$build/corpus/$t"
    fi
done
exit $status
