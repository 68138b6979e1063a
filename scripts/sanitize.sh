#!/usr/bin/env bash
# Builds and tests the 64-bit engine under a sanitizer:
#   scripts/sanitize.sh address   AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/sanitize.sh thread    ThreadSanitizer
# Options after the kind:
#   --no-test        build only
#   --filter REGEX   run only the ctest tests whose names match REGEX
#   --target NAME    build only this target (repeatable; default: everything)
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-address}"
shift || true
run_tests=1
filter=""
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-test) run_tests=0 ;;
    --filter) filter="$2"; shift ;;
    --target) targets+=(--target "$2"); shift ;;
    *) echo "sanitize.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
bash scripts/setup.sh
dir="build-$kind"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVAN_SANITIZE="$kind" -DZORVAN_WERROR=ON >&2
cmake --build "$dir" -j"$(nproc)" "${targets[@]}" >&2
[ "$run_tests" = 1 ] || exit 0
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
# Sanitized engines are slower: protocol tests scale their waits by this.
export ZORVAN_SLOWDOWN="${ZORVAN_SLOWDOWN:-3}"
# Tests that cannot run under a sanitizer (an address-space limit, which the
# sanitizers' shadow memory exceeds by far) skip themselves when this is set.
export ZORVAN_SANITIZER="$kind"
cd "$dir"
if [ -n "$filter" ]; then
  ctest --output-on-failure -j2 -R "$filter"
else
  ctest --output-on-failure -j2
fi
