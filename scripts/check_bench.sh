#!/usr/bin/env bash
# Runs the bench signature of both searches (classic and default) with both
# word sizes and compares each with the one recorded for it in
# tools/bench_signature.txt. The 32-bit bench runs under qemu-i386 (slow:
# expect it to take several times the 64-bit run).
#
#   scripts/check_bench.sh [build-dir]      (default: build)
#
# Fails when a bench is missing, when the two builds disagree (the search left
# exact integer arithmetic somewhere) or when a signature differs from the
# recorded one (the search now visits a different tree: if that is intended,
# record the new value; the classic one must never move).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
positions=tools/bench_positions.txt
recorded_of() {
    awk -v name="$1" '$1 == name { print $2 }' tools/bench_signature.txt
}

for exe in "$build/zorvan-bench" "$build/zorvan-bench32"; do
    if [ ! -x "$exe" ]; then
        echo "missing $exe (build the zorvan-bench and zorvan-bench32 targets)" >&2
        exit 1
    fi
done

signature_of() {
    awk '$1 == "signature" { print $2 }'
}

status=0
for search in classic default; do
    recorded=$(recorded_of "$search")
    if [ -z "$recorded" ]; then
        echo "FAIL: no $search signature in tools/bench_signature.txt" >&2
        exit 1
    fi
    echo "== $search search, 64-bit"
    out64=$("$build/zorvan-bench" "$positions" --search "$search")
    echo "$out64"
    sig64=$(echo "$out64" | signature_of)

    echo "== $search search, 32-bit (qemu-i386)"
    out32=$(qemu-i386 "$build/zorvan-bench32" "$positions" --search "$search")
    echo "$out32"
    sig32=$(echo "$out32" | signature_of)

    if [ -z "$sig64" ] || [ -z "$sig32" ]; then
        echo "FAIL: a $search bench printed no signature" >&2
        exit 1
    fi
    if [ "$sig64" != "$sig32" ]; then
        echo "FAIL: $search: 64-bit signature $sig64 differs from 32-bit signature $sig32" >&2
        status=1
    elif [ "$sig64" != "$recorded" ]; then
        echo "FAIL: $search: signature $sig64 differs from the recorded $recorded" \
            "(tools/bench_signature.txt)" >&2
        status=1
    else
        echo "$search bench signature $sig64 matches on both builds"
    fi
done
exit "$status"
