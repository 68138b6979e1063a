#!/usr/bin/env python3
"""Pools the summaries of several strength runs of the same two engines.

A run of a few hundred games often ends without a decision, and a second run
from other openings narrows the interval only when both are counted as one.
This reads each run's summary.json (written by tools/match.py, so by
tools/strength.sh too), refuses runs that cannot be pooled (other sides or
INFO settings, another time per move or match clock, a run named twice),
adds up the pair outcomes and the games, overall and per rule and board, and
prints the pooled Elo with its 95% interval and, with --sprt, the
log-likelihood ratio of the pooled pairs.

The pooled ratio treats the runs as one long run. A run that a sequential
test stopped early leans a little towards the verdict that stopped it, so
pool runs of fixed length where it matters.

    tools/pool_runs.py [--sprt ELO0 ELO1 [--alpha A] [--beta B]] RUN [RUN ...]

RUN is a run's folder (the --out of strength.sh) or its summary.json, each
run named once. Exit status 2 when the runs cannot be pooled.
"""

import argparse
import json
import os
import sys

import elo


class PoolError(Exception):
    pass


def summary_file(run):
    """The summary.json a RUN argument names, as one canonical path."""
    return os.path.realpath(os.path.join(run, "summary.json") if os.path.isdir(run) else run)


def load_summary(path):
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError) as e:
        raise PoolError("%s: %s" % (path, e))


def _conditions(summary):
    """What two runs must share to be pooled: each side's name, command and
    INFO settings, and the time. (The same command may be a rebuilt engine:
    which build played is for the caller to know.)"""
    engines = tuple((e["name"], e["command"], tuple(e.get("info", [])))
                    for e in summary["engines"])
    return engines, summary["timeout_turn"], summary.get("timeout_match", 0)


def _variant_key(v):
    return (v["rule"], v["width"], v["height"])


class Counts:
    def __init__(self):
        self.games = self.wins = self.losses = self.draws = 0
        self.pentanomial = [0, 0, 0, 0, 0]

    def add(self, part):
        self.games += part["games"]
        self.wins += part["wins"]
        self.losses += part["losses"]
        self.draws += part["draws"]
        self.pentanomial = [a + b for a, b in zip(self.pentanomial, part["pentanomial"])]

    def estimate(self):
        return elo.estimate(self.pentanomial, self.wins, self.losses, self.draws)


def pool(summaries):
    """(conditions, overall Counts, [(variant label, Counts)] in first-seen order)."""
    if not summaries:
        raise PoolError("no run to pool")
    conditions = _conditions(summaries[0])
    overall = Counts()
    per_variant = {}
    labels = []
    for s in summaries:
        if _conditions(s) != conditions:
            raise PoolError("runs differ in engines, settings or time: %s against %s"
                            % (_conditions(s), conditions))
        overall.add(s)
        for v in s.get("variants", []):
            key = _variant_key(v)
            if key not in per_variant:
                per_variant[key] = Counts()
                labels.append((key, "%s %dx%d" % (v["rule"], v["width"], v["height"])))
            per_variant[key].add(v)
    return conditions, overall, [(label, per_variant[key]) for key, label in labels]


def report(conditions, overall, variants, runs, sprt=None, bounds=None):
    engines, timeout_turn, timeout_match = conditions
    names = [e[0] for e in engines]
    lines = ["%d run%s of %s against %s, %d ms a move%s" % (
        runs, "" if runs == 1 else "s", names[0], names[1], timeout_turn,
        ", match clock %d ms" % timeout_match if timeout_match else "")]
    lines.append("%s against %s: %d wins, %d losses, %d draws of %d games" % (
        names[0], names[1], overall.wins, overall.losses, overall.draws, overall.games))
    lines.append("pairs by %s's points (0, 1/2, 1, 3/2, 2): %s"
                 % (names[0], " ".join(map(str, overall.pentanomial))))
    e = overall.estimate()
    if e:
        lines.append("%s, interval [%s, %s], %s over %d %s" % (
            e.line(), elo.signed(e.lower), elo.signed(e.upper), e.model, e.samples,
            "pairs" if e.model == "pentanomial" else "games"))
    for label, t in variants:
        v = t.estimate()
        lines.append("  %-18s %5d games  %s" % (
            label, t.games, "%s ± %.1f" % (elo.signed(v.elo), v.margin) if v else "-"))
    if sprt:
        llr = elo.sprt_llr(overall.pentanomial, *sprt)
        verdict = elo.sprt_verdict(llr, bounds)
        lines.append("SPRT elo0 %g elo1 %g over the pooled pairs: LLR %+.2f [%+.2f, %+.2f]: %s" % (
            sprt[0], sprt[1], llr, bounds[0], bounds[1],
            {"H1": "elo1 accepted", "H0": "elo0 accepted"}.get(verdict, "no decision")))
    return "\n".join(lines)


def main(argv):
    parser = argparse.ArgumentParser(description="Pool the summaries of strength runs.")
    parser.add_argument("runs", nargs="+", metavar="RUN")
    parser.add_argument("--sprt", nargs=2, type=float, metavar=("ELO0", "ELO1"))
    parser.add_argument("--alpha", type=float, default=0.05)
    parser.add_argument("--beta", type=float, default=0.05)
    args = parser.parse_args(argv)
    if args.sprt and elo.sprt_settings_fault(*args.sprt, args.alpha, args.beta):
        parser.error(elo.sprt_settings_fault(*args.sprt, args.alpha, args.beta))
    files = [summary_file(r) for r in args.runs]
    if len(set(files)) != len(files):
        print("pool_runs: a run is named twice; its games would count twice", file=sys.stderr)
        return 2
    try:
        summaries = [load_summary(f) for f in files]
        conditions, overall, variants = pool(summaries)
    except (KeyError, TypeError) as e:
        print("pool_runs: not a match summary (no %s)" % e, file=sys.stderr)
        return 2
    except PoolError as e:
        print("pool_runs: %s" % e, file=sys.stderr)
        return 2
    bounds = elo.sprt_bounds(args.alpha, args.beta) if args.sprt else None
    print(report(conditions, overall, variants, len(summaries), args.sprt, bounds))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
