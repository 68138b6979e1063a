#!/usr/bin/env bash
# Runs the bench signature with both word sizes and compares it with the one
# recorded in tools/bench_signature.txt. The 32-bit bench runs under
# qemu-i386 (slow: expect it to take several times the 64-bit run).
#
#   scripts/check_bench.sh [build-dir]      (default: build)
#
# Fails when a bench is missing, when the two builds disagree (the search left
# exact integer arithmetic somewhere) or when the signature differs from the
# recorded one (the search now visits a different tree: if that is intended,
# record the new value).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
positions=tools/bench_positions.txt
recorded=$(grep -v '^#' tools/bench_signature.txt | tr -d '[:space:]')

for exe in "$build/zorvan-bench" "$build/zorvan-bench32"; do
    if [ ! -x "$exe" ]; then
        echo "missing $exe (build the zorvan-bench and zorvan-bench32 targets)" >&2
        exit 1
    fi
done

signature_of() {
    awk '$1 == "signature" { print $2 }'
}

echo "== 64-bit"
out64=$("$build/zorvan-bench" "$positions")
echo "$out64"
sig64=$(echo "$out64" | signature_of)

echo "== 32-bit (qemu-i386)"
out32=$(qemu-i386 "$build/zorvan-bench32" "$positions")
echo "$out32"
sig32=$(echo "$out32" | signature_of)

status=0
if [ -z "$sig64" ] || [ -z "$sig32" ]; then
    echo "FAIL: a bench printed no signature" >&2
    exit 1
fi
if [ "$sig64" != "$sig32" ]; then
    echo "FAIL: 64-bit signature $sig64 differs from 32-bit signature $sig32" >&2
    status=1
fi
if [ "$sig64" != "$recorded" ]; then
    echo "FAIL: signature $sig64 differs from the recorded $recorded (tools/bench_signature.txt)" >&2
    status=1
fi
if [ "$status" -eq 0 ]; then
    echo "bench signature $sig64 matches on both builds"
fi
exit "$status"
