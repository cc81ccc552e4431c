#!/usr/bin/env bash
# Installs the dependencies, then builds and runs every test three times:
# a plain optimised build, an AddressSanitizer + UndefinedBehaviorSanitizer
# build, and a ThreadSanitizer build for the threaded tests.
# Build trees go under build/ (override with BUILD_ROOT).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${SKIP_INSTALL:-0}" != 1 ]; then
  bash scripts/install-deps.sh
fi

root=${BUILD_ROOT:-build}
jobs=$(nproc)

echo "== release build =="
cmake -S . -B "$root/release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/release" -j "$jobs"
ctest --test-dir "$root/release" -j "$jobs" --output-on-failure

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
cmake -S . -B "$root/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORAV_SANITIZE=ON -DVORAV_BUILD_BENCH=OFF
cmake --build "$root/asan" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/asan" -j "$jobs" --output-on-failure

echo "== ThreadSanitizer build (threaded tests) =="
cmake -S . -B "$root/tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVORAV_TSAN=ON -DVORAV_BUILD_BENCH=OFF
cmake --build "$root/tsan" -j "$jobs" --target vorav_threaded_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir "$root/tsan" -j "$jobs" --output-on-failure -L threaded --no-tests=ignore
