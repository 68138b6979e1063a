"""zorvan-tune-eval, the fit behind the default search's evaluation amounts.

The fit is checked where it can be wrong without anyone noticing: given
samples whose labels were made from known amounts, it must find those amounts
and leave the others near zero; and the distillation path must turn match
records into samples labelled by real search values, the same whether they are
fitted at once or dumped and loaded back.
"""

import math
import os
import random
import re
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(1, os.path.join(ROOT, "webboard"))

from match import Settings, write_game  # noqa: E402

PAIRS = 105


def tool_path():
    engine = os.environ.get("ZORVAN_ENGINE", "")
    path = os.path.join(os.path.dirname(engine), "zorvan-tune-eval")
    return path if os.path.exists(path) else None


def run_tool(*args):
    return subprocess.run([tool_path(), *args], capture_output=True, text=True, timeout=600)


def rows_of(output):
    return [[int(v) for v in row.split(",")]
            for row in re.findall(r"row:\n\s*\{([^}]*)\}", output)]


def random_record(out_dir, number, rng, size, rule, moves):
    """A game record written by the match runner itself: scattered stones, so
    that no position holds a threat."""
    points = [(x, y) for x in range(size) for y in range(size) if (x + 2 * y) % 5 == 0]
    rng.shuffle(points)
    game = {"moves": points[:moves], "times": [], "result": rng.choice(["1-0", "0-1"]),
            "reason": "five"}
    write_game(out_dir, number, game, ("A", "B"), (0, 1), 0, Settings(rule, size, size, 100, 0))


@unittest.skipUnless(tool_path() and not os.environ.get("ZORVAN_WRAPPER"),
                     "zorvan-tune-eval is built next to the 64-bit engine only")
class TuneEval(unittest.TestCase):
    def test_fit_finds_planted_amounts(self):
        # Labels from amounts +30 on pair 3 and -20 on pair 7 over an
        # evaluation that the amounts shift: the rows must carry them back.
        rng = random.Random(7)
        planted = {3: 30.0, 7: -20.0}
        with tempfile.TemporaryDirectory() as tmp:
            dump = os.path.join(tmp, "samples.txt")
            with open(dump, "w") as f:
                for i in range(3000):
                    features = [0.0] * PAIRS
                    for k in range(1, 11):
                        features[k] = rng.uniform(-3, 3)
                    e = rng.uniform(-300, 300)
                    target = e + sum(a * features[k] for k, a in planted.items())
                    label = 1 / (1 + math.exp(-target / 200))
                    f.write("0 %d %.1f %.9f %s\n" % (
                        i % 5 == 4, e, label, " ".join("%g" % v for v in features)))
            r = run_tool("--scale", "200", "--load", dump)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("freestyle/standard: 3000 positions, 2400 to fit, 600 held out", r.stdout)
        self.assertIn("renju: too few positions, row left at zero", r.stdout)
        rows = rows_of(r.stdout)
        self.assertEqual(len(rows), 1)
        row = rows[0]
        self.assertEqual(len(row), PAIRS)
        for k in range(PAIRS):
            self.assertLessEqual(abs(row[k] - planted.get(k, 0)), 3, "pair %d: %s" % (k, row))

    def test_search_values_label_the_positions(self):
        rng = random.Random(11)
        with tempfile.TemporaryDirectory() as tmp:
            games = os.path.join(tmp, "games")
            os.mkdir(games)
            for i in range(10):
                random_record(games, i, rng, 15, "renju" if i % 2 else "freestyle", 30)
            with open(os.path.join(games, "notes.txt"), "w") as f:
                f.write("not a record\n")
            dumps = []
            for part in range(2):
                dump = os.path.join(tmp, "part%d.txt" % part)
                r = run_tool("--depth", "3", "--part", "%d/2" % part, "--dump", dump, games)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn("10 games read, 1 files skipped", r.stdout)
                dumps.append(dump)
            lines = []
            for d in dumps:
                with open(d) as f:
                    lines += [line.split() for line in f]
        # Stones 7 to 21 of 30: fifteen positions a game, none decided.
        self.assertEqual(len(lines), 10 * 15)
        families = [int(l[0]) for l in lines]
        self.assertEqual(families.count(1), 5 * 15)
        held = sum(int(l[1]) for l in lines)
        self.assertEqual(held, 2 * 15)  # games 4 and 9
        labels = [float(l[3]) for l in lines]
        for l in lines:
            self.assertEqual(len(l), 4 + PAIRS)
        # Search values, not results: strictly between the results' 0 and 1,
        # and not all alike.
        self.assertTrue(all(0 < v < 1 for v in labels))
        self.assertGreater(len(set(labels)), 10)


if __name__ == "__main__":
    unittest.main()
