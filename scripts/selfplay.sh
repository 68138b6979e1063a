#!/usr/bin/env bash
# Self-play check: the 64-bit brain against the 32-bit one (run under
# qemu-i386) in every rule, both searches, refereed by tools/match.py. Fails on any crash,
# illegal or forbidden move, time loss or protocol error. Short moves keep the
# whole run within a few minutes.
#
# A busy machine can hold a brain off the processor past its limit (a 100 ms
# move answered after 156 ms while another build ran; in Renju the first move
# also clears the search tables, which takes long on a loaded machine). So a
# match whose only failures are late moves (answered, but after the limit and
# its tolerance) plays the two games of each such opening once more, with the
# tolerances widened by the measured load: a CPU-bound task that now takes k
# times its processor time gets (k - 1) x timeout_turn more. If the replay
# passes, the late move is reported and the run passes; a late move in the
# replay, a move that never comes, or any other failure fails the run. On an
# idle machine k is about 1, so a brain that is late by itself fails.
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

turn_ms=100
# match.py's own tolerances for a native brain and one under an emulator.
tolerance64=50
tolerance32=1000
failed_runs=0
forgiven=0
# slowdown: how many times its processor time a CPU-bound task takes to
# finish right now (about 1 on an idle machine; median of five short tries).
slowdown() {
  python3 -c '
import statistics, time
def once():
    wall, cpu = time.perf_counter(), time.process_time()
    while time.process_time() - cpu < 0.1:
        pass
    return (time.perf_counter() - wall) / (time.process_time() - cpu)
print("%.2f" % statistics.median(once() for _ in range(5)))'
}
# late_openings LOG: prints "OPENING FAILED_GAMES" for every opening whose
# games failed by late moves only; fails when the log holds any other failure
# or no summary (then nothing is replayed).
late_openings() {
  awk '
    /^[0-9]+ +[0-9]+ +E[12] +E[12] / { game = $1; opening = $2; next }
    /^     failure: / {
      if ($3 == "time:" && $4 == "move") {
        if (!((game, opening) in seen)) { seen[game, opening] = 1; late[opening]++ }
      } else {
        other = 1
      }
    }
    /^[0-9]+ passed, [0-9]+ failed$/ { summary = 1 }
    END {
      if (other || !summary) exit 1
      for (o in late) print o, late[o]
    }' "$1"
}
# name, then match.py options. Each pair of games shares an opening, colours
# swapped; the runs start at different openings so every one is played.
run() {
  local name="$1"
  shift
  echo "== $name"
  if python3 tools/match.py "$e64" "qemu-i386 $e32" --out "$out/$name" "$@" |
      tee "$out/$name.log"; then
    return
  fi
  local late
  if ! late=$(late_openings "$out/$name.log") || [ -z "$late" ]; then
    failed_runs=$((failed_runs + 1))
    return
  fi
  local opening games k extra
  while read -r opening games; do
    k=$(slowdown)
    extra=$(awk -v k="$k" -v t="$turn_ms" 'BEGIN { e = (k - 1) * t; printf "%d", (e > 0 ? e : 0) }')
    echo "late move in $name, opening $opening (load average $(cut -d' ' -f1-3 /proc/loadavg)," \
      "work takes ${k}x its processor time); replaying its two games once with $extra ms" \
      "more tolerance" | tee -a "$out/replays.txt"
    # The later options override the run's own.
    if python3 tools/match.py "$e64" "qemu-i386 $e32" --out "$out/$name-replay-$opening" "$@" \
        --first-opening "$opening" --games 2 --tolerance1 $((tolerance64 + extra)) \
        --tolerance2 $((tolerance32 + extra)) | tee "$out/$name-replay-$opening.replay"; then
      echo "replay of $name, opening $opening passed: the late move is put down to the" \
        "machine's load" | tee -a "$out/replays.txt"
      forgiven=$((forgiven + games))
    else
      echo "replay of $name, opening $opening failed" | tee -a "$out/replays.txt"
      failed_runs=$((failed_runs + 1))
    fi
  done <<<"$late"
}
# Both searches play: the default one everywhere, and the classic one as the
# 32-bit side in freestyle and the 64-bit side in Renju, so each search meets
# the other on both word sizes.
run freestyle-15 --rule freestyle --size 15 --timeout-turn $turn_ms --games 6 --first-opening 1 \
  --info2 "search classic"
run standard-15 --rule standard --size 15 --timeout-turn $turn_ms --games 6 --first-opening 3
run renju-15 --rule renju --size 15 --timeout-turn $turn_ms --games 6 --first-opening 5 \
  --info1 "search classic"
run freestyle-20 --rule freestyle --size 20 --timeout-turn $turn_ms --games 6 --first-opening 7

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
total_failed=$((total_failed - forgiven))
total_passed=$((total_passed + forgiven))
echo
if [ -s "$out/replays.txt" ]; then
  echo "late moves replayed:"
  sed 's/^/  /' "$out/replays.txt"
fi
echo "$total_passed passed, $total_failed failed"
[ "$failed_runs" -eq 0 ] && [ "$total_failed" -eq 0 ]
