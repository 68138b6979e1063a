#!/usr/bin/env bash
# Sets up, builds and starts the engine; it then reads protocol commands from
# standard input. Build output goes to standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh --target engine
exec build/pbrain-zorvan
