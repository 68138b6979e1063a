#!/usr/bin/env python3
"""Builds a balanced opening set for strength matches.

Candidates are random openings of 3 to 5 stones near the centre: the first
stone on the centre point, each later one within two points of a stone
already down and within three of the centre, colours alternating from
black. A candidate is kept when

  1. it is new: no rotation or reflection of it is in the set already;
  2. it breaks no rule: no five, and in Renju no stone of black's on a
     forbidden point;
  3. neither side has a forced win by continuous fours (the engine's own
     threat search, as zorvan-probe prints it on its "T" line);
  4. a fixed-depth search of the exact engine (INFO search classic, a depth
     limit, the per-depth lines switched on) scores it within --margin
     evaluation units of even for the side to move, with no proven result.

Fixed depth, not a time limit, so that the same seed builds the same set on
any machine. The file holds the stones as offsets from the centre point
(height / 2, width / 2), as tools/match.py reads them, with the score as a
comment.

usage: make_openings.py --rule renju --size 15 --count 60 [--seed 1] [--depth 8]
                        [--margin 60] [--engine build/pbrain-zorvan]
                        [--probe build/zorvan-probe] [--out FILE]
"""

import argparse
import os
import random
import re
import subprocess
import sys
import time

from brain_driver import Engine, EngineFailure, start_engine
from referee import BLACK, EMPTY, RULES, WHITE, Board, is_forbidden, wins

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
_VALUE = re.compile(r"\bvalue ([+-]?\d+|[+-](?:win|loss) \d+)")


def symmetries(offsets):
    """The eight images of a set of centre offsets under the square's
    rotations and reflections."""
    images = []
    for swap in (False, True):
        for sx in (1, -1):
            for sy in (1, -1):
                images.append(frozenset(((sx * (y if swap else x), sy * (x if swap else y))
                                         for x, y in offsets)))
    return images


def canonical(moves):
    """A key shared by an opening and its images. Colours count: the black
    stones and the white stones are mapped together."""
    black, white = moves[0::2], moves[1::2]
    keys = []
    for b, w in zip(symmetries(black), symmetries(white)):
        keys.append((tuple(sorted(b)), tuple(sorted(w))))
    return min(keys)


def random_opening(rng, stones):
    moves = [(0, 0)]
    while len(moves) < stones:
        near = rng.choice(moves)
        move = (near[0] + rng.randint(-2, 2), near[1] + rng.randint(-2, 2))
        if move in moves or max(abs(move[0]), abs(move[1])) > 3:
            continue
        moves.append(move)
    return moves


def breaks_a_rule(moves, rule, height, width):
    board = Board(height, width)
    cx, cy = height // 2, width // 2
    for i, (dx, dy) in enumerate(moves):
        x, y = cx + dx, cy + dy
        colour = BLACK if i % 2 == 0 else WHITE
        if rule == "renju" and colour == BLACK and is_forbidden(board, x, y):
            return True
        board.put(x, y, colour)
        if wins(board, x, y, colour, rule):
            return True
    return False


def has_forced_four_win(probe, moves, rule, height, width):
    """True when the engine's threat search finds a win by fours for either
    side (zorvan-probe's "T black white" line, 0 for none)."""
    cx, cy = height // 2, width // 2
    tokens = ["%d,%d" % (cx + dx, cy + dy) for dx, dy in moves]
    code = {"freestyle": 0, "standard": 1, "renju": 2}[rule]
    out = subprocess.run([probe, str(code), str(width), str(height)] + tokens,
                         stdout=subprocess.PIPE, check=True, timeout=120).stdout.decode()
    line = [l for l in out.splitlines() if l.startswith("T ")][-1]
    return any(int(v) != 0 for v in line.split()[1:])


def search_value(engine_command, moves, rule, height, width, depth):
    """The value of the last completed depth, for the side to move: an int,
    or a string such as "+win 7" for a proven result."""
    engine = Engine(engine_command)
    try:
        start_engine(engine, width, height, rule, 1000000, 0)
        engine.send("INFO search classic\nINFO max_depth %d\nINFO show_detail 1\n" % depth)
        cx, cy = height // 2, width // 2
        turn = len(moves) % 2
        text = "BOARD\n" + "".join("%d,%d,%d\n" % (cx + dx, cy + dy, 1 if i % 2 == turn else 2)
                                   for i, (dx, dy) in enumerate(moves)) + "DONE\n"
        value = None
        engine.send(text)
        while True:
            _, line = engine.next_line(time.monotonic() + 600.0 * engine.slowdown)
            if line is None:
                raise EngineFailure("time", "no answer")
            if line.startswith("MESSAGE depth"):
                found = _VALUE.search(line)
                if found:
                    value = found.group(1)
            elif not line.startswith("MESSAGE"):
                break
        if value is None:
            raise EngineFailure("protocol", "no per-depth line: does the engine know "
                                            "INFO show_detail?")
        return int(value) if re.fullmatch(r"[+-]?\d+", value) else value
    finally:
        engine.finish()
        engine.kill()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rule", required=True, choices=sorted(RULES))
    parser.add_argument("--size", type=int, default=15)
    parser.add_argument("--count", type=int, default=60)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--depth", type=int, default=8)
    parser.add_argument("--margin", type=int, default=60,
                        help="largest |value| kept, in evaluation units")
    parser.add_argument("--engine", default=os.path.join(ROOT, "build", "pbrain-zorvan"))
    parser.add_argument("--probe", default=os.path.join(ROOT, "build", "zorvan-probe"))
    parser.add_argument("--tries", type=int, default=5000, help="candidates at most")
    parser.add_argument("--out", default="")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    seen, kept = set(), []
    tried = repeated = rejected_rule = rejected_four = rejected_value = 0
    while len(kept) < args.count and tried < args.tries:
        tried += 1
        moves = random_opening(rng, rng.randint(3, 5))
        key = canonical(moves)
        if key in seen:
            repeated += 1
            continue
        seen.add(key)
        if breaks_a_rule(moves, args.rule, args.size, args.size):
            rejected_rule += 1
            continue
        if has_forced_four_win(args.probe, moves, args.rule, args.size, args.size):
            rejected_four += 1
            continue
        value = search_value(args.engine, moves, args.rule, args.size, args.size, args.depth)
        if not isinstance(value, int) or abs(value) > args.margin:
            rejected_value += 1
            continue
        kept.append((moves, value))
        print("%3d  %-32s value %+d" % (len(kept), " ".join("%d,%d" % m for m in moves), value),
              file=sys.stderr)
    lines = [
        "# Balanced openings for %s on %dx%d, built by tools/make_openings.py --rule %s "
        "--size %d --count %d --seed %d --depth %d --margin %d."
        % (args.rule, args.size, args.size, args.rule, args.size, args.count, args.seed,
           args.depth, args.margin),
        "# Moves are offsets from the centre, black first; each is played twice, colours "
        "swapped.",
        "# Kept %d of %d candidates: %d repeated one already seen, %d broke a rule, %d had a "
        "win by fours, %d scored beyond the margin."
        % (len(kept), tried, repeated, rejected_rule, rejected_four, rejected_value),
        "# The comment is the depth-%d value for the side to move." % args.depth,
    ]
    lines += ["%-32s # %+d" % (" ".join("%d,%d" % m for m in moves), value)
              for moves, value in kept]
    text = "\n".join(lines) + "\n"
    if args.out:
        with open(args.out, "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)
    if len(kept) < args.count:
        print("make_openings: only %d of %d openings within %d tries"
              % (len(kept), args.count, args.tries), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
