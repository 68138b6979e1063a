#!/usr/bin/env bash
# Builds the engine with its stop tests instrumented and measures the longest
# stretch without a stop test on the bench positions, 64-bit and, under
# qemu-i386, 32-bit. The instrumented objects go to BUILD_DIR/stop-gaps/ and
# never into the deliverables.
#
#   tools/stop_gaps.sh [BUILD_DIR] [THINK_MS]     (defaults: build, 1000)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
think_ms="${2:-1000}"
out="$build/stop-gaps"
mkdir -p "$out"
sources=$(ls board/*.cpp rules/*.cpp search/*.cpp protocol/*.cpp | grep -v protocol/engine_main.cpp)
flags="-std=c++17 -O2 -DNDEBUG -DZORVAN_STOP_GAPS -I. -pthread"
# shellcheck disable=SC2086
g++ $flags $sources tools/stop_gaps.cpp -o "$out/zorvan-stop-gaps"
# shellcheck disable=SC2086
g++ $flags -m32 -msse2 -mfpmath=sse -static $sources tools/stop_gaps.cpp -o "$out/zorvan-stop-gaps32"
echo "== 64-bit"
"$out/zorvan-stop-gaps" tools/bench_positions.txt "$think_ms"
echo "== 32-bit (qemu-i386)"
qemu-i386 "$out/zorvan-stop-gaps32" tools/bench_positions.txt "$think_ms"
