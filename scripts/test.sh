#!/usr/bin/env bash
# Sets up, builds everything and runs every test of both deliverables.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cd build
ctest --output-on-failure -j2
