#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#   1. the normal (optimised) build and its tests (build/test),
#   2. the core tests once more under Valgrind memcheck (uninitialised reads,
#      which AddressSanitizer does not see),
#   3. the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (with detect_leaks=1 LeakSanitizer checks every test process for leaks),
#   4. the tests that decode frames on several threads at once, built with
#      ThreadSanitizer,
#   5. the Windows program cross-built with mingw-w64 and tested under Wine,
#      leaving the Windows zip,
#   6. the Debian package built from the Release build and checked with lintian;
#      as root it is installed, checked and removed (scripts/test-package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build test
jobs=$(nproc)

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

echo "== Core tests under Valgrind memcheck"
# ReadingFramesAllocatesNothing counts calls to the C allocator through its own
# malloc, which Valgrind replaces with its own: the count cannot be taken there.
nice valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,possible \
    --suppressions=tests/hostile/valgrind.supp \
    build/test/tests/core_tests --gtest_brief=1 --gtest_filter=-DpxReader.ReadingFramesAllocatesNothing

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" -DKARVELIN_BENCH=OFF \
      -DKARVELIN_SANITIZE=ON >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure --no-tests=error -j "$jobs"

echo "== ThreadSanitizer build of the tests that decode on several threads at once"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKARVELIN_TESTS=ON -DKARVELIN_QT=OFF \
      -DKARVELIN_BENCH=OFF -DKARVELIN_SANITIZE=OFF -DKARVELIN_FUZZ=OFF -DKARVELIN_TSAN=ON >/dev/null
cmake --build build/tsan -j "$jobs" --target formats_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/tests/formats_tests --gtest_brief=1

echo "== Windows build (mingw-w64) and its tests under Wine"
scripts/test-windows.sh

echo "== Debian package"
scripts/test-package.sh build/test
