#!/usr/bin/env bash
# Builds every deliverable into dist/: the Linux binaries, the Windows brains
# pbrain-zorvan.exe (32-bit x86) and pbrain-zorvan64.exe (x86-64), statically
# linked so they need no DLL, and pbrain-zorvan.zip laid out for a tournament
# entry (the executables at the root of the archive).
#
#   scripts/dist.sh [--bench]
#
# --bench also builds build/zorvan-bench64.exe, the bench with exactly the
# 64-bit brain's flags, which scripts/wine_tests.sh runs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bench=0
[ "${1:-}" = "--bench" ] && bench=1
bash scripts/setup.sh --windows
bash scripts/build.sh --target engine engine32
mkdir -p dist
cp build/pbrain-zorvan build/pbrain-zorvan32 dist/

sources=$(ls board/*.cpp rules/*.cpp search/*.cpp protocol/*.cpp)
bench_sources="$(echo "$sources" | grep -v '^protocol/engine_main\.cpp$') tools/bench.cpp"
# Release flags as on Linux (no asserts: they would run the board checker after
# every move), and a 16 MiB stack for every thread: the search, the threat
# search and the foul test recurse, and Windows gives a thread 1 MiB by default.
# The fast flags of the Linux build, -O3 and link-time optimisation (Windows
# executables are position-dependent already). Across the whole program the
# optimiser sees a std::optional read it cannot prove initialised and warns;
# that one stays a warning here (the Linux build turns the code's own warnings
# into errors).
flags=(-std=c++17 -O3 -flto=auto -DNDEBUG -Wall -Wextra -Wshadow -I. -static -static-libgcc
  -static-libstdc++ -Wl,--stack,16777216)
[ "${CI:-}" = "true" ] && flags+=(-Werror -Wno-error=maybe-uninitialized)
# The 32-bit build uses SSE arithmetic, as the Linux 32-bit build does.
i686-w64-mingw32-g++-posix "${flags[@]}" -msse2 -mfpmath=sse $sources -o dist/pbrain-zorvan.exe &
x86_64-w64-mingw32-g++-posix "${flags[@]}" $sources -o dist/pbrain-zorvan64.exe &
wait %1
wait %2
if [ "$bench" = 1 ]; then
  x86_64-w64-mingw32-g++-posix "${flags[@]}" $bench_sources -o build/zorvan-bench64.exe
fi
i686-w64-mingw32-strip dist/pbrain-zorvan.exe
x86_64-w64-mingw32-strip dist/pbrain-zorvan64.exe

rm -f dist/pbrain-zorvan.zip
(cd dist && zip -q -j pbrain-zorvan.zip pbrain-zorvan.exe pbrain-zorvan64.exe)
ls -l dist >&2
