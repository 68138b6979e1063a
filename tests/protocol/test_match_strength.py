"""The match runner as a strength test: its statistics against worked
examples, and matches of scripted brains played several at a time, with
settings for one side only, mixed rules and a sequential stopping rule."""

import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TOOLS = os.path.join(ROOT, "tools")
sys.path.insert(0, TOOLS)
sys.path.insert(1, os.path.join(ROOT, "webboard"))

import elo  # noqa: E402
from make_openings import breaks_a_rule, canonical, random_opening  # noqa: E402
from match import default_openings, late_by_load, load_openings, schedule  # noqa: E402
import pool_runs  # noqa: E402
from records import parse_sgf  # noqa: E402
from test_match_referee import FakeBrains, skip_with_wrapper  # noqa: E402


@skip_with_wrapper
class Statistics(unittest.TestCase):
    def test_score_and_elo(self):
        self.assertAlmostEqual(elo.elo_of_score(0.5), 0.0)
        # 3 points to 1: 400 * log10(3).
        self.assertAlmostEqual(elo.elo_of_score(0.75), 190.8485, places=3)
        self.assertAlmostEqual(elo.elo_of_score(0.25), -190.8485, places=3)
        for e in (-300.0, -12.5, 0.0, 70.0, 500.0):
            self.assertAlmostEqual(elo.elo_of_score(elo.expected_score(e)), e, places=6)
        # A sweep is clipped, not infinite.
        self.assertLess(elo.elo_of_score(1.0), 3000.0)
        self.assertGreater(elo.elo_of_score(0.0), -3000.0)

    def test_interval_over_pairs(self):
        # Ten pairs: five split 1-1, five won 2-0. Mean 0.75, pair variance
        # 0.0625, standard error 0.25 / sqrt(10); 95% ends at scores
        # 0.75 -+ 0.15495, that is +66.86 and +391.47 Elo.
        counts = elo.pentanomial([1.0] * 5 + [2.0] * 5)
        self.assertEqual(counts, [0, 0, 5, 0, 5])
        e = elo.estimate(counts, 15, 0, 5)
        self.assertEqual((e.model, e.samples), ("pentanomial", 10))
        self.assertAlmostEqual(e.elo, 190.85, places=2)
        self.assertAlmostEqual(e.lower, 66.86, places=2)
        self.assertAlmostEqual(e.upper, 391.47, places=2)
        self.assertAlmostEqual(e.margin, (391.47 - 66.86) / 2, places=1)
        self.assertTrue(e.line().startswith("Elo +190.8 ± 162.3 (95%)"), e.line())

    def test_interval_over_games_without_pairs(self):
        # 6 wins, 2 losses, 2 draws: mean 0.7, game variance 0.16.
        e = elo.estimate([0] * 5, 6, 2, 2)
        self.assertEqual((e.model, e.samples), ("trinomial", 10))
        self.assertAlmostEqual(e.elo, 147.19, places=2)
        self.assertAlmostEqual(e.lower, -33.40, places=2)
        self.assertAlmostEqual(e.upper, 504.03, places=2)
        self.assertIsNone(elo.estimate([0] * 5, 0, 0, 0))

    def test_pairs_that_always_split_show_equal_engines(self):
        # Unbalanced openings: every pair 1-1. Over games it looks like a
        # coin toss; over pairs it is exactly even.
        paired = elo.estimate(elo.pentanomial([1.0] * 20), 20, 20, 0)
        unpaired = elo.estimate([0] * 5, 20, 20, 0)
        self.assertAlmostEqual(paired.elo, 0.0)
        self.assertAlmostEqual(paired.margin, 0.0)
        self.assertGreater(unpaired.margin, 100.0)

    def test_sprt(self):
        lower, upper = elo.sprt_bounds(0.05, 0.05)
        self.assertAlmostEqual(lower, -2.944439, places=5)
        self.assertAlmostEqual(upper, 2.944439, places=5)
        self.assertAlmostEqual(elo.sprt_bounds(0.05, 0.10)[0], -2.251292, places=5)
        # Settings both tools refuse: reversed hypotheses, error rates out of range.
        self.assertIsNone(elo.sprt_settings_fault(0.0, 30.0, 0.05, 0.05))
        for bad in ((30.0, 0.0, 0.05, 0.05), (0.0, 0.0, 0.05, 0.05), (0.0, 5.0, 0.5, 0.05),
                    (0.0, 5.0, 0.05, 0.0)):
            self.assertIsNotNone(elo.sprt_settings_fault(*bad), bad)
        # Mean 0.75, variance 0.0625 over 10 pairs; s0 = 0.5, s1 = 0.6
        # (elo1 = 400 log10 1.5): 10 * 0.1 * (1.5 - 1.1) / 0.125 = 3.2.
        counts = [0, 0, 5, 0, 5]
        llr = elo.sprt_llr(counts, 0.0, 400.0 * 0.17609125905568124)
        self.assertAlmostEqual(llr, 3.2, places=6)
        self.assertEqual(elo.sprt_verdict(llr, (lower, upper)), "H1")
        self.assertEqual(elo.sprt_verdict(-llr, (lower, upper)), "H0")
        self.assertIsNone(elo.sprt_verdict(1.0, (lower, upper)))
        # Mirrored results give the mirrored ratio between symmetric hypotheses.
        self.assertAlmostEqual(elo.sprt_llr([5, 0, 5, 0, 0], -10.0, 10.0),
                               -elo.sprt_llr([0, 0, 5, 0, 5], -10.0, 10.0))
        self.assertEqual(elo.sprt_llr([0] * 5, 0.0, 10.0), 0.0)
        self.assertEqual(elo.sprt_llr([0, 0, 7, 0, 0], 0.0, 10.0), 0.0)
        # A clean sweep has no variance but still decides.
        self.assertGreater(elo.sprt_llr([0, 0, 0, 0, 12], 0.0, 10.0), upper)
        self.assertLess(elo.sprt_llr([12, 0, 0, 0, 0], 0.0, 10.0), lower)

    def test_schedule_pairs_openings_and_spreads_variants(self):
        class V:
            def __init__(self, n):
                self.openings = [None] * n
        jobs = schedule([V(3), V(2)], 10, 1)
        # Both games of an opening come together, colours swapped.
        self.assertEqual([(v, o, s) for _, v, o, s in jobs[:4]],
                         [(0, 0, False), (0, 0, True), (1, 0, False), (1, 0, True)])
        self.assertEqual([(v, o) for _, v, o, _ in jobs[4:]],
                         [(0, 1), (0, 1), (1, 1), (1, 1), (0, 2), (0, 2)])
        # Openings wrap around a short file and --first-opening shifts them.
        self.assertEqual([o for _, _, o, _ in schedule([V(2)], 6, 2)], [1, 1, 0, 0, 1, 1])

    def test_a_late_move_is_put_down_to_the_machine_only_when_the_wait_explains_it(self):
        def game(ms, limit, wait, failures=1):
            return {"late": (1, ms, limit, wait),
                    "failures": [(1, "time", "late")] * failures}
        self.assertTrue(late_by_load(game(380.0, 200, 200.0)))
        self.assertFalse(late_by_load(game(380.0, 200, 150.0)))
        self.assertFalse(late_by_load(game(380.0, 200, 500.0, failures=2)))
        self.assertFalse(late_by_load({"late": None, "failures": [(0, "crash", "")]}))


@skip_with_wrapper
class Openings(unittest.TestCase):
    PAIRS = [("freestyle", 15), ("standard", 15), ("renju", 15), ("freestyle", 20)]

    def test_each_strength_pair_has_its_own_balanced_set(self):
        for rule, size in self.PAIRS:
            path = default_openings(TOOLS, rule, size, size)
            self.assertTrue(path.endswith("%s-%d.txt" % (rule, size)), path)
            openings = load_openings(path, size, size)
            # Enough for 2,400 games over the four pairs without playing an
            # opening twice with the same colours.
            self.assertGreaterEqual(len(openings), 300, path)
            with open(path) as f:
                text = f.read()
            margin = int(re.search(r"--margin (\d+)", text).group(1))
            values = [int(v) for v in re.findall(r"^[^#\n]*#\s*([+-]\d+)\s*$", text, re.M)]
            self.assertEqual(len(values), len(openings), path)
            self.assertLessEqual(max(abs(v) for v in values), margin, path)
            c = size // 2
            offsets = [[(x - c, y - c) for x, y in moves] for moves in openings]
            self.assertTrue(all(3 <= len(o) <= 5 for o in offsets), path)
            self.assertEqual(len({canonical(o) for o in offsets}), len(offsets),
                             "%s repeats an opening up to symmetry" % path)
            broken = [o for o in offsets if breaks_a_rule(o, rule, size, size)]
            self.assertEqual(broken, [], path)
        # A board without a set of its own falls back to the general file.
        self.assertTrue(default_openings(TOOLS, "renju", 13, 13).endswith("openings.txt"))

    def test_symmetric_openings_share_a_key_and_colours_count(self):
        opening = [(0, 0), (1, 0), (1, 2)]
        rotated = [(0, 0), (0, -1), (-2, -1)]
        mirrored = [(0, 0), (-1, 0), (-1, 2)]
        self.assertEqual(canonical(opening), canonical(rotated))
        self.assertEqual(canonical(opening), canonical(mirrored))
        self.assertNotEqual(canonical(opening), canonical([(1, 0), (0, 0), (1, 2)]))
        # Random candidates stay near the centre and never repeat a point.
        import random
        rng = random.Random(5)
        for _ in range(200):
            moves = random_opening(rng, 5)
            self.assertEqual(len(set(moves)), 5)
            self.assertTrue(all(max(abs(x), abs(y)) <= 3 for x, y in moves))
            self.assertEqual(moves[0], (0, 0))

    def test_a_rule_breaking_candidate_is_refused(self):
        # Five black stones in a line, white far away: the game would be over.
        five = [(0, -2), (3, 3), (0, -1), (3, -3), (0, 0), (-3, 3), (0, 1), (-3, -3), (0, 2)]
        self.assertTrue(breaks_a_rule(five, "freestyle", 15, 15))
        # Black's third stone at the crossing of two open twos is a double
        # three: forbidden in Renju, fine in freestyle.
        double_three = [(0, -1), (5, 5), (0, 0), (5, -5), (-1, 1), (-5, 5), (-2, 1), (-5, -5),
                        (0, 1)]
        self.assertTrue(breaks_a_rule(double_three, "renju", 15, 15))
        self.assertFalse(breaks_a_rule(double_three, "freestyle", 15, 15))


@skip_with_wrapper
class StrengthMatches(FakeBrains, unittest.TestCase):
    # Black makes five in row 7 while white plays along row 0, so whoever of
    # the two is black wins: engine 1's script also wins as white, since
    # engine 2's row-0 stones never make five.
    BLACK_FIVE = "7,3 7,4 7,5 7,6 7,7"
    WHITE_FAR = "0,0 0,2 0,4 0,6 0,8"

    def run_match(self, *options, engine2=None):
        out_dir = tempfile.mkdtemp(dir=self.dir.name)
        proc = subprocess.run(
            [sys.executable, os.path.join(TOOLS, "match.py"), self.fake(self.BLACK_FIVE),
             engine2 or self.fake(self.WHITE_FAR), "--timeout-turn", "1000", "--tolerance",
             "500", "--out", out_dir] + list(options),
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
        text = proc.stdout.decode()
        with open(os.path.join(out_dir, "summary.json")) as f:
            summary = json.load(f)
        return proc.returncode, text, out_dir, summary

    def test_games_at_once_keep_their_records_apart(self):
        status, text, out_dir, summary = self.run_match(
            "--openings", self.openings, "--games", "4", "--concurrency", "2",
            "--name1", "first", "--name2", "second")
        self.assertEqual(status, 0, text)
        self.assertIn("first against second: 4 wins, 0 losses, 0 draws of 4 games", text)
        self.assertIn("pairs by first's points (0, 1/2, 1, 3/2, 2): 0 0 0 0 2", text)
        self.assertRegex(text, r"\nElo \+\d+\.\d ± \d+\.\d \(95%\)\n")
        for number in (1, 2, 3, 4):
            with open(os.path.join(out_dir, "game-%03d.txt" % number)) as f:
                lines = f.read().splitlines()
            moves = [l.split("#")[0].strip() for l in lines if not l.startswith("#")]
            first_black = number % 2 == 1
            ours = ["7,3", "7,4", "7,5", "7,6", "7,7"]
            theirs = ["0,0", "0,2", "0,4", "0,6"]
            expected = ([m for pair in zip(ours, theirs + [""]) for m in pair][:9]
                        if first_black else
                        [m for pair in zip(theirs + ["0,8"], ours) for m in pair])
            self.assertEqual(moves, expected, number)
            # Every move names its player and think time.
            self.assertRegex(lines[-1], r"# first \d+ ms$")
            self.assertIn("# black: %s" % ("first" if first_black else "second"), lines[0])
            with open(os.path.join(out_dir, "game-%03d.sgf" % number)) as f:
                sgf = f.read()
            _, size, sgf_moves = parse_sgf(sgf)
            self.assertEqual((size, ["%d,%d" % m for m in sgf_moves]), ((15, 15), expected))
            self.assertIn("RE[%s+]" % ("B" if first_black else "W"), sgf)
        self.assertEqual((summary["games"], summary["wins"], summary["pentanomial"]),
                         (4, 4, [0, 0, 0, 0, 2]))
        self.assertEqual(sorted(r["game"] for r in summary["records"]), [1, 2, 3, 4])

    def test_a_failing_brain_loses_exactly_its_own_games(self):
        # Engine 2 crashes whenever it is black; two games run at once.
        status, text, _, summary = self.run_match(
            "--openings", self.openings, "--games", "4", "--concurrency", "2",
            engine2=self.fake(self.WHITE_FAR, "crash-as-black"))
        self.assertEqual(status, 1)
        failures = [l for l in text.splitlines() if l.startswith("     failure:")]
        self.assertEqual(len(failures), 2, text)
        self.assertTrue(all(" E2 crash: " in l for l in failures), failures)
        self.assertEqual(sorted(f["game"] for f in summary["failures"]), [2, 4])
        self.assertEqual(summary["engines"][1]["failures"]["crash"], 2)
        self.assertEqual(summary["engines"][0]["failures"], {k: 0 for k in summary["engines"][0]
                                                             ["failures"]})
        self.assertIn("E1 against E2: 4 wins", text)
        self.assertTrue(text.rstrip().endswith("2 passed, 2 failed"), text)

    def test_settings_go_to_one_side_only(self):
        status, text, _, summary = self.run_match(
            "--openings", self.openings, "--games", "2", "--info2", "fake_misbehave error")
        self.assertEqual(status, 1)
        self.assertEqual({(f["engine"], f["kind"]) for f in summary["failures"]},
                         {("E2", "protocol")})
        self.assertEqual(summary["engines"][0]["failures"]["protocol"], 0)
        self.assertIn("(INFO fake_misbehave error)", text)
        status, text, _, summary = self.run_match(
            "--openings", self.openings, "--games", "2", "--info1", "fake_misbehave crash")
        self.assertEqual([(f["engine"], f["kind"]) for f in summary["failures"]],
                         [("E1", "crash")] * 2)
        self.assertIn("E1 against E2: 0 wins, 2 losses", text)

    def test_mixed_rules_are_tallied_apart(self):
        status, text, _, summary = self.run_match(
            "--variant", "freestyle:15:" + self.openings, "--variant",
            "standard:15:" + self.openings, "--games", "6", "--concurrency", "2")
        self.assertEqual(status, 0, text)
        rows = {v["rule"]: (v["games"], v["wins"]) for v in summary["variants"]}
        self.assertEqual(rows, {"freestyle": (4, 4), "standard": (2, 2)})
        self.assertRegex(text, r"freestyle 15x15 +4 +4 +0 +0 100\.0%")
        self.assertRegex(text, r"standard 15x15 +2 +2 +0 +0 100\.0%")
        self.assertEqual(len([l for l in text.splitlines() if "[standard 15x15] five" in l]), 2)

    def test_the_sequential_test_stops_when_the_answer_is_clear(self):
        status, text, _, summary = self.run_match(
            "--openings", self.openings, "--games", "60", "--concurrency", "2",
            "--sprt", "0", "20")
        self.assertEqual(status, 0, text)
        self.assertEqual(summary["sprt"]["verdict"], "H1")
        self.assertLess(summary["games"], 60)
        self.assertGreaterEqual(summary["sprt"]["llr"], summary["sprt"]["bounds"][1])
        self.assertIn("elo1 accepted", text)
        llrs = [float(l.split()[2]) for l in text.splitlines() if l.startswith("     SPRT:")]
        self.assertEqual(len(llrs), summary["games"])
        self.assertEqual(llrs, sorted(llrs))  # every pair won: the ratio only grows


def _summary(penta_by_variant, info=(), timeout_turn=200):
    """A summary.json as match.py writes it, reduced to what pooling reads;
    the two games of each pair as its outcome gives them (a pair worth 1
    point as a win and a loss)."""
    variants, total = [], {"games": 0, "wins": 0, "losses": 0, "draws": 0,
                           "pentanomial": [0] * 5}
    # Wins, losses and draws of a pair worth 0, 1/2, 1, 3/2 and 2 points.
    outcome_games = ((0, 2, 0), (0, 1, 1), (1, 1, 0), (1, 0, 1), (2, 0, 0))
    for (rule, size), penta in penta_by_variant.items():
        w, lo, d = (sum(g[i] * n for g, n in zip(outcome_games, penta)) for i in range(3))
        v = {"rule": rule, "width": size, "height": size, "games": 2 * sum(penta),
             "wins": w, "losses": lo, "draws": d, "pentanomial": list(penta)}
        variants.append(v)
        for key in ("games", "wins", "losses", "draws"):
            total[key] += v[key]
        total["pentanomial"] = [a + b for a, b in zip(total["pentanomial"], penta)]
    engines = [{"name": "new", "command": "/x/new", "info": list(info)},
               {"name": "base", "command": "/x/base", "info": []}]
    return dict(total, engines=engines, timeout_turn=timeout_turn, timeout_match=0,
                variants=variants)


@skip_with_wrapper
class PooledRuns(unittest.TestCase):
    def test_runs_pool_into_one_estimate_and_test(self):
        a = _summary({("freestyle", 15): [2, 1, 10, 1, 6], ("renju", 15): [3, 0, 12, 2, 3]})
        b = _summary({("renju", 15): [1, 2, 11, 1, 5], ("freestyle", 15): [2, 2, 9, 3, 4]})
        _, overall, variants = pool_runs.pool([a, b])
        self.assertEqual(overall.pentanomial, [8, 5, 42, 7, 18])
        self.assertEqual(overall.games, 160)
        self.assertEqual(overall.wins + overall.losses + overall.draws, 160)
        self.assertEqual([label for label, _ in variants], ["freestyle 15x15", "renju 15x15"])
        self.assertEqual(variants[1][1].pentanomial, [4, 2, 23, 3, 8])
        # The pooled figures are those of one run with all the pairs: the
        # interval narrower than either run's, the ratio the pooled one.
        pooled = overall.estimate()
        self.assertAlmostEqual(pooled.elo, elo.estimate([8, 5, 42, 7, 18], 0, 0, 0).elo)
        for one in (a, b):
            alone = elo.estimate(one["pentanomial"], 0, 0, 0)
            self.assertLess(pooled.margin, alone.margin)
        text = pool_runs.report(*pool_runs.pool([a, b]), 2, (0.0, 30.0),
                                elo.sprt_bounds(0.05, 0.05))
        llr = elo.sprt_llr([8, 5, 42, 7, 18], 0.0, 30.0)
        self.assertIn("LLR %+.2f" % llr, text)
        self.assertIn("of 160 games", text)

    def test_runs_of_other_engines_or_times_are_refused(self):
        a = _summary({("freestyle", 15): [1, 0, 3, 0, 1]})
        for other in (_summary({("freestyle", 15): [1, 0, 3, 0, 1]}, info=["search classic"]),
                      _summary({("freestyle", 15): [1, 0, 3, 0, 1]}, timeout_turn=1000)):
            with self.assertRaises(pool_runs.PoolError):
                pool_runs.pool([a, other])
        with tempfile.TemporaryDirectory() as tmp:
            for name, s in (("one", a), ("two", _summary({("renju", 15): [0, 0, 2, 0, 0]},
                                                         timeout_turn=1000))):
                os.mkdir(os.path.join(tmp, name))
                with open(os.path.join(tmp, name, "summary.json"), "w") as f:
                    json.dump(s, f)
            tool = os.path.join(TOOLS, "pool_runs.py")
            run = subprocess.run([sys.executable, tool, os.path.join(tmp, "one"),
                                  os.path.join(tmp, "two")], capture_output=True, text=True)
            self.assertEqual(run.returncode, 2, run.stderr)
            self.assertEqual(run.stdout, "")
            # The same run named twice would count its games twice.
            run = subprocess.run([sys.executable, tool, os.path.join(tmp, "one"),
                                  os.path.join(tmp, "one", "summary.json")],
                                 capture_output=True, text=True)
            self.assertEqual(run.returncode, 2, run.stdout)
            run = subprocess.run([sys.executable, tool, os.path.join(tmp, "one")],
                                 capture_output=True, text=True)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertIn("of 10 games", run.stdout)
            run = subprocess.run([sys.executable, tool, os.path.join(tmp, "none")],
                                 capture_output=True, text=True)
            self.assertEqual(run.returncode, 2)
            # Some other JSON file is refused in one line, not with a trace.
            with open(os.path.join(tmp, "other.json"), "w") as f:
                json.dump({"games": 3}, f)
            run = subprocess.run([sys.executable, tool, os.path.join(tmp, "other.json")],
                                 capture_output=True, text=True)
            self.assertEqual(run.returncode, 2)
            self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)


@skip_with_wrapper
class SideBySideBuilds(unittest.TestCase):
    def test_a_build_folder_follows_its_source_to_a_new_place(self):
        # The base of a strength run is exported to a new temporary folder every
        # run; building it into the folder the last run used must still work.
        with tempfile.TemporaryDirectory() as tmp:
            sources = []
            for name in ("first", "second"):
                src = os.path.join(tmp, name)
                os.mkdir(src)
                with open(os.path.join(src, "CMakeLists.txt"), "w") as f:
                    f.write("cmake_minimum_required(VERSION 3.13)\nproject(%s NONE)\n"
                            "add_custom_target(mark ALL COMMAND ${CMAKE_COMMAND} -E touch "
                            "${CMAKE_BINARY_DIR}/%s.mark)\n" % (name, name))
                sources.append(src)
            build = os.path.join(tmp, "build")
            for src in sources:
                script = 'source "%s"; release_build "%s" "%s" "%s" mark' % (
                    os.path.join(TOOLS, "build_rev.sh"), src, build,
                    os.path.join(tmp, "log"))
                proc = subprocess.run(["bash", "-c", script], timeout=120)
                with open(os.path.join(tmp, "log")) as f:
                    log = f.read()
                self.assertEqual(proc.returncode, 0, log)
                name = os.path.basename(src)
                self.assertTrue(os.path.exists(os.path.join(build, name + ".mark")), log)


if __name__ == "__main__":
    unittest.main()
