#!/usr/bin/env bash
# Makes sure the engine never breaks, whatever it is fed:
#   1. AddressSanitizer + UBSan build, the whole test suite, a long self-play session
#   2. ThreadSanitizer build, the protocol tests, a think-heavy fuzz session
#   3. the protocol fuzzer on the release and the ASan engine (fixed seed + a fresh one)
#   4. resident memory through many 24x24 games, 64-bit and 32-bit (qemu-i386)
# Prints a summary; exits non-zero when any step fails. Logs go to
# build-hardening/logs/.
#
# usage: scripts/hardening.sh [--quick] [--skip asan,tsan,fuzz,memory]
#        [--seed N] [--fuzz-seconds N]
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

quick=0
skip=","
fixed_seed=20261207
fuzz_seconds=45
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1; fuzz_seconds=20 ;;
    --skip) skip=",$2,"; shift ;;
    --seed) fixed_seed="$2"; shift ;;
    --fuzz-seconds) fuzz_seconds="$2"; shift ;;
    *) echo "hardening.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
fresh_seed=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')

release="$root/build-hardening"
logs="$release/logs"
mkdir -p "$logs"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

results=()
failed=0
started=$(date +%s)

# step NAME COMMAND...: runs the command with its output in logs/NAME.log,
# records PASS or FAIL with the time taken and the log's key lines.
step() {
  local name="$1"
  shift
  local log="$logs/$name.log" t0 t1 status
  t0=$(date +%s)
  echo "== $name: $*" | tee "$log"
  "$@" >>"$log" 2>&1
  status=$?
  t1=$(date +%s)
  if [ $status -eq 0 ]; then
    results+=("PASS  $name ($((t1 - t0)) s)")
  else
    results+=("FAIL  $name ($((t1 - t0)) s, status $status, log $log)")
    failed=1
    echo "---- $name failed; last lines of $log:"
    tail -n 60 "$log"
  fi
  # The figures that matter in the summary: seeds, run lengths, memory peaks.
  grep -E "^(fuzz_protocol|memory_check):|^FAIL|tests passed|tests failed" "$log" | sed 's/^/      /'
}

skipped() { case "$skip" in *",$1,"*) return 0 ;; *) return 1 ;; esac; }

bash scripts/setup.sh

# The release engines, both word sizes.
step build-release bash -c "cmake -S '$root' -B '$release' -DCMAKE_BUILD_TYPE=Release \
  -DZORVAN_WERROR=ON && cmake --build '$release' -j2 --target engine engine32"

fuzz() {  # fuzz NAME SEED SECONDS ENGINE [fuzzer options]
  local name="$1" seed="$2" seconds="$3" engine="$4"
  shift 4
  step "$name" python3 tools/fuzz_protocol.py --engine "$engine" --seed "$seed" \
    --seconds "$seconds" --minimise-seconds 60 --save-failure "$logs/$name.failure.json" "$@"
}

if ! skipped asan; then
  # The whole suite under ASan+UBSan, then two engines playing each other for
  # a long session (RSS is reported only: the sanitizer's shadow inflates it).
  step asan-suite bash scripts/sanitize.sh address
  if [ "$quick" = 1 ]; then games=2; else games=5; fi
  step asan-selfplay python3 tools/memory_check.py --engine build-address/pbrain-zorvan \
    --games $games --moves 80 --think-ms 30 --limit-mib 0 --slowdown 3
fi

if ! skipped tsan; then
  step tsan-protocol bash scripts/sanitize.sh thread --target engine --filter '^protocol64$'
  # Thinks interrupted by TURN, TAKEBACK, INFO, BOARD and END, rarely left to finish.
  fuzz tsan-think-fuzz "$fixed_seed" $((fuzz_seconds / 2 + 15)) build-thread/pbrain-zorvan \
    --profile think --slowdown 4
fi

if ! skipped fuzz; then
  fuzz fuzz-release-fixed "$fixed_seed" "$fuzz_seconds" "$release/pbrain-zorvan"
  fuzz fuzz-release-fresh "$fresh_seed" "$fuzz_seconds" "$release/pbrain-zorvan"
  fuzz fuzz-release-think "$fresh_seed" $((fuzz_seconds / 3)) "$release/pbrain-zorvan" \
    --profile think
  fuzz fuzz-release32-fixed "$fixed_seed" $((fuzz_seconds / 2)) "$release/pbrain-zorvan32" \
    --wrapper qemu-i386
  if [ -x build-address/pbrain-zorvan ]; then
    fuzz fuzz-asan-fixed "$fixed_seed" "$fuzz_seconds" build-address/pbrain-zorvan --slowdown 3
    fuzz fuzz-asan-fresh "$fresh_seed" $((fuzz_seconds / 2)) build-address/pbrain-zorvan \
      --slowdown 3
  fi
fi

if ! skipped memory; then
  if [ "$quick" = 1 ]; then games=3; else games=8; fi
  step memory-64 python3 tools/memory_check.py --engine "$release/pbrain-zorvan" \
    --games $games --moves 150 --think-ms 40 --limit-mib 256
  step memory-32 python3 tools/memory_check.py --engine "$release/pbrain-zorvan32" \
    --wrapper qemu-i386 --games $((games / 2 + 1)) --moves 120 --think-ms 40 --limit-mib 256
fi

echo
echo "== hardening summary ($(( $(date +%s) - started )) s; fuzz seeds: fixed $fixed_seed, fresh $fresh_seed)"
for r in "${results[@]}"; do echo "  $r"; done
if [ $failed -ne 0 ]; then
  echo "hardening: FAILED"
  exit 1
fi
echo "hardening: all steps passed"
