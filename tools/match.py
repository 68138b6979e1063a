#!/usr/bin/env python3
"""Plays two brains against each other and referees the games.

The runner talks to each brain the way a tournament manager does: START (or
RECTSTART), the INFO settings, then BEGIN, BOARD ... DONE or TURN for every
move, and END at the end of the game. It trusts nothing the brains say: every
move is checked against its own board (on the board, on an empty point), the
win is judged by the rule, and in Renju black's forbidden moves (overline,
double four, double three with the real-three test) are judged by its own
implementation of the Renju rules. Each game runs with fresh processes, so the
first think of every game pays for the brain's start-up work.

Failures are counted apart from ordinary losses: a crash (the brain exits or
closes its output), an illegal move, a forbidden move, a time loss and a
protocol error (an ERROR or UNKNOWN line, an answer that is not a move, no
clean exit after END). A game with none of them passes.

Coordinates follow the brain's own convention: a move is "x,y" with x below
the board height (the second RECTSTART number) and y below the width.

usage:
  match.py ENGINE1 ENGINE2 [--rule freestyle|standard|renju|N] [--size 15|20x15]
           [--timeout-turn MS] [--timeout-match MS] [--games N] [--openings FILE]
           [--first-opening K] [--out DIR] [--tolerance MS] [--tolerance1 MS] [--tolerance2 MS]

ENGINE1 and ENGINE2 (or --engine1/--engine2) are command lines, e.g.
"qemu-i386 build/pbrain-zorvan32". Games alternate colours; each opening of
the openings file is played twice, once with each engine as black.
"""

import argparse
import os
import queue
import shlex
import subprocess
import sys
import threading
import time

EMPTY, BLACK, WHITE, WALL = 0, 1, 2, 3
DIRECTIONS = ((0, 1), (1, 0), (1, -1), (1, 1))
# Rule numbers sent with INFO rule, as managers send them.
RULES = {"freestyle": 0, "standard": 1, "renju": 4}
FAILURE_KINDS = ("crash", "illegal", "foul", "time", "protocol")

# A brain run through an emulator starts and answers slower; waits that are
# not move times (START, END) scale by this.
EMULATED_SLOWDOWN = 4.0
# How long past its limit a late move is still waited for, to report its time.
LATE_GRACE_MS = 2000


# ---------------------------------------------------------------------------
# The board and the rules.


class Board:
    def __init__(self, height, width):
        self.height = height
        self.width = width
        self.cells = [[EMPTY] * width for _ in range(height)]

    def on_board(self, x, y):
        return 0 <= x < self.height and 0 <= y < self.width

    def at(self, x, y):
        return self.cells[x][y] if self.on_board(x, y) else WALL

    def put(self, x, y, colour):
        self.cells[x][y] = colour

    def run_length(self, x, y, dx, dy, colour):
        """Length of the unbroken run of `colour` through (x, y), which holds it."""
        n = 1
        for sign in (1, -1):
            k = 1
            while self.at(x + sign * k * dx, y + sign * k * dy) == colour:
                n += 1
                k += 1
        return n

    def full(self):
        return all(c != EMPTY for row in self.cells for c in row)


def wins(board, x, y, colour, rule):
    """True when the stone of `colour` just placed at (x, y) completes a winning line."""
    runs = [board.run_length(x, y, dx, dy, colour) for dx, dy in DIRECTIONS]
    if rule == "freestyle" or (rule == "renju" and colour == WHITE):
        return max(runs) >= 5
    return 5 in runs


def _four_count(board, x, y, dx, dy):
    """Fours made by black's stone at (x, y) along one line.

    A four is four black stones of a five-cell window with one empty cell, the
    window holding (x, y), whose completion makes exactly five. The two windows
    of a straight four hold the same stones and count once; a line like
    X.XXX.X played in the middle holds two different fours.
    """
    stone_sets = set()
    for start in range(-4, 1):
        cells = [(x + (start + i) * dx, y + (start + i) * dy) for i in range(5)]
        values = [board.at(cx, cy) for cx, cy in cells]
        if values.count(BLACK) != 4 or values.count(EMPTY) != 1:
            continue
        before = board.at(x + (start - 1) * dx, y + (start - 1) * dy)
        after = board.at(x + (start + 5) * dx, y + (start + 5) * dy)
        if before == BLACK or after == BLACK:
            continue  # completing it would make an overline
        stone_sets.add(frozenset(c for c, v in zip(cells, values) if v == BLACK))
    return len(stone_sets)


def _straight_four_through(board, x, y, dx, dy):
    """True when the black run through (x, y) is a straight four: four stones,
    both ends empty, and each end completing exactly five."""
    if board.run_length(x, y, dx, dy, BLACK) != 4:
        return False
    ends = []
    for sign in (1, -1):
        k = 1
        while board.at(x + sign * k * dx, y + sign * k * dy) == BLACK:
            k += 1
        ends.append((sign, k))
    for sign, k in ends:
        if board.at(x + sign * k * dx, y + sign * k * dy) != EMPTY:
            return False
        if board.at(x + sign * (k + 1) * dx, y + sign * (k + 1) * dy) == BLACK:
            return False
    return True


def _makes_real_three(board, x, y, dx, dy):
    """True when black's stone at (x, y) makes a three along the line: some
    empty point of the line, itself not forbidden, turns it into a straight
    four holding (x, y)."""
    for k in range(-4, 5):
        if k == 0:
            continue
        qx, qy = x + k * dx, y + k * dy
        if board.at(qx, qy) != EMPTY:
            continue
        board.put(qx, qy, BLACK)
        straight = _straight_four_through(board, x, y, dx, dy) and \
            board.run_length(qx, qy, dx, dy, BLACK) == 4 and \
            _same_run(board, x, y, qx, qy, dx, dy)
        board.put(qx, qy, EMPTY)
        if straight and not is_forbidden(board, qx, qy):
            return True
    return False


def _same_run(board, x, y, qx, qy, dx, dy):
    """True when (qx, qy) lies in the unbroken black run through (x, y)."""
    for sign in (1, -1):
        k = 1
        while board.at(x + sign * k * dx, y + sign * k * dy) == BLACK:
            if (x + sign * k * dx, y + sign * k * dy) == (qx, qy):
                return True
            k += 1
    return False


def is_forbidden(board, x, y):
    """Renju: True when black may not play the empty point (x, y).

    An exact five always wins. Otherwise an overline, two or more fours, or
    two or more real threes (in different lines, a line holding a four not
    counting as a three) are forbidden.
    """
    board.put(x, y, BLACK)
    try:
        runs = [board.run_length(x, y, dx, dy, BLACK) for dx, dy in DIRECTIONS]
        if 5 in runs:
            return False
        if max(runs) >= 6:
            return True
        fours = [_four_count(board, x, y, dx, dy) for dx, dy in DIRECTIONS]
        if sum(fours) >= 2:
            return True
        threes = 0
        for (dx, dy), f in zip(DIRECTIONS, fours):
            if f == 0 and _makes_real_three(board, x, y, dx, dy):
                threes += 1
        return threes >= 2
    finally:
        board.put(x, y, EMPTY)


# ---------------------------------------------------------------------------
# Talking to a brain.


class EngineFailure(Exception):
    def __init__(self, kind, text):
        super().__init__(text)
        self.kind = kind
        self.text = text


class Engine:
    def __init__(self, command):
        self.command = command
        argv = shlex.split(command)
        self.slowdown = EMULATED_SLOWDOWN if os.path.basename(argv[0]).startswith("qemu") else 1.0
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
        self.lines = queue.Queue()
        self.protocol_errors = []
        self.last_speed = None
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put((time.monotonic(), raw))
        self.lines.put((time.monotonic(), None))

    def send(self, text):
        """Writes the lines; returns the clock reading taken just before writing."""
        started = time.monotonic()
        try:
            self.proc.stdin.write(text.encode())
            self.proc.stdin.flush()
        except (BrokenPipeError, OSError):
            raise EngineFailure("crash", "the brain closed its input")
        return started

    def next_line(self, deadline):
        """(arrival time, text) of the next line; None as text when past the deadline."""
        wait = deadline - time.monotonic()
        try:
            arrived, raw = self.lines.get(timeout=max(0.0, wait))
        except queue.Empty:
            return None, None
        if raw is None:
            raise EngineFailure("crash", "the brain ended (exit status %s)" % self.proc.poll())
        return arrived, raw.decode(errors="replace").rstrip("\r\n")

    def answer(self, deadline):
        """The next line that is not a MESSAGE or DEBUG line; ERROR and UNKNOWN
        lines are noted as protocol errors and skipped."""
        while True:
            arrived, text = self.next_line(deadline)
            if text is None:
                return None, None
            if text.startswith("MESSAGE") or text.startswith("DEBUG"):
                if text.startswith("MESSAGE Speed="):
                    self.last_speed = text[len("MESSAGE Speed="):]
                continue
            if text.startswith("ERROR") or text.startswith("UNKNOWN"):
                self.protocol_errors.append(text)
                continue
            return arrived, text

    def drain(self):
        """Notes any unexpected line printed while the brain should be idle."""
        while True:
            try:
                _, raw = self.lines.get_nowait()
            except queue.Empty:
                return
            if raw is None:
                self.lines.put((time.monotonic(), None))
                return
            text = raw.decode(errors="replace").rstrip("\r\n")
            if not (text.startswith("MESSAGE") or text.startswith("DEBUG")):
                self.protocol_errors.append("unexpected line %r" % text)

    def finish(self):
        """Sends END; returns a failure kind or None for a clean exit with status 0."""
        try:
            self.send("END\n")
            self.proc.stdin.close()
        except (EngineFailure, OSError):
            pass
        try:
            status = self.proc.wait(timeout=5.0 * self.slowdown)
        except subprocess.TimeoutExpired:
            self.kill()
            return "protocol", "no exit within %.0f s after END" % (5.0 * self.slowdown)
        if status != 0:
            return "crash", "exit status %d after END" % status
        return None, None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def parse_move(text):
    parts = text.split(",")
    if len(parts) != 2:
        return None
    try:
        return int(parts[0]), int(parts[1])
    except ValueError:
        return None


# ---------------------------------------------------------------------------
# Openings.


def load_openings(path, height, width):
    """Openings as lists of moves. The file gives offsets from the centre
    (height // 2, width // 2), so one file serves every board size; "-" is the
    empty opening."""
    cx, cy = height // 2, width // 2
    openings = []
    with open(path) as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            moves = []
            if line != "-":
                for item in line.split():
                    move = parse_move(item)
                    if move is None:
                        raise SystemExit("%s:%d: bad move %r" % (path, number, item))
                    moves.append((cx + move[0], cy + move[1]))
            board = Board(height, width)
            for i, (x, y) in enumerate(moves):
                if not board.on_board(x, y) or board.at(x, y) != EMPTY:
                    raise SystemExit("%s:%d: opening move %d,%d off the board or repeated"
                                     % (path, number, x, y))
                board.put(x, y, BLACK if i % 2 == 0 else WHITE)
            openings.append(moves)
    if not openings:
        raise SystemExit("%s: no openings" % path)
    return openings


# ---------------------------------------------------------------------------
# One game.


class Settings:
    def __init__(self, args):
        self.rule = args.rule
        self.height, self.width = args.height, args.width
        self.timeout_turn = args.timeout_turn
        self.timeout_match = args.timeout_match


def start_engine(engine, settings):
    if settings.height == settings.width:
        start = "START %d\n" % settings.width
    else:
        start = "RECTSTART %d,%d\n" % (settings.width, settings.height)
    sent = engine.send(start)
    _, text = engine.answer(sent + 10.0 * engine.slowdown)
    if text != "OK":
        raise EngineFailure("protocol", "START answered %r" % text)
    time_left = settings.timeout_match if settings.timeout_match > 0 else 2147483647
    engine.send("INFO timeout_turn %d\nINFO timeout_match %d\nINFO time_left %d\n"
                "INFO max_memory 367001600\nINFO game_type 1\nINFO rule %d\n"
                % (settings.timeout_turn, settings.timeout_match, time_left,
                   RULES[settings.rule]))


def play_game(commands, tolerances, opening, settings):
    """Plays one game. commands[0] plays black. Returns a dict with the moves,
    the result ("1-0", "0-1", "1/2"), the reason, the failures as (colour
    index, kind, text) and the move times as (colour index, ms)."""
    game = {"moves": list(opening), "failures": [], "times": [], "speeds": [], "result": None,
            "reason": ""}
    engines = []
    board = Board(settings.height, settings.width)
    for i, (x, y) in enumerate(opening):
        board.put(x, y, BLACK if i % 2 == 0 else WHITE)
    used = [0.0, 0.0]

    def lose(loser, kind, text):
        game["failures"].append((loser, kind, text))
        game["result"] = "0-1" if loser == 0 else "1-0"
        game["reason"] = "%s %s: %s" % (("black", "white")[loser], kind, text)

    try:
        for index, command in enumerate(commands):
            try:
                engines.append(Engine(command))
            except OSError as e:
                lose(index, "crash", "cannot start: %s" % e)
                return game
        for index, engine in enumerate(engines):
            try:
                start_engine(engine, settings)
            except EngineFailure as e:
                lose(index, e.kind, e.text)
                return game
        started = [False, False]
        while game["result"] is None:
            turn = len(game["moves"]) % 2
            engine = engines[turn]
            colour = BLACK if turn == 0 else WHITE
            engine.drain()
            limit = settings.timeout_turn
            text = ""
            if settings.timeout_match > 0:
                time_left = settings.timeout_match - int(used[turn])
                limit = min(limit, time_left)
                text += "INFO time_left %d\n" % time_left
            if not started[turn]:
                if not game["moves"]:
                    text += "BEGIN\n"
                else:
                    text += "BOARD\n"
                    for i, (x, y) in enumerate(game["moves"]):
                        text += "%d,%d,%d\n" % (x, y, 1 if i % 2 == turn else 2)
                    text += "DONE\n"
                started[turn] = True
            else:
                x, y = game["moves"][-1]
                text += "TURN %d,%d\n" % (x, y)
            try:
                sent = engine.send(text)
                allowed = limit + tolerances[turn]
                arrived, reply = engine.answer(sent + (allowed + LATE_GRACE_MS) / 1000.0)
            except EngineFailure as e:
                lose(turn, e.kind, e.text)
                break
            if reply is None:
                lose(turn, "time", "no move within %d ms" % (allowed + LATE_GRACE_MS))
                break
            ms = (arrived - sent) * 1000.0
            used[turn] += ms
            game["times"].append((turn, ms))
            if engine.last_speed is not None and engine.last_speed.isdigit():
                game["speeds"].append((turn, int(engine.last_speed)))
            engine.last_speed = None
            if engine.protocol_errors:
                game["failures"].append((turn, "protocol", "; ".join(engine.protocol_errors)))
                engine.protocol_errors = []
            move = parse_move(reply)
            if move is None:
                lose(turn, "protocol", "answer %r is not a move" % reply)
                break
            x, y = move
            if ms > allowed:
                lose(turn, "time", "move %d,%d after %.0f ms (limit %d + %d)"
                     % (x, y, ms, limit, tolerances[turn]))
                break
            if not board.on_board(x, y) or board.at(x, y) != EMPTY:
                lose(turn, "illegal", "move %d,%d" % (x, y))
                break
            if settings.rule == "renju" and colour == BLACK and is_forbidden(board, x, y):
                game["moves"].append((x, y))
                lose(turn, "foul", "forbidden move %d,%d" % (x, y))
                break
            board.put(x, y, colour)
            game["moves"].append((x, y))
            if wins(board, x, y, colour, settings.rule):
                game["result"] = "1-0" if turn == 0 else "0-1"
                game["reason"] = "five"
            elif board.full():
                game["result"] = "1/2"
                game["reason"] = "board full"
    finally:
        for index, engine in enumerate(engines):
            engine.drain()
            if engine.protocol_errors:
                game["failures"].append((index, "protocol", "; ".join(engine.protocol_errors)))
            if engine.proc.poll() is None:
                kind, text = engine.finish()
                if kind:
                    game["failures"].append((index, kind, text))
            engine.kill()
    return game


# ---------------------------------------------------------------------------
# The match.


def write_game(out_dir, number, game, names, opening_index, settings):
    path = os.path.join(out_dir, "game-%03d.txt" % number)
    with open(path, "w") as f:
        f.write("# black: %s\n# white: %s\n" % names)
        f.write("# rule %s, board %dx%d (x below %d, y below %d), timeout_turn %d ms\n"
                % (settings.rule, settings.width, settings.height, settings.height,
                   settings.width, settings.timeout_turn))
        f.write("# opening %d, result %s (%s)\n" % (opening_index + 1, game["result"],
                                                   game["reason"]))
        for x, y in game["moves"]:
            f.write("%d,%d\n" % (x, y))


def parse_size(text):
    if "x" in text:
        w, h = text.split("x", 1)
        return int(w), int(h)
    return int(text), int(text)


def parse_rule(text):
    """A rule name, or a number read as managers send it: bit 4 (or 2) Renju,
    else odd standard, even freestyle."""
    if text in RULES:
        return text
    try:
        v = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError("unknown rule %r" % text)
    if v & 4 or v == 2:
        return "renju"
    return "standard" if v & 1 else "freestyle"


def default_tolerance(command):
    return 1000 if os.path.basename(shlex.split(command)[0]).startswith("qemu") else 50


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("engines", nargs="*", help="the two command lines (or --engine1/2)")
    parser.add_argument("--engine1", default=None)
    parser.add_argument("--engine2", default=None)
    parser.add_argument("--rule", default="freestyle", type=parse_rule,
                        help="freestyle, standard, renju, or a manager's rule number")
    parser.add_argument("--size", default="15", help="N, or WxH for a rectangular board")
    parser.add_argument("--timeout-turn", type=int, default=1000, help="ms per move")
    parser.add_argument("--timeout-match", type=int, default=0, help="ms per game, 0 = none")
    parser.add_argument("--games", type=int, default=2)
    parser.add_argument("--openings", default=os.path.join(here, "openings.txt"))
    parser.add_argument("--first-opening", type=int, default=1,
                        help="number of the opening the first game uses (1-based)")
    parser.add_argument("--out", default="", help="directory for the games' move files")
    parser.add_argument("--tolerance", type=int, default=None,
                        help="ms allowed past the limit for both engines (default 50, or "
                             "1000 for an engine run under an emulator)")
    parser.add_argument("--tolerance1", type=int, default=None)
    parser.add_argument("--tolerance2", type=int, default=None)
    args = parser.parse_args()
    positional = list(args.engines)
    engine1 = args.engine1 or (positional.pop(0) if positional else None)
    engine2 = args.engine2 or (positional.pop(0) if positional else None)
    if not engine1 or not engine2 or positional:
        parser.error("give exactly two engine command lines")
    args.engine1, args.engine2 = engine1, engine2
    args.width, args.height = parse_size(args.size)
    settings = Settings(args)
    tolerance = []
    for command, own in ((args.engine1, args.tolerance1), (args.engine2, args.tolerance2)):
        if own is None:
            own = args.tolerance if args.tolerance is not None else default_tolerance(command)
        tolerance.append(own)
    openings = load_openings(args.openings, args.height, args.width)
    if args.out:
        os.makedirs(args.out, exist_ok=True)

    names = [args.engine1, args.engine2]
    stats = [{"games": 0, "wins": 0, "losses": 0, "draws": 0, "worst": 0.0, "moves": 0,
              "total": 0.0, "speeds": [], **{k: 0 for k in FAILURE_KINDS}} for _ in names]
    passed = failed = 0
    print("rule %s, board %dx%d, timeout_turn %d ms, tolerance %d / %d ms"
          % (args.rule, args.width, args.height, args.timeout_turn, tolerance[0], tolerance[1]))
    print("%-4s %-4s %-6s %-6s %5s %-6s %s" % ("game", "open", "black", "white", "moves",
                                               "result", "reason"))
    for number in range(args.games):
        opening_index = (args.first_opening - 1 + number // 2) % len(openings)
        swap = number % 2 == 1
        order = [1, 0] if swap else [0, 1]  # order[colour] = engine number
        game = play_game([names[order[0]], names[order[1]]], [tolerance[order[0]],
                         tolerance[order[1]]], openings[opening_index], settings)
        for colour, engine_number in enumerate(order):
            s = stats[engine_number]
            s["games"] += 1
            won = game["result"] == ("1-0" if colour == 0 else "0-1")
            if game["result"] == "1/2":
                s["draws"] += 1
            elif won:
                s["wins"] += 1
            else:
                s["losses"] += 1
        for colour, ms in game["times"]:
            s = stats[order[colour]]
            s["worst"] = max(s["worst"], ms)
            s["moves"] += 1
            s["total"] += ms
        for colour, speed in game["speeds"]:
            stats[order[colour]]["speeds"].append(speed)
        for colour, kind, _ in game["failures"]:
            stats[order[colour]][kind] += 1
        if game["failures"]:
            failed += 1
        else:
            passed += 1
        if args.out:
            write_game(args.out, number + 1, game,
                       (names[order[0]], names[order[1]]), opening_index, settings)
        print("%-4d %-4d %-6s %-6s %5d %-6s %s" % (number + 1, opening_index + 1,
                                                   "E%d" % (order[0] + 1),
                                                   "E%d" % (order[1] + 1), len(game["moves"]),
                                                   game["result"], game["reason"]))
        for colour, kind, text in game["failures"]:
            print("     failure: E%d %s: %s" % (order[colour] + 1, kind, text))
        sys.stdout.flush()

    print()
    header = ("engine", "games", "win", "loss", "draw") + FAILURE_KINDS + ("avg ms", "worst ms",
                                                                         "worst-limit")
    print("%-6s %5s %4s %4s %4s %5s %7s %4s %4s %8s %7s %8s %11s" % header)
    for i, s in enumerate(stats):
        average = s["total"] / s["moves"] if s["moves"] else 0.0
        print("%-6s %5d %4d %4d %4d %5d %7d %4d %4d %8d %7.0f %8.0f %+11.0f"
              % ("E%d" % (i + 1), s["games"], s["wins"], s["losses"], s["draws"],
                 *[s[k] for k in FAILURE_KINDS], average, s["worst"],
                 s["worst"] - args.timeout_turn))
    for i, name in enumerate(names):
        speeds = sorted(v for v in stats[i]["speeds"] if v > 0)
        summary = ("speed (nodes/ms, searched moves): median %d, max %d"
                   % (speeds[len(speeds) // 2], speeds[-1]) if speeds else "no searched move")
        print("E%d = %s; %s" % (i + 1, name, summary))
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
