#!/usr/bin/env bash
# Builds and tests the 64-bit engine under a sanitizer:
#   scripts/sanitize.sh address   AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/sanitize.sh thread    ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-address}"
bash scripts/setup.sh
dir="build-$kind"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVAN_SANITIZE="$kind" -DZORVAN_WERROR=ON >&2
cmake --build "$dir" -j"$(nproc)" >&2
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
cd "$dir"
ctest --output-on-failure -j2
