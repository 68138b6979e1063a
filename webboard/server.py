#!/usr/bin/env python3
"""The board server: a page to play against Zorvan, or to watch it play itself.

Serves the page's own files and a small JSON interface; each game runs the
engine as child processes (see game.py). Only the standard library is used.

usage: server.py [--host 127.0.0.1] [--port 8090] [--engine PATH] [--max-games N]
                 [--idle-seconds S] [--tolerance MS]

The engine is given here, on the command line, never by a request.
"""

import argparse
import errno
import json
import os
import secrets
import signal
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from game import END_WAIT_S, Refused, new_game  # noqa: E402

STATIC_DIR = os.path.join(HERE, "static")
# The only files served, each under a fixed address: nothing in a request
# ever becomes part of a file name.
STATIC_FILES = {
    "/": ("index.html", "text/html; charset=utf-8"),
    "/index.html": ("index.html", "text/html; charset=utf-8"),
    "/board.js": ("board.js", "text/javascript; charset=utf-8"),
    "/board.css": ("board.css", "text/css; charset=utf-8"),
}
MAX_BODY = 16 * 1024
MAX_TARGET = 2048
MAX_POLL_S = 20.0
# Closed games are still answered for a while, so a page's last poll of a
# game it has just replaced finds it instead of an error.
CLOSED_KEPT_S = 120.0
REAP_EVERY_S = 2.0
SECURITY_HEADERS = (
    ("X-Content-Type-Options", "nosniff"),
    ("X-Frame-Options", "DENY"),
    ("Referrer-Policy", "no-referrer"),
    ("Content-Security-Policy", "default-src 'self'; img-src 'self' data:; "
                                "frame-ancestors 'none'"),
)


class BadRequest(Exception):
    def __init__(self, status, text):
        super().__init__(text)
        self.status = status
        self.text = text


class Games:
    """The table of games, with the limit on open games and the idle timeout."""

    def __init__(self, engine_command, max_games, idle_seconds, tolerance_ms):
        self.engine_command = engine_command
        self.max_games = max_games
        self.idle_seconds = idle_seconds
        self.tolerance_ms = tolerance_ms
        self.lock = threading.Lock()
        self.games = {}
        self.closed_at = {}

    def open_count(self):
        return sum(1 for g in self.games.values() if not g.closed)

    def create(self, data):
        """A new game from the page's settings; the game it replaces (if any)
        is closed only once the new one is known to be valid."""
        game = new_game(secrets.token_hex(8), data, self.engine_command, self.tolerance_ms)
        replace = data.get("replace")
        old = self.find(replace) if isinstance(replace, str) else None
        if old:
            old.close("replaced by a new game")
        with self.lock:
            self.reap_locked()
            if self.open_count() >= self.max_games:
                raise BadRequest(503, "too many games are open (%d); close one or wait until "
                                 "an idle one ends" % self.max_games)
            self.games[game.id] = game
        game.begin()
        return game

    def find(self, game_id):
        with self.lock:
            return self.games.get(game_id)

    def reap_locked(self):
        now = time.monotonic()
        for game_id, game in list(self.games.items()):
            if not game.closed and now - game.last_active > self.idle_seconds:
                game.close("ended after %d s without a request" % self.idle_seconds)
            if game.closed:
                self.closed_at.setdefault(game_id, now)
                if now - self.closed_at[game_id] > CLOSED_KEPT_S:
                    del self.games[game_id]
                    del self.closed_at[game_id]

    def reaper(self, stop):
        while not stop.wait(REAP_EVERY_S):
            with self.lock:
                self.reap_locked()

    def close_all(self):
        with self.lock:
            games = list(self.games.values())
        engines = []
        for game in games:
            engines += game.close("ended: the server stops")
        # END gives each brain a moment to exit; the rest are killed.
        deadline = time.monotonic() + END_WAIT_S + 0.5
        while time.monotonic() < deadline and any(e.proc.poll() is None for e in engines):
            time.sleep(0.05)
        for engine in engines:
            engine.kill()


class Handler(BaseHTTPRequestHandler):
    server_version = "ZorvanBoard/1.0"
    sys_version = ""
    # A client that stops sending mid-request is dropped after this.
    timeout = 15

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("board: %s\n" % (fmt % args))

    def handle_one_request(self):
        # A page closed or reloaded while its long poll waits is gone when the
        # answer is written: normal, so one quiet line instead of a traceback.
        try:
            super().handle_one_request()
        except ConnectionError as e:
            self.close_connection = True
            what = getattr(self, "requestline", "") or "a request"
            self.log_message("the client went away before the answer to %s (%s)",
                             what, type(e).__name__)

    def send_body(self, status, body, content_type, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        for name, value in SECURITY_HEADERS + tuple(extra):
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def send_json(self, status, data):
        self.send_body(status, json.dumps(data).encode(), "application/json")

    def fail(self, status, text):
        self.close_connection = True
        self.send_json(status, {"ok": False, "error": text})

    def check_target(self):
        if len(self.path) > MAX_TARGET:
            raise BadRequest(414, "request target too long")
        host = self.headers.get("Host", "")
        if self.server.allowed_hosts and host not in self.server.allowed_hosts:
            # Another name for this address (DNS rebinding) is not this board.
            raise BadRequest(403, "unexpected Host header")
        parts = urlsplit(self.path)
        try:
            query = parse_qs(parts.query, strict_parsing=False, max_num_fields=10)
        except ValueError:
            raise BadRequest(400, "bad query")
        return parts.path, {k: v[-1] for k, v in query.items()}

    def game_of(self, game_id):
        if not isinstance(game_id, str) or not game_id:
            raise BadRequest(400, "game id missing")
        game = self.server.games.find(game_id)
        if game is None:
            raise BadRequest(404, "no such game")
        return game

    def do_GET(self):
        try:
            path, query = self.check_target()
            if path in STATIC_FILES:
                name, content_type = STATIC_FILES[path]
                self.send_body(200, self.server.static[name], content_type)
            elif path == "/api/state":
                game = self.game_of(query.get("game"))
                since = self.number(query, "since", -1)
                wait = min(self.number(query, "wait", 0) / 1000.0, MAX_POLL_S)
                if wait > 0:
                    game.wait_change(since, wait)
                game.touch()
                self.send_json(200, game.state())
            elif path == "/api/export":
                game = self.game_of(query.get("game"))
                kind = query.get("format", "moves")
                if kind not in ("sgf", "moves"):
                    raise BadRequest(400, "format is sgf or moves")
                body = game.record(kind).encode()
                name = "zorvan-game.%s" % ("sgf" if kind == "sgf" else "txt")
                self.send_body(200, body, "text/plain; charset=utf-8",
                               (("Content-Disposition", 'attachment; filename="%s"' % name),))
            else:
                raise BadRequest(404, "not found")
        except BadRequest as e:
            self.fail(e.status, e.text)

    @staticmethod
    def number(query, key, default):
        text = query.get(key)
        if text is None:
            return default
        if not text.lstrip("-").isdigit() or len(text) > 12:
            raise BadRequest(400, "%s must be a whole number" % key)
        return int(text)

    def read_json(self):
        length = self.headers.get("Content-Length")
        if length is None:
            raise BadRequest(411, "Content-Length required")
        if not length.isdigit():
            raise BadRequest(400, "bad Content-Length")
        if int(length) > MAX_BODY:
            raise BadRequest(413, "request body larger than %d bytes" % MAX_BODY)
        content_type = self.headers.get("Content-Type", "").split(";")[0].strip().lower()
        if content_type != "application/json":
            # Also keeps other sites' plain form posts out.
            raise BadRequest(415, "the body must be application/json")
        body = self.rfile.read(int(length))
        try:
            data = json.loads(body.decode("utf-8"))
        except (UnicodeDecodeError, ValueError):
            raise BadRequest(400, "the body is not JSON")
        if not isinstance(data, dict):
            raise BadRequest(400, "the body must be a JSON object")
        return data

    def do_POST(self):
        try:
            path, _ = self.check_target()
            if path not in ("/api/new", "/api/move", "/api/undo", "/api/fresh-engine",
                            "/api/close", "/api/hint", "/api/stop", "/api/continue"):
                raise BadRequest(404, "not found")
            data = self.read_json()
            try:
                if path == "/api/new":
                    game = self.server.games.create(data)
                else:
                    game = self.game_of(data.get("game"))
                    if path == "/api/move":
                        x, y = data.get("x"), data.get("y")
                        if not all(isinstance(v, int) and not isinstance(v, bool)
                                   for v in (x, y)):
                            raise BadRequest(400, "x and y must be whole numbers")
                        game.play(x, y)
                    elif path == "/api/undo":
                        game.undo()
                    elif path == "/api/fresh-engine":
                        game.fresh_engine()
                    elif path == "/api/hint":
                        game.ask_hint()
                    elif path == "/api/stop":
                        game.stop()
                    elif path == "/api/continue":
                        count = data.get("moves")
                        if not isinstance(count, int) or isinstance(count, bool):
                            raise BadRequest(400, "moves must be a whole number")
                        game.continue_from(count)
                    else:
                        game.close("closed by the page")
            except Refused as refused:
                # Not an error of the request: the page shows the reason.
                self.send_json(200, {"ok": False, "refused": str(refused)})
                return
            self.send_json(200, {"ok": True, "state": game.state()})
        except BadRequest as e:
            self.fail(e.status, e.text)

    def refuse_method(self):
        self.fail(405, "method not allowed")

    do_PUT = do_DELETE = do_PATCH = do_HEAD = do_OPTIONS = do_TRACE = do_CONNECT = \
        refuse_method


class BoardServer(ThreadingHTTPServer):
    daemon_threads = True
    # A restarted board takes its port back at once.
    allow_reuse_address = True

    def __init__(self, address, games, verbose=False):
        super().__init__(address, Handler)
        self.games = games
        self.verbose = verbose
        self.static = {}
        for name, _ in STATIC_FILES.values():
            with open(os.path.join(STATIC_DIR, name), "rb") as f:
                self.static[name] = f.read()
        host, port = self.server_address[:2]
        if host in ("127.0.0.1", "localhost", "::1"):
            self.allowed_hosts = {"127.0.0.1:%d" % port, "localhost:%d" % port,
                                  "[::1]:%d" % port}
        else:
            self.allowed_hosts = None  # reachable under names the server cannot know


def default_engine():
    return os.path.join(os.path.dirname(HERE), "build", "pbrain-zorvan")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8090)
    parser.add_argument("--engine", default=default_engine(), help="the brain executable")
    parser.add_argument("--max-games", type=int, default=4, help="games open at once")
    parser.add_argument("--idle-seconds", type=int, default=600,
                        help="a game without a request for this long is ended")
    parser.add_argument("--tolerance", type=int, default=500,
                        help="ms an engine may run past its time per move")
    parser.add_argument("--verbose", action="store_true", help="log every request")
    args = parser.parse_args(argv)
    engine = os.path.abspath(args.engine)
    if not os.access(engine, os.X_OK):
        print("board: no engine at %s (build it with: bash scripts/build.sh --target engine)"
              % engine, file=sys.stderr)
        return 2
    games = Games([engine], args.max_games, args.idle_seconds, args.tolerance)
    try:
        server = BoardServer((args.host, args.port), games, args.verbose)
    except OSError as e:
        if e.errno == errno.EADDRINUSE:
            print("board: port %d on %s is taken; choose another with --port N"
                  % (args.port, args.host), file=sys.stderr)
        else:
            print("board: cannot listen on %s:%d: %s" % (args.host, args.port, e.strerror),
                  file=sys.stderr)
        return 1

    def stop(signum, frame):
        raise KeyboardInterrupt

    # Set explicitly: a server started in the background inherits an ignored SIGINT.
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, stop)
    reaper_stop = threading.Event()
    threading.Thread(target=games.reaper, args=(reaper_stop,), daemon=True).start()
    host, port = server.server_address[:2]
    shown = "127.0.0.1" if host == "0.0.0.0" else host
    if server.allowed_hosts is None:
        print("board: listening on %s: anyone who can reach this machine can use the board"
              % host, file=sys.stderr)
    print("Zorvan board: open http://%s:%d/ in a browser (Ctrl-C stops it)" % (shown, port),
          flush=True)
    try:
        server.serve_forever(poll_interval=0.25)
    except KeyboardInterrupt:
        pass
    finally:
        reaper_stop.set()
        games.close_all()
        server.server_close()
        print("board: stopped; every engine it started has ended", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
