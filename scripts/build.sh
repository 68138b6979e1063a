#!/usr/bin/env bash
# Configures and builds Zorvan into build/ (both deliverables, tools, tests).
# Extra arguments go to the build step (for example a target name).
set -euo pipefail
cd "$(dirname "$0")/.."
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZORVAN_WERROR=$werror >&2
cmake --build build -j"$(nproc)" "$@" >&2
