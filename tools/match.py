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
import shlex
import sys

from brain_driver import LATE_GRACE_MS, Engine, EngineFailure, move_request, start_engine
from referee import (BLACK, EMPTY, RULES, WHITE, Board, black_is_shut_out, is_forbidden,
                     parse_move, parse_rule_number, wins)

FAILURE_KINDS = ("crash", "illegal", "foul", "time", "protocol")


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
                start_engine(engine, settings.width, settings.height, settings.rule,
                             settings.timeout_turn, settings.timeout_match)
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
            text += move_request(game["moves"], turn, started[turn])
            started[turn] = True
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
            elif colour == WHITE and black_is_shut_out(board, settings.rule):
                game["result"] = "1/2"
                game["reason"] = "black has only forbidden points"
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
        return parse_rule_number(int(text))
    except ValueError:
        raise argparse.ArgumentTypeError("unknown rule %r" % text)


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
