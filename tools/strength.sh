#!/usr/bin/env bash
# The project's strength check: the working tree's engine against a commit's,
# or against itself under other INFO settings, over the four rule and board
# pairs (15x15 freestyle, standard and Renju, 20x20 freestyle) from their
# balanced openings, refereed by tools/match.py, two games at a time. Prints
# every game, the working tree's score and Elo difference with its 95%
# interval, overall and per rule and board, and keeps the records and
# summary.json of the run.
#
#   tools/strength.sh [options] BASE
#
#   BASE              a commit to play against, or "." for the working tree
#                     itself (then give the sides different settings)
#   --time MS         time per move (default 200)
#   --games N         games in all, spread evenly over the four pairs
#                     (default 400); with --sprt the most it may play
#   --sprt E0 E1      stop as soon as a sequential test accepts E0 or E1
#   --new-info "K V"  an INFO line for the working tree's side (repeatable),
#   --base-info "K V" for the base's side; e.g. ". --base-info 'search classic'"
#   --concurrency N   games at once (default 2: one a processor)
#   --only RULE:SIZE  play only this pair (repeatable), e.g. renju:15
#   --out DIR         where the records go (default build-strength/run-TIME)
#   --match ARG       an extra option for tools/match.py (repeatable)
#
# Builds: the working tree's engine in build-strength/new, the base's in
# build-strength/base (its sources exported with git archive), each with the
# flags it ships with. Exit status: match.py's (1 when any game failed).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

source tools/build_rev.sh

time_ms=200
games=400
concurrency=2
out=""
match_args=()
variants=()
positional=()
while [ $# -gt 0 ]; do
  case "$1" in
    --time) time_ms="$2"; shift ;;
    --games) games="$2"; shift ;;
    --sprt) match_args+=(--sprt "$2" "$3"); shift 2 ;;
    --new-info) match_args+=(--info1 "$2"); shift ;;
    --base-info) match_args+=(--info2 "$2"); shift ;;
    --concurrency) concurrency="$2"; shift ;;
    --only) variants+=(--variant "$2"); shift ;;
    --out) out="$2"; shift ;;
    --match) match_args+=("$2"); shift ;;
    -h | --help) usage ;;
    -*) echo "strength: unknown option $1" >&2; usage ;;
    *) positional+=("$1") ;;
  esac
  shift
done
[ ${#positional[@]} -eq 1 ] || usage
base_rev="${positional[0]}"
[ ${#variants[@]} -gt 0 ] ||
  variants=(--variant freestyle:15 --variant standard:15 --variant renju:15 --variant freestyle:20)

work="$root/build-strength"
mkdir -p "$work"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

build_engine() {
  echo "building $1 engine ($2)" >&2
  if ! release_build "$2" "$work/$1" "$work/$1.log" engine; then
    tail -n 30 "$work/$1.log" >&2
    echo "strength: the $1 build failed (log $work/$1.log)" >&2
    exit 1
  fi
}
build_engine new "$root"
new_label="working tree"
base_bin="$work/new/pbrain-zorvan"
base_label="working tree"
if [ "$base_rev" != "." ]; then
  base_label=$(export_rev "$base_rev" "$tmp/base") || exit 2
  build_engine base "$tmp/base"
  base_bin="$work/base/pbrain-zorvan"
fi
[ -n "$out" ] || out="$work/run-$(date +%Y%m%d-%H%M%S)"
echo "== strength: $new_label against $base_label, $time_ms ms a move, up to $games games," \
  "$concurrency at once; records in $out"
python3 tools/match.py "$work/new/pbrain-zorvan" "$base_bin" --name1 new --name2 base \
  --timeout-turn "$time_ms" --games "$games" --concurrency "$concurrency" --out "$out" \
  "${variants[@]}" "${match_args[@]}"
