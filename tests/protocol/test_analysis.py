"""Analysis as a front-end uses it: the per-depth lines of INFO show_detail,
the depth and node limits, and the commands YXBOARD, YXSTOP and YXSHOWFORBID."""

import os
import random
import re
import sys
import time
import unittest

from brain import SLOWDOWN, Brain

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import referee  # noqa: E402

DETAIL_RE = re.compile(r"^MESSAGE depth (\d+)-(\d+) value (0|[+-][1-9]\d*|\+win [1-9]\d*|"
                       r"-loss [1-9]\d*) nodes (\d+) nps (\d+)k time (\d+) pv((?: \d+,\d+)*)$")
# Black to move on 15x15 after four quiet moves: no side is near a win, so the
# limits and not a proof end a think.
QUIET = [(7, 7), (8, 8), (6, 8), (7, 9)]
LONG = 600000  # ms: a think ended by a limit, never by the clock


def is_move(line):
    return re.match(r"^-?\d+,-?\d+$", line) is not None


def think_lines(brain, timeout=20.0):
    """The lines of one think, its move last."""
    lines = []
    while True:
        line = brain.read(timeout)
        lines.append(line)
        if is_move(line):
            return lines


def details(lines):
    """(depth, deepest ply, value, nodes, pv) of each detail line, in order."""
    found = []
    for line in lines:
        if line.startswith("MESSAGE depth"):
            m = DETAIL_RE.match(line)
            assert m, "malformed detail line %r" % line
            pv = [tuple(int(v) for v in p.split(",")) for p in m.group(7).split()]
            found.append((int(m.group(1)), int(m.group(2)), m.group(3), int(m.group(4)), pv))
    return found


def board_lines(moves, engine_colour, keyword="BOARD"):
    """A stone block for a record in play order (who 1: the engine's own)."""
    lines = [keyword]
    for i, (x, y) in enumerate(moves):
        colour = 1 if i % 2 == 0 else 2
        lines.append("%d,%d,%d" % (x, y, 1 if colour == engine_colour else 2))
    return lines + ["DONE"]


def limited_think(settings, moves=QUIET, engine=None, wrapper=None):
    """A fresh engine thinks once on `moves` under `settings`; its think lines."""
    brain = Brain(engine, wrapper)
    try:
        brain.send("INFO timeout_turn %d" % LONG, *settings)
        brain.send("START 15", *board_lines(moves, len(moves) % 2 + 1))
        assert brain.read_answer() == "OK"
        return [l for l in think_lines(brain, 60) if not l.startswith("MESSAGE Rule")]
    finally:
        brain.kill()


def searched_part(lines):
    """What a limit-ended think must repeat: every detail line without its
    clock figures, and the move."""
    return [(d, s, v, n, pv) for d, s, v, n, pv in details(lines)], lines[-1]


class DetailLines(unittest.TestCase):
    def test_only_when_switched_on_one_per_depth_naming_the_move_played(self):
        brain = Brain()
        try:
            brain.send("INFO timeout_turn %d" % LONG, "INFO max_depth 5", "START 15")
            brain.send(*board_lines(QUIET, 1))
            self.assertEqual(brain.read_answer(), "OK")
            quiet = think_lines(brain)
            # Without the key: exactly the rule line, the speed line and the move.
            self.assertEqual(len(quiet), 3, quiet)
            self.assertTrue(quiet[1].startswith("MESSAGE Speed="), quiet)

            brain.send("TAKEBACK %s" % quiet[-1], "INFO show_detail 1")
            self.assertEqual(brain.read(), "OK")
            brain.send(*board_lines([], 1))  # the same position, thought again
            lines = think_lines(brain)
            found = details(lines)
            self.assertEqual([d[0] for d in found], [1, 2, 3, 4, 5], lines)
            self.assertEqual(lines[-2].split("=")[0], "MESSAGE Speed", lines)
            self.assertEqual(len(lines), 7, lines)  # nothing else is printed
            nodes = [d[3] for d in found]
            self.assertEqual(nodes, sorted(nodes))
            for d in found:
                self.assertTrue(1 <= len(d[4]) <= d[0], d)
            # The last depth is the final word: its line starts with the move.
            self.assertEqual("%d,%d" % found[-1][4][0], lines[-1])
            self.assertEqual(lines[-1], quiet[-1])  # and the line changed nothing

            brain.send("TAKEBACK %s" % lines[-1], "INFO show_detail 0")
            self.assertEqual(brain.read(), "OK")
            brain.send(*board_lines([], 1))
            again = think_lines(brain)
            self.assertEqual(len(again), 2, again)
            self.assertEqual(again[-1], quiet[-1])
        finally:
            brain.kill()

    def test_a_win_reads_as_a_win_and_its_line_starts_with_the_winning_move(self):
        # Black to move with a closed four in row 7 (five point 7,7) while
        # white has an open three: depth 1 proves the win.
        moves = [(7, 3), (7, 2), (7, 4), (3, 10), (7, 5), (4, 10), (7, 6), (5, 10), (0, 0),
                 (9, 9)]
        lines = limited_think(["INFO show_detail 1"], moves)
        found = details(lines)
        self.assertEqual(len(found), 1, lines)
        self.assertEqual(found[0][2], "+win 1")
        self.assertEqual(found[0][4][0], (7, 7))
        self.assertEqual(lines[-1], "7,7")

    def test_moves_without_search_print_no_detail(self):
        # The empty board and a single forced block are answered without a
        # search (Renju, whose board is built from the start).
        for moves in ([], [(7, 3), (7, 2), (7, 4), (0, 0), (7, 5), (0, 14), (7, 6)]):
            lines = limited_think(["INFO rule 4", "INFO show_detail 1"], moves)
            self.assertEqual(lines, ["MESSAGE Speed=0", "7,7"])


class Limits(unittest.TestCase):
    def test_max_depth_ends_at_that_depth_and_repeats_its_move(self):
        settings = ["INFO max_depth 3", "INFO show_detail 1"]
        first = limited_think(settings)
        second = limited_think(settings)
        self.assertEqual([d[0] for d in details(first)], [1, 2, 3], first)
        self.assertEqual(searched_part(first), searched_part(second))
        # In one process too, after an unlimited think of the same position
        # has filled the tables.
        brain = Brain()
        try:
            brain.send("INFO timeout_turn %d" % int(300 * SLOWDOWN), "START 15",
                       *board_lines(QUIET, 1))
            unlimited = think_lines(brain)
            brain.send("TAKEBACK %s" % unlimited[-1], *settings,
                       "INFO timeout_turn %d" % LONG)
            self.assertEqual(brain.read_answer(), "OK")
            brain.send(*board_lines([], 1))
            again = think_lines(brain)
            self.assertEqual(searched_part(again), searched_part(first))
        finally:
            brain.kill()

    def test_max_node_stops_near_its_count_and_repeats_its_move(self):
        limit = 30000
        lines = limited_think(["INFO max_node %d" % limit, "INFO show_detail 1"])
        found = details(lines)
        self.assertTrue(found, lines)
        last = found[-1]
        # Nodes are counted and the limit tested every 1024 nodes.
        self.assertLess(last[3], limit + 1024)
        self.assertEqual(searched_part(lines),
                         searched_part(limited_think(["INFO max_node %d" % limit,
                                                      "INFO show_detail 1"])))
        # The depth after the last one finished needs more than the limit:
        # nothing but the limit stopped the think.
        deeper = details(limited_think(["INFO max_depth %d" % (last[0] + 1),
                                        "INFO show_detail 1"]))
        self.assertEqual(deeper[:-1], found)
        self.assertGreaterEqual(deeper[-1][3], limit)

    def test_limits_add_to_the_clock_never_replace_it(self):
        # A limit far beyond reach: the clock still ends the think in time.
        brain = Brain()
        try:
            budget = 0.4 * SLOWDOWN
            brain.send("INFO max_node 2000000000", "INFO max_depth 500",
                       "INFO timeout_turn %d" % int(budget * 1000), "START 20")
            self.assertEqual(brain.read_answer(), "OK")
            started = time.monotonic()
            brain.send("TURN 10,10")
            think_lines(brain)
            self.assertLess(time.monotonic() - started, budget + 1.0 * SLOWDOWN)
        finally:
            brain.kill()

    @unittest.skipUnless(os.environ.get("ZORVAN_PEER_ENGINE"), "no engine of the other word size")
    def test_both_word_sizes_search_the_same_tree_under_a_limit(self):
        peer = os.environ["ZORVAN_PEER_ENGINE"]
        for settings in (["INFO max_depth 6"], ["INFO max_node 20000"]):
            settings = settings + ["INFO show_detail 1"]
            ours = limited_think(settings)
            theirs = limited_think(settings, engine=peer, wrapper="")
            self.assertEqual(searched_part(ours), searched_part(theirs), settings)


class YxCommands(unittest.TestCase):
    def test_yxboard_enters_the_position_silently_and_turn_plays_from_it(self):
        # White (the engine) has stones at 7,4 and far away; black has 7,5-7,7.
        # After TURN 7,8 black's four has one five point left, 7,9.
        brain = Brain()
        try:
            brain.send("INFO timeout_turn %d" % int(1000 * SLOWDOWN), "START 15", "yxboard",
                       "7,5,2", "7,4,1", "7,6,2", "0,0,1", "7,7,2", "0,14,1", "DONE")
            self.assertEqual(brain.read_answer(), "OK")
            self.assertTrue(brain.no_output(0.5))  # no move, no answer
            brain.send("TURN 7,8")
            lines = think_lines(brain, 10)
            self.assertEqual(lines[-1], "7,9")
            # The stones are in the record: playing on them is refused.
            brain.send("PLAY 7,6")
            self.assertEqual(brain.read(), "ERROR my move [7,6]")
        finally:
            brain.kill()

    def test_yxboard_errors_and_a_running_think(self):
        brain = Brain()
        try:
            brain.send("INFO timeout_turn %d" % LONG, "START 15", "TURN 7,7")
            self.assertEqual(brain.read_answer(), "OK")
            self.assertEqual(brain.read(), "MESSAGE Rule Gomoku (Freestyle)")
            self.assertTrue(brain.no_output(0.3))
            # Like BOARD, YXBOARD first stops the think, whose move comes first.
            brain.send("YXBOARD", "3,3,1", "3,3,2", "XX")
            lines = think_lines(brain, 10)
            move = lines[-1]
            self.assertEqual(brain.read(), "ERROR opponents's move [3,3]")
            self.assertEqual(brain.read(), "ERROR x,y,who or DONE expected after YXBOARD")
            self.assertTrue(brain.no_output(0.5))
            brain.send("ABOUT")
            self.assertTrue(brain.read().startswith('name="Zorvan"'))
            brain.send("PLAY %s" % move, "PLAY 3,3")
            self.assertEqual(brain.read(), "ERROR my move [%s]" % move)
            self.assertEqual(brain.read(), move)
            self.assertEqual(brain.read(), "ERROR my move [3,3]")
        finally:
            brain.kill()

    def test_yxstop_makes_a_long_think_answer_at_once(self):
        brain = Brain()
        try:
            brain.send("INFO timeout_turn %d" % LONG, "START 20",
                       *board_lines([(10, 10), (9, 11), (11, 11), (9, 9)], 1))
            self.assertEqual(brain.read_answer(), "OK")
            self.assertEqual(brain.read(), "MESSAGE Rule Gomoku (Freestyle)")
            self.assertTrue(brain.no_output(0.5 * SLOWDOWN))
            sent = time.monotonic()
            brain.send("yxstop")
            lines = think_lines(brain, 5)
            self.assertLess(time.monotonic() - sent, 0.5 * SLOWDOWN + 0.2)
            self.assertTrue(lines[-2].startswith("MESSAGE Speed="), lines)
            # The move was played: it is in the record.
            brain.send("PLAY %s" % lines[-1])
            self.assertEqual(brain.read(), "ERROR my move [%s]" % lines[-1])
            self.assertEqual(brain.read(), lines[-1])
        finally:
            brain.kill()

    def test_yxstop_without_a_think_says_nothing_and_spares_the_next_one(self):
        brain = Brain()
        try:
            brain.send("INFO timeout_turn %d" % LONG, "START 15", "YXSTOP", "YXSTOPPED")
            self.assertEqual(brain.read_answer(), "OK")
            self.assertTrue(brain.no_output(0.3))
            brain.send("INFO max_depth 4", "INFO show_detail 1", *board_lines(QUIET, 1))
            lines = think_lines(brain)
            self.assertEqual([d[0] for d in details(lines)], [1, 2, 3, 4], lines)
        finally:
            brain.kill()

    def test_prefixes_of_the_new_commands_stay_unknown(self):
        brain = Brain()
        try:
            for line in ("YX", "YXBOAR", "YXSHOW", "YXST", "XBOARD", " YXSTOP", "YBOARD"):
                brain.send(line)
                self.assertEqual(brain.read(), "UNKNOWN command", line)
        finally:
            brain.kill()


def random_renju_game(rng, size, length):
    """A legal Renju game of `length` moves played near the centre, as a list
    of points in play order, and its board. No five is made, black plays no
    foul, and black never has a four on the board: where black could win at
    once, the engine does not count a three whose open-four point is that
    five point as a real three, while the referee does (both are sound; the
    choice only matters in positions a game never leaves standing)."""
    board = referee.Board(size, size)
    moves = []
    lo, hi = size // 2 - 4, size // 2 + 4
    tries = 0
    while len(moves) < length and tries < 2000:
        tries += 1
        x, y = rng.randint(lo, hi), rng.randint(lo, hi)
        if board.cells[x][y] != referee.EMPTY:
            continue
        colour = referee.colour_of(len(moves))
        if colour == referee.BLACK and referee.is_forbidden(board, x, y):
            continue
        board.put(x, y, colour)
        if referee.wins(board, x, y, colour, "renju") or referee.black_has_five_point(board):
            board.put(x, y, referee.EMPTY)
            continue
        moves.append((x, y))
    return moves, board


class ShowForbid(unittest.TestCase):
    def forbid_line(self, board):
        points = [(x, y) for x, y, _ in referee.forbidden_points(board)]
        return "FORBID " + "".join("%02d%02d" % p for p in points) + "."

    def test_agrees_with_the_referee_on_random_renju_positions(self):
        rng = random.Random(2212)
        brain = Brain()
        try:
            brain.send("INFO rule 4", "START 15")
            self.assertEqual(brain.read_answer(), "OK")
            with_points = 0
            for game in range(40):
                moves, board = random_renju_game(rng, 15, rng.randint(8, 44))
                brain.send("RESTART", *board_lines(moves, 1, "YXBOARD"), "YXSHOWFORBID")
                self.assertTrue(brain.read().startswith("MESSAGE Zorvan"))
                self.assertEqual(brain.read(), "OK")
                expected = self.forbid_line(board)
                self.assertEqual(brain.read(), expected, "game %d: %s" % (game, moves))
                with_points += expected != "FORBID ."
            # The positions must have tested something.
            self.assertGreater(with_points, 10)
            # Outside Renju the same kind of position has none.
            brain.send("INFO rule 1", "RESTART", "YXSHOWFORBID")
            brain.read()
            self.assertEqual(brain.read(), "OK")
            self.assertEqual(brain.read(), "FORBID .")
        finally:
            brain.kill()

    def test_during_a_think_the_answer_follows_the_move_and_describes_its_position(self):
        # Black has a double-three point at 3,3 and no threat the engine
        # (white) must answer at once, so its think runs until YXSTOP.
        moves = [(3, 4), (8, 8), (3, 5), (11, 11), (4, 3), (12, 3), (5, 3), (10, 12), (7, 7)]
        board = referee.Board(15, 15)
        for i, (x, y) in enumerate(moves):
            board.put(x, y, referee.colour_of(i))
        self.assertEqual(self.forbid_line(board), "FORBID 0303.")
        brain = Brain()
        try:
            brain.send("INFO rule 4", "INFO timeout_turn %d" % LONG, "START 15",
                       *board_lines(moves[:-1], 2, "YXBOARD"))
            self.assertEqual(brain.read_answer(), "OK")
            x, y = moves[-1]
            brain.send("TURN %d,%d" % (x, y), "YXSHOWFORBID")
            self.assertTrue(brain.no_output(0.5))  # the think is not stopped
            brain.send("YXSTOP")
            lines = think_lines(brain, 5)
            engine_move = tuple(int(v) for v in lines[-1].split(","))
            board.put(engine_move[0], engine_move[1], referee.colour_of(len(moves)))
            self.assertEqual(brain.read(), self.forbid_line(board))
        finally:
            brain.kill()


if __name__ == "__main__":
    unittest.main()
