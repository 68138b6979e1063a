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

As a strength test it plays several games at once (--concurrency), mixes
rules and board sizes (--variant), gives each side its own INFO settings and
name (--info1, --name1, ...), and ends with the first engine's score and its
Elo difference with a 95% interval, worked out over the pairs of games that
share an opening (see elo.py); with --sprt it stops as soon as a sequential
test can tell. Time stays per move whatever the concurrency: every move's
wait for a processor is measured from the kernel's scheduler statistics, and
a game lost only by a late move that this wait explains is not counted but
played again, once (the output says how busy the machine was).

usage:
  match.py ENGINE1 ENGINE2 [--rule freestyle|standard|renju|N] [--size 15|20x15]
           [--timeout-turn MS] [--timeout-match MS] [--games N] [--openings FILE]
           [--first-opening K] [--out DIR] [--tolerance MS] [--tolerance1 MS] [--tolerance2 MS]
           [--variant RULE:SIZE[:OPENINGS] ...] [--concurrency N]
           [--info1 "KEY VALUE" ...] [--info2 "KEY VALUE" ...] [--name1 NAME] [--name2 NAME]
           [--sprt ELO0 ELO1 [--alpha A] [--beta B]]

ENGINE1 and ENGINE2 (or --engine1/--engine2) are command lines, e.g.
"qemu-i386 build/pbrain-zorvan32". Games alternate colours; each opening of
the openings file is played twice, once with each engine as black. With
several --variant options the pairs of games go to the variants in turn and
--games counts them all. A variant without an openings file uses
tools/openings/RULE-N.txt (N the board's side) when there is one, else
tools/openings.txt.
"""

import argparse
import concurrent.futures
import glob
import json
import os
import shlex
import sys
import threading
import time

import elo
from brain_driver import LATE_GRACE_MS, Engine, EngineFailure, move_request, start_engine
from referee import (BLACK, EMPTY, RULES, WHITE, Board, black_is_shut_out, is_forbidden,
                     parse_move, parse_rule_number, wins)

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(1, os.path.join(os.path.dirname(HERE), "webboard"))
from records import to_sgf  # noqa: E402

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
# The machine's load.


def run_queue_ms(pid):
    """Milliseconds the process's threads have spent waiting for a processor
    (the kernel's scheduler statistics); None where they cannot be read."""
    total = 0
    try:
        for path in glob.glob("/proc/%d/task/*/schedstat" % pid):
            with open(path) as f:
                total += int(f.read().split()[1])
    except (OSError, ValueError, IndexError):
        return None
    return total / 1e6


class LoadMonitor:
    """Samples the one-minute load average while the match runs."""

    def __init__(self, every_s=5.0):
        self.samples = []
        self.every_s = every_s
        self.done = threading.Event()
        self.sample()
        threading.Thread(target=self._run, daemon=True).start()

    def sample(self):
        try:
            with open("/proc/loadavg") as f:
                self.samples.append(float(f.read().split()[0]))
        except (OSError, ValueError, IndexError):
            pass

    def _run(self):
        while not self.done.wait(self.every_s):
            self.sample()

    def stop(self):
        self.done.set()
        self.sample()

    def summary(self):
        if not self.samples:
            return None
        return {"mean": sum(self.samples) / len(self.samples), "min": min(self.samples),
                "max": max(self.samples), "samples": len(self.samples)}


# ---------------------------------------------------------------------------
# One game.


class Settings:
    def __init__(self, rule, height, width, timeout_turn, timeout_match):
        self.rule = rule
        self.height, self.width = height, width
        self.timeout_turn = timeout_turn
        self.timeout_match = timeout_match


def play_game(commands, tolerances, opening, settings, infos=((), ())):
    """Plays one game. commands[0] plays black, and infos[0] holds black's own
    "KEY VALUE" settings. Returns a dict with the moves, the result ("1-0",
    "0-1", "1/2"), the reason, the failures as (colour index, kind, text), the
    move times as (colour index, ms), each move's wait for a processor as
    (colour index, ms) and, for a game lost by a late move, "late": (colour
    index, ms, limit, wait ms)."""
    game = {"moves": list(opening), "failures": [], "times": [], "speeds": [], "waits": [],
            "result": None, "reason": "", "late": None}
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
                if infos[index]:
                    engine.send("".join("INFO %s\n" % info for info in infos[index]))
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
            waited = run_queue_ms(engine.proc.pid)
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
            now_waited = run_queue_ms(engine.proc.pid)
            wait = now_waited - waited if waited is not None and now_waited is not None else 0.0
            used[turn] += ms
            game["times"].append((turn, ms))
            game["waits"].append((turn, wait))
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
                game["late"] = (turn, ms, limit, wait)
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


def late_by_load(game):
    """True when the game's only failure is one late move and the time its
    brain spent waiting for a processor during that move covers all of its
    time past the limit: without the wait it would have been in time."""
    if game["late"] is None or len(game["failures"]) != 1:
        return False
    _, ms, limit, wait = game["late"]
    return wait >= ms - limit


# ---------------------------------------------------------------------------
# The match.


class Variant:
    """A rule and a board size, with the openings played on it."""

    def __init__(self, rule, width, height, openings_path):
        self.rule, self.width, self.height = rule, width, height
        self.openings_path = openings_path
        self.openings = load_openings(openings_path, height, width)

    @property
    def label(self):
        return "%s %dx%d" % (self.rule, self.width, self.height)


def default_openings(here, rule, width, height):
    if width == height:
        own = os.path.join(here, "openings", "%s-%d.txt" % (rule, width))
        if os.path.exists(own):
            return own
    return os.path.join(here, "openings.txt")


def parse_variant(text, here):
    parts = text.split(":", 2)
    if len(parts) < 2:
        raise argparse.ArgumentTypeError("variant %r is not RULE:SIZE[:OPENINGS]" % text)
    rule = parse_rule(parts[0])
    try:
        width, height = parse_size(parts[1])
    except ValueError:
        raise argparse.ArgumentTypeError("bad board size in variant %r" % text)
    path = parts[2] if len(parts) == 3 else default_openings(here, rule, width, height)
    return rule, width, height, path


def schedule(variants, games, first_opening):
    """(game number, variant index, opening index, colours swapped) of every
    game, in the order they start. Both games of an opening come together;
    with several variants the pairs go to them in turn."""
    jobs = []
    for number in range(games):
        pair = number // 2
        v = pair % len(variants)
        opening = (first_opening - 1 + pair // len(variants)) % len(variants[v].openings)
        jobs.append((number, v, opening, number % 2 == 1))
    return jobs


def engine_points(game, colour):
    if game["result"] == "1/2":
        return 0.5
    return 1.0 if game["result"] == ("1-0" if colour == 0 else "0-1") else 0.0


def move_comment(game, index, order, names):
    """The comment of the move at `index`: who played it and its think time;
    opening stones have none."""
    played = index - (len(game["moves"]) - len(game["times"]))
    if played < 0 or played >= len(game["times"]):
        return ""
    colour, ms = game["times"][played]
    return "%s %.0f ms" % (names[order[colour]], ms)


def write_game(out_dir, number, game, names, order, opening_index, settings):
    """game-NNN.txt, the move list with the think times as comments, and
    game-NNN.sgf, the same with the times as move comments."""
    base = os.path.join(out_dir, "game-%03d" % number)
    black, white = names[order[0]], names[order[1]]
    with open(base + ".txt", "w") as f:
        f.write("# black: %s\n# white: %s\n" % (black, white))
        f.write("# rule %s, board %dx%d (x below %d, y below %d), timeout_turn %d ms\n"
                % (settings.rule, settings.width, settings.height, settings.height,
                   settings.width, settings.timeout_turn))
        f.write("# opening %d, result %s (%s)\n" % (opening_index + 1, game["result"],
                                                   game["reason"]))
        for index, (x, y) in enumerate(game["moves"]):
            comment = move_comment(game, index, order, names)
            f.write("%d,%d%s\n" % (x, y, "  # " + comment if comment else ""))
    winner = {"1-0": "black", "0-1": "white"}.get(game["result"], "draw")
    comments = [move_comment(game, i, order, names) for i in range(len(game["moves"]))]
    with open(base + ".sgf", "w") as f:
        f.write(to_sgf(settings.rule, settings.width, settings.height, game["moves"],
                       {"winner": winner, "reason": game["reason"]}, (black, white), comments,
                       "opening %d; %s" % (opening_index + 1, game["reason"]),
                       application="Zorvan match"))


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


def parse_info(text):
    parts = text.split()
    if len(parts) != 2:
        raise argparse.ArgumentTypeError("INFO setting %r is not \"KEY VALUE\"" % text)
    return " ".join(parts)


def default_tolerance(command):
    return 1000 if os.path.basename(shlex.split(command)[0]).startswith("qemu") else 50


class Tally:
    """Results of the first engine, overall or for one variant."""

    def __init__(self):
        self.wins = self.losses = self.draws = 0
        self.pairs = {}  # pair number -> E1's points in the pair's games played so far

    def add(self, pair, points):
        if points == 1.0:
            self.wins += 1
        elif points == 0.0:
            self.losses += 1
        else:
            self.draws += 1
        self.pairs.setdefault(pair, []).append(points)

    @property
    def games(self):
        return self.wins + self.losses + self.draws

    def pentanomial(self):
        return elo.pentanomial(sum(p) for p in self.pairs.values() if len(p) == 2)

    def estimate(self):
        return elo.estimate(self.pentanomial(), self.wins, self.losses, self.draws)

    def score(self):
        return (self.wins + 0.5 * self.draws) / self.games if self.games else 0.0


def run_game(job, variants, names, commands, tolerances, infos, timeout_turn, timeout_match):
    """Plays one scheduled game, and once more if a late move under load lost
    it. Returns (game, order, settings, replayed game or None)."""
    number, v, opening_index, swap = job
    variant = variants[v]
    settings = Settings(variant.rule, variant.height, variant.width, timeout_turn,
                        timeout_match)
    order = [1, 0] if swap else [0, 1]  # order[colour] = engine number

    def play():
        return play_game([commands[order[0]], commands[order[1]]],
                         [tolerances[order[0]], tolerances[order[1]]],
                         variant.openings[opening_index], settings,
                         (infos[order[0]], infos[order[1]]))
    game = play()
    voided = None
    if late_by_load(game):
        voided = game
        game = play()
    return game, order, settings, voided


def main():
    here = HERE
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("engines", nargs="*", help="the two command lines (or --engine1/2)")
    parser.add_argument("--engine1", default=None)
    parser.add_argument("--engine2", default=None)
    parser.add_argument("--rule", default="freestyle", type=parse_rule,
                        help="freestyle, standard, renju, or a manager's rule number")
    parser.add_argument("--size", default="15", help="N, or WxH for a rectangular board")
    parser.add_argument("--timeout-turn", type=int, default=1000, help="ms per move")
    parser.add_argument("--timeout-match", type=int, default=0, help="ms per game, 0 = none")
    parser.add_argument("--games", type=int, default=2,
                        help="games to play (with --sprt: the most it may play)")
    parser.add_argument("--openings", default=None,
                        help="openings file (default: the variant's own, else "
                             "tools/openings.txt)")
    parser.add_argument("--first-opening", type=int, default=1,
                        help="number of the opening the first game uses (1-based)")
    parser.add_argument("--out", default="", help="directory for the games' records and "
                                                  "summary.json")
    parser.add_argument("--tolerance", type=int, default=None,
                        help="ms allowed past the limit for both engines (default 50, or "
                             "1000 for an engine run under an emulator)")
    parser.add_argument("--tolerance1", type=int, default=None)
    parser.add_argument("--tolerance2", type=int, default=None)
    parser.add_argument("--variant", action="append", default=[],
                        help="RULE:SIZE[:OPENINGS], repeatable: mix rules and boards")
    parser.add_argument("--concurrency", type=int, default=1, help="games played at once")
    parser.add_argument("--info1", action="append", type=parse_info, default=[],
                        help="\"KEY VALUE\": an INFO line for engine 1 only (repeatable)")
    parser.add_argument("--info2", action="append", type=parse_info, default=[])
    parser.add_argument("--name1", default=None, help="engine 1's name in the output")
    parser.add_argument("--name2", default=None)
    parser.add_argument("--sprt", nargs=2, type=float, metavar=("ELO0", "ELO1"), default=None,
                        help="stop when a sequential test accepts ELO0 or ELO1")
    parser.add_argument("--alpha", type=float, default=0.05)
    parser.add_argument("--beta", type=float, default=0.05)
    args = parser.parse_args()
    positional = list(args.engines)
    engine1 = args.engine1 or (positional.pop(0) if positional else None)
    engine2 = args.engine2 or (positional.pop(0) if positional else None)
    if not engine1 or not engine2 or positional:
        parser.error("give exactly two engine command lines")
    if args.concurrency < 1 or args.games < 1:
        parser.error("--concurrency and --games take a positive number")
    if args.sprt and elo.sprt_settings_fault(*args.sprt, args.alpha, args.beta):
        parser.error(elo.sprt_settings_fault(*args.sprt, args.alpha, args.beta))
    commands = [engine1, engine2]
    names = [args.name1 or "E1", args.name2 or "E2"]
    infos = [args.info1, args.info2]
    try:
        chosen = [parse_variant(text, here) for text in args.variant]
    except argparse.ArgumentTypeError as e:
        parser.error(str(e))
    if not chosen:
        width, height = parse_size(args.size)
        chosen = [(args.rule, width, height,
                  args.openings or default_openings(here, args.rule, width, height))]
    variants = [Variant(*fields) for fields in chosen]
    tolerance = []
    for command, own in ((engine1, args.tolerance1), (engine2, args.tolerance2)):
        if own is None:
            own = args.tolerance if args.tolerance is not None else default_tolerance(command)
        tolerance.append(own)
    if args.out:
        os.makedirs(args.out, exist_ok=True)

    stats = [{"games": 0, "wins": 0, "losses": 0, "draws": 0, "worst": 0.0, "moves": 0,
              "total": 0.0, "speeds": [], "waits": [], **{k: 0 for k in FAILURE_KINDS}}
             for _ in commands]
    tally = Tally()
    per_variant = [Tally() for _ in variants]
    passed = failed = 0
    failures = []
    voided = []
    records = []
    bounds = elo.sprt_bounds(args.alpha, args.beta) if args.sprt else None
    verdict = None
    llr = 0.0
    mixed = len(variants) > 1
    v0 = variants[0]
    if mixed:
        print("rules and boards: %s; timeout_turn %d ms, tolerance %d / %d ms"
              % (", ".join(v.label for v in variants), args.timeout_turn, tolerance[0],
                 tolerance[1]))
    else:
        print("rule %s, board %dx%d, timeout_turn %d ms, tolerance %d / %d ms"
              % (v0.rule, v0.width, v0.height, args.timeout_turn, tolerance[0], tolerance[1]))
    if args.concurrency > 1 or args.sprt:
        print("concurrency %d (%d processors)%s"
              % (args.concurrency, os.cpu_count() or 0,
                 "; SPRT elo0 %g elo1 %g, alpha %g beta %g, at most %d games"
                 % (args.sprt[0], args.sprt[1], args.alpha, args.beta, args.games)
                 if args.sprt else ""))
    if args.concurrency > (os.cpu_count() or 1):
        print("warning: more games at once than processors; moves will wait for one")
    print("%-4s %-4s %-6s %-6s %5s %-6s %s" % ("game", "open", "black", "white", "moves",
                                               "result", "reason"))
    sys.stdout.flush()
    monitor = LoadMonitor()
    started_at = time.monotonic()
    jobs = schedule(variants, args.games, args.first_opening)
    pool = concurrent.futures.ThreadPoolExecutor(max_workers=args.concurrency)
    pending = {}
    next_job = 0

    def submit_more():
        nonlocal next_job
        while verdict is None and len(pending) < args.concurrency and next_job < len(jobs):
            job = jobs[next_job]
            next_job += 1
            pending[pool.submit(run_game, job, variants, names, commands, tolerance, infos,
                                args.timeout_turn, args.timeout_match)] = job

    submit_more()
    while pending:
        done, _ = concurrent.futures.wait(pending, return_when=concurrent.futures.FIRST_COMPLETED)
        for future in sorted(done, key=lambda f: pending[f][0]):
            number, v, opening_index, swap = pending.pop(future)
            game, order, settings, void = future.result()
            for colour, engine_number in enumerate(order):
                s = stats[engine_number]
                s["games"] += 1
                points = engine_points(game, colour)
                if points == 0.5:
                    s["draws"] += 1
                elif points == 1.0:
                    s["wins"] += 1
                else:
                    s["losses"] += 1
            for colour, ms in game["times"]:
                s = stats[order[colour]]
                s["worst"] = max(s["worst"], ms)
                s["moves"] += 1
                s["total"] += ms
            for colour, wait in game["waits"]:
                stats[order[colour]]["waits"].append(wait)
            for colour, speed in game["speeds"]:
                stats[order[colour]]["speeds"].append(speed)
            for colour, kind, text in game["failures"]:
                stats[order[colour]][kind] += 1
                failures.append((number + 1, order[colour], kind, text))
            if game["failures"]:
                failed += 1
            else:
                passed += 1
            e1_points = engine_points(game, order.index(0))
            for t in (tally, per_variant[v]):
                t.add(number // 2, e1_points)
            if args.out:
                write_game(args.out, number + 1, game, names, order, opening_index, settings)
            records.append({"game": number + 1, "variant": variants[v].label,
                            "opening": opening_index + 1, "black": names[order[0]],
                            "white": names[order[1]], "result": game["result"],
                            "reason": game["reason"], "moves": len(game["moves"]),
                            "failures": [[names[order[c]], k, t]
                                         for c, k, t in game["failures"]],
                            "replayed": void is not None})
            print("%-4d %-4d %-6s %-6s %5d %-6s %s%s"
                  % (number + 1, opening_index + 1, "E%d" % (order[0] + 1),
                     "E%d" % (order[1] + 1), len(game["moves"]), game["result"],
                     "[%s] " % variants[v].label if mixed else "", game["reason"]))
            if void is not None:
                _, ms, limit, wait = void["late"]
                voided.append((number + 1, void["reason"], wait))
                print("     replayed: the first try was lost by a late move (%.0f ms, limit %d)"
                      " while its brain waited %.0f ms for a processor" % (ms, limit, wait))
            for colour, kind, text in game["failures"]:
                print("     failure: E%d %s: %s" % (order[colour] + 1, kind, text))
            if args.sprt:
                llr = elo.sprt_llr(tally.pentanomial(), *args.sprt)
                # Games still running when the test decides are played out and
                # counted, but the decision stands.
                verdict = verdict or elo.sprt_verdict(llr, bounds)
                print("     SPRT: LLR %+.2f [%+.2f, %+.2f] after %d pairs%s"
                      % (llr, bounds[0], bounds[1], sum(tally.pentanomial()),
                         "" if verdict is None else ", %s accepted" % verdict))
            sys.stdout.flush()
        submit_more()
    pool.shutdown()
    monitor.stop()
    wall = time.monotonic() - started_at

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
    for i, command in enumerate(commands):
        speeds = sorted(v for v in stats[i]["speeds"] if v > 0)
        summary = ("speed (nodes/ms, searched moves): median %d, max %d"
                   % (speeds[len(speeds) // 2], speeds[-1]) if speeds else "no searched move")
        label = command if names[i] == "E%d" % (i + 1) else "%s: %s" % (names[i], command)
        if infos[i]:
            label += " (INFO %s)" % ", ".join(infos[i])
        print("E%d = %s; %s" % (i + 1, label, summary))

    estimate = tally.estimate()
    print()
    print("%s against %s: %d wins, %d losses, %d draws of %d games, score %.1f%%"
          % (names[0], names[1], tally.wins, tally.losses, tally.draws, tally.games,
             100.0 * tally.score()))
    penta = tally.pentanomial()
    if sum(penta):
        print("pairs by %s's points (0, 1/2, 1, 3/2, 2): %s" % (names[0],
                                                               " ".join(map(str, penta))))
    if estimate:
        print(estimate.line())
        print("  interval [%s, %s], %s over %d %s" % (
            elo.signed(estimate.lower), elo.signed(estimate.upper), estimate.model,
            estimate.samples,
            "pairs" if estimate.model == "pentanomial" else "games"))
    if mixed:
        print("%-18s %5s %4s %4s %4s %6s %17s" % ("rule and board", "games", "win", "loss",
                                                 "draw", "score", "Elo (95%)"))
        for variant, t in zip(variants, per_variant):
            e = t.estimate()
            print("%-18s %5d %4d %4d %4d %5.1f%% %17s" % (
                variant.label, t.games, t.wins, t.losses, t.draws, 100.0 * t.score(),
                "%s ± %.1f" % (elo.signed(e.elo), e.margin) if e else "-"))
    if args.sprt:
        print("SPRT elo0 %g elo1 %g: LLR %+.2f [%+.2f, %+.2f]: %s" % (
            args.sprt[0], args.sprt[1], llr, bounds[0], bounds[1],
            {"H1": "elo1 accepted", "H0": "elo0 accepted"}.get(verdict,
                                                               "no decision within the games")))
    waits = sorted(stats[0]["waits"] + stats[1]["waits"])
    load = monitor.summary()
    print("machine: %s; wait for a processor per move: %s; %d game%s replayed after a late "
          "move under load" % (
              "load average %.2f (min %.2f, max %.2f)" % (load["mean"], load["min"], load["max"])
              if load else "load unknown",
              "median %.1f ms, 99th percentile %.1f ms, max %.1f ms" % (
                  waits[len(waits) // 2], waits[min(len(waits) - 1, len(waits) * 99 // 100)],
                  waits[-1]) if waits else "unknown",
              len(voided), "" if len(voided) == 1 else "s"))
    if failures:
        print("failures (counted as losses of the engine that failed):")
        for number, engine_number, kind, text in failures:
            print("  game %d: E%d %s: %s" % (number, engine_number + 1, kind, text))
    print("wall time %.0f s" % wall)
    if args.out:
        summary = {
            "engines": [{"name": names[i], "command": commands[i], "info": infos[i],
                         "tolerance_ms": tolerance[i],
                         **{k: stats[i][k] for k in ("games", "wins", "losses", "draws")},
                         "failures": {k: stats[i][k] for k in FAILURE_KINDS},
                         "worst_ms": round(stats[i]["worst"], 1)} for i in range(2)],
            "timeout_turn": args.timeout_turn, "timeout_match": args.timeout_match,
            "concurrency": args.concurrency,
            "variants": [{"rule": v.rule, "width": v.width, "height": v.height,
                          "openings": os.path.relpath(v.openings_path, os.path.dirname(here)),
                          "games": t.games, "wins": t.wins, "losses": t.losses,
                          "draws": t.draws, "pentanomial": t.pentanomial(),
                          "elo": t.estimate().as_dict() if t.estimate() else None}
                         for v, t in zip(variants, per_variant)],
            "games": tally.games, "wins": tally.wins, "losses": tally.losses,
            "draws": tally.draws, "score": round(tally.score(), 5), "pentanomial": penta,
            "elo": estimate.as_dict() if estimate else None,
            "sprt": {"elo0": args.sprt[0], "elo1": args.sprt[1], "alpha": args.alpha,
                     "beta": args.beta, "llr": round(llr, 4), "bounds": list(bounds),
                     "verdict": verdict} if args.sprt else None,
            "load": load, "replayed": [{"game": n, "reason": r, "wait_ms": round(w, 1)}
                                       for n, r, w in voided],
            "wait_ms": {"median": waits[len(waits) // 2], "max": waits[-1]} if waits else None,
            "failures": [{"game": n, "engine": names[e], "kind": k, "text": t}
                         for n, e, k, t in failures],
            "wall_s": round(wall, 1), "records": sorted(records, key=lambda r: r["game"]),
        }
        with open(os.path.join(args.out, "summary.json"), "w") as f:
            json.dump(summary, f, indent=1)
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
