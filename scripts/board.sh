#!/usr/bin/env bash
# Starts the browser board: builds the engine when needed, then serves the
# page on 127.0.0.1 (port 8090 unless --port N is given) and prints the address
# to open. Ctrl-C stops the server and every engine it started.
#
#   scripts/board.sh [--port N] [server options, see webboard/server.py --help]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh --target engine
exec python3 webboard/server.py --engine build/pbrain-zorvan "$@"
