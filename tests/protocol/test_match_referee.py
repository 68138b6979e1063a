"""The match runner as a referee: its rule judgement on hand-made positions, and
whole matches between scripted brains that misbehave on purpose."""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools")
sys.path.insert(0, TOOLS)

from brain import WRAPPER  # noqa: E402
from referee import (BLACK, DOUBLE_FOUR, DOUBLE_THREE, EMPTY, OVERLINE, WALL, WHITE,  # noqa: E402
                     Board, black_is_shut_out, forbidden_points, foul, is_forbidden, winning_line, wins)

# The referee does not involve the engine: one run, with the native build, is enough.
skip_with_wrapper = unittest.skipIf(WRAPPER, "runs once, with the native engine's suite")


def board(blacks, whites=(), size=15):
    b = Board(size, size)
    for x, y in blacks:
        b.put(x, y, BLACK)
    for x, y in whites:
        b.put(x, y, WHITE)
    return b


@skip_with_wrapper
class Wins(unittest.TestCase):
    def test_five_and_six_by_rule(self):
        six = [(7, 2), (7, 3), (7, 4), (7, 5), (7, 6), (7, 7)]
        cases = [("freestyle", BLACK, True), ("standard", BLACK, False),
                 ("renju", BLACK, False), ("renju", WHITE, True)]
        for rule, colour, expected in cases:
            b = board([])
            for x, y in six:
                b.put(x, y, colour)
            self.assertEqual(wins(b, 7, 4, colour, rule), expected, (rule, colour))
        for rule in ("freestyle", "standard", "renju"):
            b = board([(3, 3), (4, 4), (5, 5), (6, 6), (7, 7)])
            self.assertTrue(wins(b, 5, 5, BLACK, rule), rule)
            b = board([(3, 3), (4, 4), (5, 5), (6, 6)], [(7, 7)])
            self.assertFalse(wins(b, 5, 5, BLACK, rule), rule)

    def test_an_exact_five_wins_beside_an_overline(self):
        # Standard: an overline in one line does not spoil a five in another.
        b = board([(7, 1), (7, 2), (7, 3), (7, 5), (7, 6), (3, 4), (4, 4), (5, 4), (6, 4)])
        b.put(7, 4, BLACK)
        self.assertTrue(wins(b, 7, 4, BLACK, "standard"))

    def test_the_winning_line_is_the_five_itself(self):
        diagonal = [(3, 3), (4, 4), (5, 5), (6, 6), (7, 7)]
        b = board(diagonal + [(7, 2), (7, 3), (7, 4), (7, 5), (7, 6)])
        # The row holds six (no win in standard), the diagonal exactly five.
        self.assertEqual(winning_line(b, 7, 7, BLACK, "standard"), diagonal)
        self.assertEqual(winning_line(b, 5, 5, BLACK, "standard"), diagonal)
        self.assertEqual(len(winning_line(b, 7, 3, BLACK, "freestyle")), 6)
        self.assertEqual(winning_line(b, 7, 3, BLACK, "standard"), [])
        self.assertEqual(winning_line(board([(7, 3), (7, 4), (7, 5), (7, 6)]), 7, 3, BLACK,
                                      "freestyle"), [])


@skip_with_wrapper
class RenjuFouls(unittest.TestCase):
    def test_double_three(self):
        self.assertTrue(is_forbidden(board([(7, 5), (7, 6), (5, 7), (6, 7)]), 7, 7))
        # A split three counts as a three too.
        self.assertTrue(is_forbidden(board([(7, 4), (7, 6), (5, 7), (6, 7)]), 7, 7))

    def test_a_closed_or_cramped_three_is_no_three(self):
        self.assertFalse(is_forbidden(board([(7, 5), (7, 6), (5, 7), (6, 7)], [(7, 4)]), 7, 7))
        # W . X X X . W: no straight four can be made.
        self.assertFalse(is_forbidden(board([(7, 5), (7, 6), (5, 7), (6, 7)],
                                            [(7, 3), (7, 9)]), 7, 7))
        # Along the edge the wall closes the three.
        self.assertFalse(is_forbidden(board([(0, 1), (0, 2), (1, 0), (2, 0)]), 0, 0))

    def test_a_three_whose_only_straight_four_point_is_forbidden_is_not_real(self):
        # Row 7: X . X P, straight four only through 7,6, which is an overline
        # in column 6. With the open three in column 8, P makes one real three.
        column6 = [(4, 6), (5, 6), (6, 6), (8, 6), (9, 6)]
        stones = [(7, 5), (7, 7), (5, 8), (6, 8)]
        self.assertFalse(is_forbidden(board(stones + column6), 7, 8))
        # Without column 6 both threes are real.
        self.assertTrue(is_forbidden(board(stones), 7, 8))

    def test_double_four_also_in_one_line(self):
        self.assertTrue(is_forbidden(board([(7, 4), (7, 5), (7, 6), (4, 7), (5, 7), (6, 7)]),
                                     7, 7))
        # X . X X X . X played in the middle: two fours on one line.
        self.assertTrue(is_forbidden(board([(7, 3), (7, 5), (7, 7), (7, 9)]), 7, 6))
        # An open four is one four: with a three it is a four-three, allowed.
        self.assertFalse(is_forbidden(board([(7, 4), (7, 5), (7, 6), (5, 7), (6, 7)]), 7, 7))

    def test_the_reason_names_the_foul(self):
        self.assertEqual(foul(board([(7, 5), (7, 6), (5, 7), (6, 7)]), 7, 7), DOUBLE_THREE)
        self.assertEqual(foul(board([(7, 3), (7, 5), (7, 7), (7, 9)]), 7, 6), DOUBLE_FOUR)
        self.assertEqual(foul(board([(7, 2), (7, 3), (7, 4), (7, 6), (7, 7)]), 7, 5), OVERLINE)
        self.assertIsNone(foul(board([(7, 5), (7, 6), (5, 7)]), 7, 7))

    def test_forbidden_points_agree_with_the_full_test_everywhere(self):
        # The listing skips points by a cheap pre-test; on crowded random
        # positions it must still find exactly what testing every point finds.
        import random
        rng = random.Random(15)
        found = 0
        for _ in range(12):
            b = Board(11, 13)
            points = [(x, y) for x in range(11) for y in range(13)]
            rng.shuffle(points)
            for i, (x, y) in enumerate(points[:40]):
                b.put(x, y, BLACK if i % 3 else WHITE)
            full = [(x, y, foul(b, x, y)) for x, y in points[40:] if foul(b, x, y)]
            listed = forbidden_points(b)
            self.assertEqual(sorted(listed), sorted(full))
            found += len(listed)
        self.assertGreater(found, 10)

    def test_overline_and_the_five_that_beats_every_foul(self):
        self.assertTrue(is_forbidden(board([(7, 2), (7, 3), (7, 4), (7, 6), (7, 7)]), 7, 5))
        self.assertFalse(is_forbidden(board([(7, 3), (7, 4), (7, 5), (7, 6), (5, 7), (6, 7),
                                             (8, 8), (9, 9)]), 7, 7))

    def test_black_is_shut_out_only_when_every_empty_point_is_forbidden(self):
        # Row 0 of a 7x7 board: X X X . X X X, the gap an overline for black.
        b = board([(0, 0), (0, 1), (0, 2), (0, 4), (0, 5), (0, 6)], size=7)
        for x in range(1, 7):
            for y in range(7):
                b.put(x, y, WALL)
        self.assertTrue(black_is_shut_out(b, "renju"))
        self.assertFalse(black_is_shut_out(b, "standard"))
        b.put(6, 6, EMPTY)  # one allowed point is enough to play on
        self.assertFalse(black_is_shut_out(b, "renju"))
        b.put(6, 6, WALL)
        b.put(0, 3, WHITE)  # a full board is a draw of its own, not this one
        self.assertFalse(black_is_shut_out(b, "renju"))


# A scripted brain: plays its --moves in order (skipping taken points), then the
# first free point in scan order. --misbehave (or INFO fake_misbehave) makes it
# fail in one way; "crash-as-black" only when asked for the first move.
FAKE_BRAIN = r'''
import sys, time
args = sys.argv[1:]
script = [tuple(map(int, m.split(","))) for m in args[args.index("--moves") + 1].split()] \
    if "--moves" in args else []
misbehave = args[args.index("--misbehave") + 1] if "--misbehave" in args else ""
size, taken, turns = 15, set(), 0
def out(line):
    sys.stdout.write(line + "\n"); sys.stdout.flush()
def move(opening_move=False):
    global turns
    turns += 1
    if misbehave == "crash" or (misbehave == "crash-as-black" and opening_move):
        sys.exit(3)
    if misbehave == "slow":
        time.sleep(1.0)
    if misbehave == "error":
        out("ERROR something went wrong")
    while script and script[0] in taken and misbehave != "illegal":
        script.pop(0)
    if script:
        m = script.pop(0)
    else:
        m = next((x, y) for x in range(size) for y in range(size) if (x, y) not in taken)
    taken.add(m)
    out("MESSAGE Speed=12")
    out("%d,%d" % m)
for line in sys.stdin:
    line = line.strip()
    word = line.split(" ")[0].upper()
    if word == "START":
        size = int(line.split()[1]); out("MESSAGE fake"); out("OK")
    elif word == "BEGIN":
        move(opening_move=True)
    elif word == "INFO" and line.split()[1:2] == ["fake_misbehave"]:
        misbehave = line.split()[2]
    elif word == "TURN":
        taken.add(tuple(map(int, line.split()[1].split(",")))); move()
    elif word == "BOARD":
        for stone in sys.stdin:
            if stone.strip().upper() == "DONE":
                break
            x, y, _ = map(int, stone.split(","))
            taken.add((x, y))
        move()
    elif word == "END":
        sys.exit(0)
'''


class FakeBrains:
    """Matches between scripted brains: the brain's file and a one-line
    openings file (the empty board) in a folder of the test class's own."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.brain = os.path.join(cls.dir.name, "fake_brain.py")
        with open(cls.brain, "w") as f:
            f.write(FAKE_BRAIN)
        cls.openings = os.path.join(cls.dir.name, "openings.txt")
        with open(cls.openings, "w") as f:
            f.write("-\n")

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def fake(self, moves="", misbehave=""):
        command = "%s %s" % (sys.executable, self.brain)
        if moves:
            command += " --moves '%s'" % moves
        if misbehave:
            command += " --misbehave " + misbehave
        return command


@skip_with_wrapper
class Matches(FakeBrains, unittest.TestCase):

    def run_match(self, black, white, rule="freestyle", games=1, timeout_turn=1000):
        out_dir = os.path.join(self.dir.name, "games-%s" % self.id().split(".")[-1])
        proc = subprocess.run(
            [sys.executable, os.path.join(TOOLS, "match.py"), black, white, "--rule", rule,
             "--games", str(games), "--timeout-turn", str(timeout_turn), "--openings",
             self.openings, "--out", out_dir, "--tolerance", "200"],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        text = proc.stdout.decode()
        return proc.returncode, text, out_dir

    # Black makes five in row 7 while white plays along row 0.
    BLACK_FIVE = "7,3 7,4 7,5 7,6 7,7"
    WHITE_FAR = "0,0 0,2 0,4 0,6 0,8"

    def test_a_clean_game_passes_and_its_moves_are_written(self):
        status, text, out_dir = self.run_match(self.fake(self.BLACK_FIVE),
                                               self.fake(self.WHITE_FAR))
        self.assertEqual(status, 0, text)
        self.assertEqual(text.strip().splitlines()[-1], "1 passed, 0 failed")
        with open(os.path.join(out_dir, "game-001.txt")) as f:
            moves = [l.split("#")[0].strip() for l in f if not l.startswith("#")]
        self.assertEqual(moves, ["7,3", "0,0", "7,4", "0,2", "7,5", "0,4", "7,6", "0,6", "7,7"])

    def test_colours_are_swapped_in_the_second_game(self):
        status, text, _ = self.run_match(self.fake(self.BLACK_FIVE), self.fake(self.WHITE_FAR),
                                         games=2)
        # Game 2: engine 2 is black and plays along row 0 (five at 0,0-0,8
        # spaced by two never forms), engine 1 as white makes the row-7 five.
        self.assertIn("2 passed, 0 failed", text)
        rows = [l.split() for l in text.splitlines() if l[:1].isdigit() and "five" in l]
        self.assertEqual([(r[2], r[3], r[5]) for r in rows], [("E1", "E2", "1-0"),
                                                              ("E2", "E1", "0-1")])

    def test_a_forbidden_black_move_loses_and_fails(self):
        status, text, _ = self.run_match(self.fake("7,5 7,6 5,7 6,7 7,7"),
                                         self.fake(self.WHITE_FAR), rule="renju")
        self.assertEqual(status, 1)
        self.assertIn("failure: E1 foul: forbidden move 7,7", text)
        self.assertEqual(text.strip().splitlines()[-1], "0 passed, 1 failed")
        # The same moves are a plain game in freestyle.
        status, text, _ = self.run_match(self.fake("7,5 7,6 5,7 6,7 7,7"),
                                         self.fake(self.WHITE_FAR), rule="freestyle")
        self.assertNotIn("failure:", text)

    def test_failures_of_each_kind(self):
        cases = [("illegal", "7,3", "illegal: move 7,3"),
                 ("crash", "", "crash"),
                 ("slow", "", "time: move"),
                 ("error", "", "protocol: ERROR something went wrong")]
        for misbehave, moves, expected in cases:
            status, text, _ = self.run_match(self.fake(self.BLACK_FIVE),
                                             self.fake(moves, misbehave), timeout_turn=300)
            self.assertEqual(status, 1, misbehave)
            self.assertIn("failure: E2 " + expected, text, misbehave)
            self.assertEqual(text.strip().splitlines()[-1], "0 passed, 1 failed", misbehave)


if __name__ == "__main__":
    unittest.main()
