#!/usr/bin/env bash
# Self-play check: the 64-bit brain against the 32-bit one (run under
# qemu-i386) in every rule, refereed by tools/match.py. Fails on any crash,
# illegal or forbidden move, time loss or protocol error. Short moves keep the
# whole run within a few minutes.
#
#   scripts/selfplay.sh [BUILD_DIR]     (default build/, as scripts/build.sh makes it)
#
# The games' moves are written under BUILD_DIR/selfplay/.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
e64="$build/pbrain-zorvan"
e32="$build/pbrain-zorvan32"
for f in "$e64" "$e32"; do
  [ -x "$f" ] || { echo "selfplay: $f is missing (run scripts/build.sh)" >&2; exit 2; }
done
out="$build/selfplay"
rm -rf "$out"
mkdir -p "$out"

failed_runs=0
# name, then match.py options. Each pair of games shares an opening, colours
# swapped; the runs start at different openings so every one is played.
run() {
  local name="$1"
  shift
  echo "== $name"
  if ! python3 tools/match.py "$e64" "qemu-i386 $e32" --out "$out/$name" "$@" |
      tee "$out/$name.log"; then
    failed_runs=$((failed_runs + 1))
  fi
}
run freestyle-15 --rule freestyle --size 15 --timeout-turn 100 --games 6 --first-opening 1
run standard-15 --rule standard --size 15 --timeout-turn 100 --games 6 --first-opening 3
run renju-15 --rule renju --size 15 --timeout-turn 100 --games 6 --first-opening 5
run freestyle-20 --rule freestyle --size 20 --timeout-turn 100 --games 6 --first-opening 7

# One closing line for the whole run: the sum of the matches' own.
total_passed=0
total_failed=0
for log in "$out"/*.log; do
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1 || true)
  if [ -z "$line" ]; then
    total_failed=$((total_failed + 1))  # a match that ended without its summary
    continue
  fi
  set -- $line
  total_passed=$((total_passed + $1))
  total_failed=$((total_failed + $3))
done
echo
echo "$total_passed passed, $total_failed failed"
[ "$failed_runs" -eq 0 ] && [ "$total_failed" -eq 0 ]
