#!/usr/bin/env bash
# Side-by-side search speed of two builds: BASE_REV and the working tree, each
# built in its own folder (Release, the flags each one ships with), their
# zorvan-bench run alternately for ROUNDS rounds. Prints every round, the best
# and the median search nodes per second of each side, their ratios and both
# signatures; fails when a signature is none of tools/bench_signature.txt's.
#
#   tools/speed_compare.sh [options] BASE_REV [ROUNDS]      (ROUNDS default 7)
#
#   BASE_REV          a commit, or "." for the working tree itself
#   --32              the 32-bit benches under qemu-i386 (indicative only)
#   --repeat N        each side searches the position set N times per round
#                     (default 1); a bench without --repeat is run N times
#   --plain           both sides with the plain flags (-O2, no LTO, no profile):
#                     against an older commit, the share of the code alone
#   --flags-only      the working tree with the plain flags against itself with
#                     the shipped flags: the share of the flags alone
#   --base-cmake ARG  extra cmake argument for the base side (repeatable),
#   --new-cmake ARG   for the working tree side; for example
#                     "--base-cmake -DZORVAN_LTO=OFF ." measures what LTO gives
#   --wall            speed by the clock, not by the processor time
#
# Speed is search nodes per second of processor time ("cpu nps" of the bench),
# which another process on the machine disturbs far less than the clock; a
# base whose bench does not print it is built with the working tree's bench
# program (its own engine and flags; its own bench if the two do not fit).
# Even so, only a ratio within one run means anything on a shared machine.
# Build folders: build-speed/ (replaced on every run); the base's sources are
# exported with git archive into a temporary folder, removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

source tools/build_rev.sh

bits=64
repeat=1
metric=cpu
base_args=()
new_args=()
positional=()
while [ $# -gt 0 ]; do
  case "$1" in
    --32) bits=32 ;;
    --repeat) repeat="$2"; shift ;;
    --plain) base_args+=(-DZORVAN_FAST=OFF); new_args+=(-DZORVAN_FAST=OFF) ;;
    --flags-only) base_args+=(-DZORVAN_FAST=OFF); positional=(. "${positional[@]}") ;;
    --base-cmake) base_args+=("$2"); shift ;;
    --new-cmake) new_args+=("$2"); shift ;;
    --wall) metric=wall ;;
    -h | --help) usage ;;
    -*) echo "speed_compare: unknown option $1" >&2; usage ;;
    *) positional+=("$1") ;;
  esac
  shift
done
[ ${#positional[@]} -ge 1 ] && [ ${#positional[@]} -le 2 ] || usage
base_rev="${positional[0]}"
rounds="${positional[1]:-7}"
[[ "$rounds" =~ ^[1-9][0-9]*$ ]] || usage
[[ "$repeat" =~ ^[1-9][0-9]*$ ]] || usage

# The recorded signatures: a bench is right when it gives one of them (a
# commit from before the default search existed benches the classic one).
recorded=$(awk '!/^#/ && NF == 2 { print $2 }' tools/bench_signature.txt | tr '\n' ' ')
positions="$root/tools/bench_positions.txt"
target=zorvan-bench
wrapper=()
if [ "$bits" = 32 ]; then
  target=zorvan-bench32
  wrapper=(qemu-i386)
fi

work="$root/build-speed"
rm -rf "$work"
mkdir -p "$work"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# build NAME SOURCE_DIR CMAKE_ARGS...: Release build of the bench in work/NAME.
build() {
  local name="$1" src="$2"
  shift 2
  echo "building $name ($src${*:+, $*})" >&2
  release_build "$src" "$work/$name" "$work/$name.log" "$target" "$@"
}
fail_build() {
  tail -n 30 "$work/$1.log" >&2
  echo "speed_compare: the $1 build failed (log $work/$1.log)" >&2
  exit 1
}

base_bench="its own bench"
if [ "$base_rev" = "." ]; then
  base_src="$root"
  base_label="working tree"
  build base "$base_src" "${base_args[@]}" || fail_build base
else
  base_src="$tmp/base"
  base_label=$(export_rev "$base_rev" "$base_src") || exit 2
  if [ "$metric" = cpu ] && ! grep -q 'cpu nps' "$base_src/tools/bench.cpp"; then
    cp "$base_src/tools/bench.cpp" "$tmp/bench.base.cpp"
    cp tools/bench.cpp "$base_src/tools/bench.cpp"
    base_bench="the working tree's bench"
    if ! build base "$base_src" "${base_args[@]}"; then
      cp "$tmp/bench.base.cpp" "$base_src/tools/bench.cpp"
      base_bench="its own bench"
      rm -rf "$work/base"
      build base "$base_src" "${base_args[@]}" || fail_build base
    fi
  else
    build base "$base_src" "${base_args[@]}" || fail_build base
  fi
fi
build new "$root" "${new_args[@]}" || fail_build new
base_bin="$work/base/$target"
new_bin="$work/new/$target"
# Each side searches the same (the working tree's) positions.
supports() { grep -q -- "$2" "$1/tools/bench.cpp"; }
base_repeats=0
new_repeats=0
supports "$base_src" --repeat && base_repeats=1
supports "$root" --repeat && new_repeats=1
if [ "$metric" = cpu ] && ! { supports "$base_src" 'cpu nps' && supports "$root" 'cpu nps'; }; then
  metric=wall
fi
field=nps
[ "$metric" = cpu ] && field="cpu nps"

# measure BIN REPEATS_BUILTIN: prints "NPS SIGNATURE" of one round of one side.
measure() {
  local bin="$1" builtin="$2" out runs=1 args=("$positions")
  if [ "$builtin" = 1 ]; then
    args+=(--repeat "$repeat")
  else
    runs=$repeat
  fi
  local nodes_sum=0 seconds_sum=0 sig="" i
  for ((i = 0; i < runs; i++)); do
    out=$("${wrapper[@]}" "$bin" "${args[@]}") || { echo "0 failed"; return; }
    read -r nodes nps s < <(echo "$out" | awk -v field="$field" '
      $1 == "nodes" { n = $2 } $1 == "passes" { n = $5 }
      field == "nps" && $1 == "nps" { r = $2 }
      field == "cpu nps" && $1 == "cpu" && $2 == "nps" { r = $3 }
      $1 == "signature" { s = $2 }
      END { print n, r, s }')
    if [ -n "$sig" ] && [ "$s" != "$sig" ]; then s="unsteady"; fi
    sig="$s"
    nodes_sum=$((nodes_sum + nodes))
    seconds_sum=$(awk -v a="$seconds_sum" -v n="$nodes" -v r="$nps" 'BEGIN { printf "%.6f", a + n / r }')
  done
  awk -v n="$nodes_sum" -v t="$seconds_sum" -v s="$sig" 'BEGIN { printf "%d %s\n", n / t, s }'
}

echo "== speed_compare: base $base_label${base_args[*]:+ (${base_args[*]})} against the working" \
  "tree${new_args[*]:+ (${new_args[*]})}, ${bits}-bit, $rounds rounds, repeat $repeat"
echo "speed: search nodes per second of $([ "$metric" = cpu ] && echo "processor time" ||
  echo "clock time"); base measured with $base_bench"
printf '%-6s %12s %12s %9s\n' round "base" "new" new/base
base_list=()
new_list=()
ratio_list=()
base_sig=""
new_sig=""
for ((r = 1; r <= rounds; r++)); do
  # Alternate which side goes first, so that a drift of the machine's load
  # within a round does not always favour the same side.
  if ((r % 2)); then
    read -r b bs < <(measure "$base_bin" "$base_repeats")
    read -r n ns < <(measure "$new_bin" "$new_repeats")
  else
    read -r n ns < <(measure "$new_bin" "$new_repeats")
    read -r b bs < <(measure "$base_bin" "$base_repeats")
  fi
  [ -z "$base_sig" ] || [ "$bs" = "$base_sig" ] || bs="unsteady"
  [ -z "$new_sig" ] || [ "$ns" = "$new_sig" ] || ns="unsteady"
  base_sig="$bs"
  new_sig="$ns"
  ratio=$(awk -v a="$n" -v b="$b" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')
  printf '%-6s %12s %12s %9s\n' "$r" "$b" "$n" "$ratio"
  base_list+=("$b")
  new_list+=("$n")
  ratio_list+=("$ratio")
done

best() { printf '%s\n' "$@" | sort -g | tail -n 1; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
base_best=$(best "${base_list[@]}")
new_best=$(best "${new_list[@]}")
base_median=$(median "${base_list[@]}")
new_median=$(median "${new_list[@]}")
echo
printf '%-10s %12s %12s %12s\n' "" best median signature
printf '%-10s %12s %12.0f %12s\n' base "$base_best" "$base_median" "$base_sig"
printf '%-10s %12s %12.0f %12s\n' new "$new_best" "$new_median" "$new_sig"
awk -v nb="$new_best" -v bb="$base_best" -v nm="$new_median" -v bm="$base_median" \
  -v rm="$(median "${ratio_list[@]}")" 'BEGIN {
    printf "%-10s %11.3fx %11.3fx   (median of the round ratios %.3fx)\n", "new/base", nb / bb, nm / bm, rm }'

status=0
for side in base new; do
  sig=$([ "$side" = base ] && echo "$base_sig" || echo "$new_sig")
  if [[ " $recorded" != *" $sig "* ]]; then
    echo "FAIL: the $side signature $sig is none of the recorded ones ($recorded)" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "both signatures are recorded ones ($recorded)"
exit "$status"
