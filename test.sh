#!/usr/bin/env bash
# Sets up, builds (Release and ASan+UBSan) and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
jobs=$(nproc)

echo "== Shape (headless engine, layers, format, named sources) =="
scripts/check_shape.sh

build_and_test() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

echo "== Release =="
# Warnings fail the Release build (the sanitizers' builds may warn where the
# optimiser sees through their checks).
build_and_test build -DCMAKE_BUILD_TYPE=Release -DTORQA_WERROR=ON
echo "== ASan+UBSan =="
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  build_and_test build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORQA_SANITIZE=ON
echo "== ThreadSanitizer (tests labelled audio-thread or loader-thread) =="
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORQA_TSAN=ON >/dev/null
# Only the tests with a second thread need this build.
cmake --build build-tsan -j "$jobs" --target output_thread_tests output_cli_tests unit_loader_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -L "audio-thread|loader-thread" -j "$jobs"
echo "== Fuzz (libFuzzer, 30 s per target; TORQA_SKIP_FUZZ=1 skips) =="
if [ "${TORQA_SKIP_FUZZ:-0}" != 1 ]; then
  tests/fuzz/run_targets.sh --time 30 --jobs "$jobs"
fi
