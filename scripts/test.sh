#!/usr/bin/env bash
# Sets up, builds everything and runs every test of both deliverables:
#   1. the bench signature of the 64-bit and 32-bit builds
#   2. refereed self-play, 64-bit against 32-bit, every rule
#   3. the Windows brains under Wine
#   4. sanitizers, the protocol fuzzer and the memory check
#   5. the unit and protocol tests of both deliverables (ctest)
#   6. the browser board: its server's tests and the page in headless Chromium
# Any failure stops the run with a non-zero status.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --windows
echo "== formatting"
clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.h')
bash scripts/build.sh
echo "== bench signature"
bash scripts/check_bench.sh build
echo "== self-play"
bash scripts/selfplay.sh build
echo "== Windows builds under Wine"
bash scripts/wine_tests.sh
echo "== hardening"
bash scripts/hardening.sh
echo "== unit and protocol tests"
cd build
ctest --output-on-failure -j2
echo "== browser board"
bash ../scripts/web_tests.sh
