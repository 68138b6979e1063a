#!/usr/bin/env bash
# Tests of the browser board: the server's game logic and HTTP interface
# against a scripted brain, then the page itself in headless Chromium against
# the real engine, whose per-depth lines and YXSTOP its analysis steps need
# (screenshot of a game in progress in build/webboard-e2e.png).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --web
bash scripts/build.sh --target engine
echo "== board server"
python3 -m unittest discover -s tests/web -p 'test_server.py'
echo "== board page in headless Chromium"
# Debian's own Python: Selenium comes from its python3-selenium package.
/usr/bin/python3 tests/web/test_browser.py --engine build/pbrain-zorvan
