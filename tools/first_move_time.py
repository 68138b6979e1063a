#!/usr/bin/env python3
"""Time from START to the engine's first move, as a manager sees it.

Each run starts a fresh brain, waits until it answers ABOUT (its start-up,
which sets up the search tables, is over), then sends INFO timeout_turn, the
rule and START, and as soon as OK arrives, TURN at the centre. It reports the
start-up time, and the time from sending START to OK and to the first move:
the board build (which clears the tables when the rule is not the one they
were set up for, Renju for example), plus the first think. With two engines the runs alternate between them, so that a
change in the machine's load touches both alike.

usage:
  first_move_time.py ENGINE [ENGINE2] [--runs N] [--timeout-turn MS]
                     [--rule R] [--size N]

ENGINE is a command line, e.g. "qemu-i386 build/pbrain-zorvan32".
"""

import argparse
import shlex
import statistics
import subprocess
import sys
import time


def read_until(proc, wanted, what):
    """Reads lines until one satisfies wanted; returns it and its arrival time."""
    while True:
        line = proc.stdout.readline()
        if not line:
            raise RuntimeError("the engine closed its output while waiting for %s" % what)
        text = line.strip()
        if text.startswith(("ERROR", "UNKNOWN")):
            raise RuntimeError("the engine answered %r while waiting for %s" % (text, what))
        if wanted(text):
            return text, time.perf_counter()


def is_move(text):
    parts = text.split(",")
    return len(parts) == 2 and all(p.strip().isdigit() for p in parts)


def one_run(command, args):
    spawned = time.perf_counter()
    proc = subprocess.Popen(shlex.split(command), stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, text=True, bufsize=1)
    try:
        proc.stdin.write("ABOUT\n")
        proc.stdin.flush()
        _, ready = read_until(proc, lambda t: t.startswith("name="), "the ABOUT answer")
        proc.stdin.write("INFO timeout_turn %d\nINFO rule %d\n" % (args.timeout_turn, args.rule))
        start = time.perf_counter()
        proc.stdin.write("START %d\n" % args.size)
        proc.stdin.flush()
        _, ok = read_until(proc, lambda t: t == "OK", "OK")
        centre = args.size // 2
        proc.stdin.write("TURN %d,%d\n" % (centre, centre))
        proc.stdin.flush()
        _, moved = read_until(proc, is_move, "the first move")
        proc.stdin.write("END\n")
        proc.stdin.flush()
        proc.wait(timeout=30)
        return (ready - spawned) * 1000.0, (ok - start) * 1000.0, (moved - start) * 1000.0
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("engines", nargs="+", help="one or two engine command lines")
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--timeout-turn", type=int, default=100)
    parser.add_argument("--rule", type=int, default=0, help="as INFO rule: 0, 1 or 4 (Renju)")
    parser.add_argument("--size", type=int, default=15)
    args = parser.parse_args()
    if len(args.engines) > 2:
        parser.error("give one or two engines")

    results = [([], [], []) for _ in args.engines]
    for run in range(args.runs):
        # Alternate which engine goes first in a round.
        order = list(range(len(args.engines)))
        if run % 2:
            order.reverse()
        for i in order:
            for column, ms in zip(results[i], one_run(args.engines[i], args)):
                column.append(ms)

    print("START %d, rule %d, timeout_turn %d ms, %d runs each (ms)"
          % (args.size, args.rule, args.timeout_turn, args.runs))
    print("%-6s %15s %15s %15s  %s" % ("", "start-up", "START to OK", "START to move",
                                        "(median / best)"))
    for i, columns in enumerate(results):
        print("%-6s %s  %s" % ("E%d" % (i + 1), " ".join(
            "%7.1f /%6.1f" % (statistics.median(c), min(c)) for c in columns), args.engines[i]))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except RuntimeError as e:
        print("first_move_time: %s" % e, file=sys.stderr)
        sys.exit(1)
