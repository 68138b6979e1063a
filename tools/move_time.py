#!/usr/bin/env python3
"""Measures how long a fresh brain takes for its first move and its next one.

For every rule a new brain process is started and driven as a manager drives
it: START, the INFO settings, a BOARD block with a few stones, then one TURN.
The time of a move is the wall time from writing its command (the whole BOARD
block, or the TURN line) to reading the move line. The first move of a game is
where start-up work hides (tables built for the rule, first use of memory), so
it is the one that tells whether the engine's clock sees everything the
manager's clock sees.

usage:
  move_time.py ENGINE [--rules freestyle,standard,renju] [--timeout-turn MS]
               [--runs N] [--info-first]

ENGINE is a command line, e.g. "qemu-i386 build/pbrain-zorvan32". With
--info-first the INFO lines go before START (the rule is then known when the
game starts); by default they follow it, as most managers send them.
"""

import argparse
import shlex
import statistics
import subprocess
import sys
import time

RULES = {"freestyle": 0, "standard": 1, "renju": 4}
# Four stones near the centre of a 15x15 board, black to move next; who 1 is
# the brain's own stone, 2 the opponent's, alternating from black.
BOARD_STONES = ((7, 7), (7, 8), (6, 8), (8, 6))
# The opponent's reply before the next move is chosen by another brain of the
# same command at this move time, so that the next move is an ordinary think
# rather than the end of a won or lost game.
REPLY_TIME_MS = 300


class Brain:
    def __init__(self, command):
        self.proc = subprocess.Popen(shlex.split(command), stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def send(self, text):
        started = time.monotonic()
        self.proc.stdin.write(text.encode())
        self.proc.stdin.flush()
        return started

    def read_until(self, wanted):
        """Returns (arrival time, line) of the first line for which wanted() holds."""
        while True:
            raw = self.proc.stdout.readline()
            if not raw:
                raise SystemExit("the brain ended early (status %s)" % self.proc.poll())
            arrived = time.monotonic()
            line = raw.decode(errors="replace").rstrip("\r\n")
            if wanted(line):
                return arrived, line

    def close(self):
        try:
            self.proc.stdin.write(b"END\n")
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def is_move(line):
    parts = line.split(",")
    return len(parts) == 2 and all(p.strip().lstrip("-").isdigit() for p in parts)


def board_block(stones):
    """A BOARD block for the brain to move after `stones` (colours alternate
    from black, so the side to move owns the stones of the other parity)."""
    mover = len(stones) % 2
    block = "BOARD\n"
    for i, (x, y) in enumerate(stones):
        block += "%d,%d,%d\n" % (x, y, 1 if i % 2 == mover else 2)
    return block + "DONE\n"


def opponent_reply(command, rule, stones):
    brain = Brain(command)
    try:
        brain.send("START 15\n")
        brain.read_until(lambda line: line == "OK")
        brain.send("INFO timeout_turn %d\nINFO rule %d\n" % (REPLY_TIME_MS, RULES[rule]))
        brain.send(board_block(stones))
        return brain.read_until(is_move)[1]
    finally:
        brain.close()


def one_game(command, rule, timeout_turn, info_first):
    """(first move ms, next move ms) of one fresh brain."""
    brain = Brain(command)
    info = "INFO timeout_turn %d\nINFO time_left 2147483647\nINFO rule %d\n" % (
        timeout_turn, RULES[rule])
    try:
        if info_first:
            brain.send(info)
        brain.send("START 15\n")
        brain.read_until(lambda line: line == "OK")
        if not info_first:
            brain.send(info)
        sent = brain.send(board_block(BOARD_STONES))
        arrived, move = brain.read_until(is_move)
        first = (arrived - sent) * 1000.0
        stones = list(BOARD_STONES) + [tuple(int(v) for v in move.split(","))]
        reply = opponent_reply(command, rule, stones)
        sent = brain.send("TURN %s\n" % reply)
        arrived, _ = brain.read_until(is_move)
        return first, (arrived - sent) * 1000.0
    finally:
        brain.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("engine")
    parser.add_argument("--rules", default="freestyle,standard,renju")
    parser.add_argument("--timeout-turn", type=int, default=1000)
    parser.add_argument("--runs", type=int, default=3, help="fresh brains per rule")
    parser.add_argument("--info-first", action="store_true")
    args = parser.parse_args()
    rules = args.rules.split(",")
    for rule in rules:
        if rule not in RULES:
            parser.error("unknown rule %r" % rule)

    print("%s, timeout_turn %d ms, %d run(s) per rule, INFO %s START"
          % (args.engine, args.timeout_turn, args.runs, "before" if args.info_first else "after"))
    print("%-10s %-28s %-28s" % ("rule", "first move ms (median, max)", "next move ms (median, max)"))
    for rule in rules:
        firsts, nexts = [], []
        for _ in range(args.runs):
            first, following = one_game(args.engine, rule, args.timeout_turn, args.info_first)
            firsts.append(first)
            nexts.append(following)
        print("%-10s %6.0f %6.0f   %-16s %6.0f %6.0f   %s"
              % (rule, statistics.median(firsts), max(firsts),
                 " ".join("%.0f" % v for v in firsts), statistics.median(nexts), max(nexts),
                 " ".join("%.0f" % v for v in nexts)))
        sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
