#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   1. the normal (optimised) build and its tests (build/test),
#   2. the core tests once more under Valgrind memcheck (uninitialised reads,
#      which AddressSanitizer does not see),
#   3. the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (with detect_leaks=1 LeakSanitizer checks every test process for leaks),
#   4. the tests that decode frames on several threads at once (the format
#      seam, the comparison's metrics) and those of the scopes' thread, built
#      with ThreadSanitizer,
#   5. the Windows program cross-built with mingw-w64 and tested under Wine,
#      leaving the Windows zip,
#   6. the Debian package built from the Release build and checked with lintian;
#      as root it is installed, checked and removed (scripts/test-package.sh).
# A passing run ends with what it left out and why, so that green never hides
# a test that did not run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build test
jobs=$(nproc)

# What this run leaves out, a line each; the stage scripts add their own lines
# through KARVELIN_LEFT_OUT.
left_out=$(mktemp)
trap 'rm -f "$left_out"' EXIT
export KARVELIN_LEFT_OUT=$left_out
leave_out() { printf '  %s\n' "$*" >>"$left_out"; }

# The test cases a stage's ctest run skipped and did not pass in another of its
# tests (the Windows tests run twice, once per code page), with the reason each
# gave, and the parts a test left out on its own ("skipped, ..." lines).
note_skips() {
    local log=$1/Testing/Temporary/LastTest.log
    [ -f "$log" ] || return 0
    tr -d '\r' <"$log" | awk -v stage="$2" '
        /^[0-9]+\/[0-9]+ Testing: / { test = $3 }
        /: Skipped$/ { getline reason; next }
        /^skipped, / { part[++parts] = stage ": " test ": " $0; next }
        /^\[  SKIPPED \] [^ ]+ \([0-9]+ ms\)$/ {
            if (!($4 in why)) { order[++n] = $4; why[$4] = reason == "" ? "no reason given" : reason }
            reason = ""
        }
        /^\[       OK \] [^ ]+ \([0-9]+ ms\)$/ { passed[$4] = 1 }
        END {
            for (i = 1; i <= n; i++)
                if (!(order[i] in passed)) printf "  %s: %s: %s\n", stage, order[i], why[order[i]]
            for (i = 1; i <= parts; i++) printf "  %s\n", part[i]
        }' >>"$left_out"
}

# A test that configure registers only when the machine allows it (grep reads
# the whole list: ctest cut short would fail the pipe).
expect_test() {
    ctest --test-dir "$1" -N | grep -E "Test +#[0-9]+: $2\$" >/dev/null || leave_out "$3"
}

# Every option a stage depends on is set here, whatever an earlier configure of
# the same folder cached, and the tests have folders of their own: the viewer's
# build/release (scripts/run.sh) is configured without them. A configure that
# builds no test fails (--no-tests=error) instead of passing on nothing.
options=(-DKARVELIN_TESTS=ON -DKARVELIN_QT=ON -DKARVELIN_FUZZ=OFF -DKARVELIN_TSAN=OFF)

echo "== Release build and tests"
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Release "${options[@]}" -DKARVELIN_BENCH=ON \
      -DKARVELIN_SANITIZE=OFF >/dev/null
cmake --build build/test -j "$jobs"
ctest --test-dir build/test --output-on-failure --no-tests=error -j "$jobs"
note_skips build/test "Release tests"
expect_test build/test qt_real_window \
    "Release tests: qt_real_window and qt_real_window_pan: xvfb-run, xdotool or import was missing at configure"

echo "== Core tests under Valgrind memcheck"
# ReadingFramesAllocatesNothing counts calls to the C allocator through its own
# malloc, which Valgrind replaces with its own: the count cannot be taken there.
nice valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,possible \
    --suppressions=tests/hostile/valgrind.supp \
    build/test/tests/core_tests --gtest_brief=1 --gtest_filter=-DpxReader.ReadingFramesAllocatesNothing
leave_out "Valgrind: DpxReader.ReadingFramesAllocatesNothing: Valgrind replaces the allocator whose calls it counts"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" -DKARVELIN_BENCH=OFF \
      -DKARVELIN_SANITIZE=ON >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure --no-tests=error -j "$jobs"
note_skips build/asan "ASan/UBSan"

echo "== ThreadSanitizer build of the tests that decode on several threads at once, and of the scopes' thread"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKARVELIN_TESTS=ON -DKARVELIN_QT=OFF \
      -DKARVELIN_BENCH=OFF -DKARVELIN_SANITIZE=OFF -DKARVELIN_FUZZ=OFF -DKARVELIN_TSAN=ON >/dev/null
cmake --build build/tsan -j "$jobs" --target formats_tests scopes_tests compare_tests ui_tests cache_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/tests/formats_tests --gtest_brief=1
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/tests/scopes_tests --gtest_brief=1
# The metrics of a frame pair on several threads, the metrics worker, and the
# window comparing two sequences while that worker runs beside it.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/tests/compare_tests --gtest_brief=1
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/tests/ui_tests --gtest_brief=1 \
    --gtest_filter='WindowCompare.*:PlayInTime.*'
# The cache of decoded frames: its workers beside the thread that takes frames.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/tests/cache_tests --gtest_brief=1

echo "== Windows build (mingw-w64) and its tests under Wine"
scripts/test-windows.sh
note_skips build/win-x86_64 "Wine"
expect_test build/win-x86_64 win32_tests_cp932 "Wine: win32_tests_cp932, the Shift-JIS file name tests: \
no ja_JP.UTF-8 locale (as root run: localedef -i ja_JP -f UTF-8 ja_JP.UTF-8)"

echo "== Debian package"
scripts/test-package.sh build/test

echo "== Left out of this run"
leave_out "Not part of this command: the fuzzers (scripts/fuzz.sh), the soak run (scripts/soak.sh)," \
    "the benchmarks (built in build/test, run by scripts/perf-report.sh)"
cat "$left_out"
