#!/usr/bin/env bash
# Builds the Windows brains and checks them: the 64-bit executable runs the
# protocol tests and a short self-play match under Wine, and the bench built
# with its flags gives the recorded signature; the 32-bit one cannot run on
# these machines and is checked for its format.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/dist.sh --bench
export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-${HOME:-/tmp}/.wine-zorvan}"
# First start creates the prefix; do it once outside any timed test. The
# server is then kept running for the whole run: as packaged it quits as soon
# as the last program ends, and a program starting just then can fail to start.
wine cmd /c exit >/dev/null 2>&1 || true
wineserver -w
wineserver -p
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

file dist/pbrain-zorvan.exe | grep -q "PE32 executable (console) Intel 80386" ||
  { echo "dist/pbrain-zorvan.exe is not a 32-bit x86 console program" >&2; exit 1; }
file dist/pbrain-zorvan64.exe | grep -q "PE32+ executable (console) x86-64" ||
  { echo "dist/pbrain-zorvan64.exe is not an x86-64 console program" >&2; exit 1; }
unzip -Z1 dist/pbrain-zorvan.zip | sort | tr '\n' ' ' | grep -qx "pbrain-zorvan.exe pbrain-zorvan64.exe " ||
  { echo "the zip must hold exactly the two executables at its root" >&2; exit 1; }

recorded=$(awk '$1 == "default" { print $2 }' tools/bench_signature.txt)
signature=$(wine build/zorvan-bench64.exe tools/bench_positions.txt | tr -d '\r' |
  awk '$1 == "signature" { print $2 }')
if [ "$signature" != "$recorded" ]; then
  echo "the Windows 64-bit bench gives signature '$signature', recorded $recorded" >&2
  exit 1
fi
echo "Windows 64-bit bench signature $signature matches the recorded one"

ZORVAN_SLOWDOWN=3 python3 tests/protocol/run_protocol_tests.py --engine dist/pbrain-zorvan64.exe --wrapper wine
python3 tools/match.py --engine1 "wine dist/pbrain-zorvan64.exe" --engine2 build/pbrain-zorvan \
  --rule 0 --size 15 --timeout-turn 300 --games 2 --tolerance1 250 --out build/wine-games
echo "wine tests passed"
