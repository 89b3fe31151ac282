#!/usr/bin/env bash
# CI's Windows pass, after the Linux suites: Qt and RapidCheck for Windows for both architectures
# (built once, then taken from the cache), then scripts/wine-test.sh for both (build, install,
# registration, every test program and the end-to-end run under Wine). Prints how long each stage
# took; exit code 0 only when every stage passed.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$(date +%s)
source scripts/stage.sh
trap stage_exit_trap EXIT

stage "windows setup" scripts/setup.sh --windows
for arch in x86_64 i686; do
  stage "qt for windows $arch" scripts/build-qt-windows.sh "$arch"
  stage "rapidcheck for windows $arch" scripts/build-rapidcheck-windows.sh "$arch"
done
PONDERIX_WINE_SKIP_SETUP=1 stage "wine tests" scripts/wine-test.sh x86_64 i686
echo "== Windows pass: $(($(date +%s) - started)) s"
