#!/usr/bin/env bash
# Builds everything and runs every test: once in the Debug build, then once more with
# AddressSanitizer and UndefinedBehaviorSanitizer; then the tests that run threads (label
# "threaded") once more under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
for preset in default asan; do
  echo "=== $preset ==="
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset"
done
echo "=== tsan (threaded tests) ==="
cmake --preset tsan
cmake --build --preset tsan -j "$jobs" --target threaded_tests
ctest --preset tsan -L threaded
