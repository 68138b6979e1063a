"""Thinks as a manager sees them: the moves that need no search, the time the
engine takes, and thinks cut short by the next command or by the end of input."""

import os
import resource
import subprocess
import time
import unittest

from brain import ENGINE, SLOWDOWN, WRAPPER, Brain, run_session

SPEED = "MESSAGE Speed="


def is_move(line):
    parts = line.split(",")
    return len(parts) == 2 and all(p.lstrip("-").isdigit() for p in parts)


def moves_of(lines):
    return [tuple(int(v) for v in line.split(",")) for line in lines if is_move(line)]


def board_block(moves, engine_colour):
    """A BOARD block for a record in play order; the colour follows the order,
    who tells whose stone it is (1 the engine's own)."""
    lines = ["BOARD"]
    for i, (x, y) in enumerate(moves):
        colour = 1 if i % 2 == 0 else 2
        lines.append("%d,%d,%d" % (x, y, 1 if colour == engine_colour else 2))
    return lines + ["DONE"]


def think_lines(brain, timeout):
    """The lines of one think up to and including its move."""
    lines = []
    while True:
        line = brain.read(timeout)
        lines.append(line)
        if is_move(line):
            return lines


class MovesWithoutSearch(unittest.TestCase):
    """Positions the engine answers at once: no search runs, so no node is
    counted and the speed line shows 0."""

    def test_empty_board_centre_on_square_and_rectangular_boards(self):
        # The centre is (height / 2, width / 2): x runs below the height.
        for start, centre in (("START 15", (7, 7)), ("START 20", (10, 10)),
                              ("RECTSTART 20,15", (7, 10)), ("START 20 12", (6, 10)),
                              ("START 1", (0, 0))):
            status, out = run_session([start, "BEGIN"])
            self.assertEqual(status, 0)
            self.assertEqual(out[2:], [SPEED + "0", "%d,%d" % centre], start)

    def test_centre_is_played_on_the_board_and_into_the_record(self):
        # The engine's own move is entered: a PLAY on the same point is refused.
        status, out = run_session(["START 15", "BEGIN", "PLAY 7,7"])
        self.assertEqual(out[2:], [SPEED + "0", "7,7", "ERROR my move [7,7]", "7,7"])

    def test_a_single_five_point_of_the_opponent_is_blocked_at_once(self):
        # Renju builds the board at START, so the shortcut applies to the first
        # think. Black's four on the anti-diagonal x + y = 12 is closed at (8,4)
        # by white; its only completion is (3,9). With the default 30 s per
        # move, a search would not answer within the read time-out.
        record = [(4, 8), (8, 4), (5, 7), (0, 0), (6, 6), (0, 14), (7, 5)]
        brain = Brain()
        try:
            brain.send("INFO rule 4", "START 15", *board_block(record, 2))
            self.assertEqual(brain.read_answer(), "OK")
            self.assertEqual(think_lines(brain, 5), [SPEED + "0", "3,9"])
        finally:
            brain.kill()

    def test_of_two_five_points_the_first_in_scan_order_is_blocked(self):
        # An open four on the anti-diagonal: (3,9) and (8,4) both complete it.
        # Scan order is x first, so (3,9) comes before (8,4) despite its larger y.
        record = [(4, 8), (0, 0), (5, 7), (0, 14), (6, 6), (14, 0), (7, 5)]
        brain = Brain()
        try:
            brain.send("INFO rule 2", "START 15", *board_block(record, 2))
            self.assertEqual(brain.read_answer(), "OK")
            self.assertEqual(think_lines(brain, 5), [SPEED + "0", "3,9"])
        finally:
            brain.kill()

    def test_the_blocked_centre_of_an_empty_board_is_not_played(self):
        status, out = run_session(["INFO timeout_turn 200", "START 15", "BOARD", "7,7,3",
                                   "DONE"], timeout=10)
        self.assertEqual(status, 0)
        self.assertFalse([line for line in out if line.startswith("ERROR")], out)
        (move,) = moves_of(out)
        self.assertNotEqual(move, (7, 7))
        self.assertTrue(0 <= move[0] < 15 and 0 <= move[1] < 15, move)

    def test_a_board_without_a_free_point_answers_minus_one(self):
        # Every point walled off: there is no move, the refusal of the engine's
        # own move is printed and the line still follows.
        walls = ["%d,%d,3" % (x, y) for x in range(5) for y in range(5)]
        status, out = run_session(["INFO timeout_turn 200", "START 5", "BOARD"] + walls +
                                  ["DONE"], timeout=10)
        self.assertEqual(status, 0)
        self.assertEqual(out[-2:], ["ERROR my move [-1,-1]", "-1,-1"])


class SearchedMoves(unittest.TestCase):
    def test_a_proven_win_is_finished_on_the_next_move_without_search(self):
        # Black's open three 7,5-7,7: the first open-four point in scan order is
        # 7,4. After white closes 7,8 the remaining completion 7,3 is played by
        # the shortcut for a win proven on the previous move: no nodes counted.
        record = [(7, 5), (0, 0), (7, 6), (0, 14), (7, 7), (14, 0)]
        brain = Brain()
        try:
            brain.send("START 15", *board_block(record, 1))
            self.assertEqual(brain.read_answer(), "OK")
            self.assertEqual(think_lines(brain, 5)[-1], "7,4")
            brain.send("TURN 7,8")
            self.assertEqual(think_lines(brain, 5), [SPEED + "0", "7,3"])
        finally:
            brain.kill()

    def test_speed_line_comes_right_before_the_move(self):
        status, out = run_session(["INFO timeout_turn 300", "START 15", "TURN 7,7"])
        self.assertEqual(status, 0)
        self.assertEqual(out[2], "MESSAGE Rule Gomoku (Freestyle)")
        self.assertTrue(out[3].startswith(SPEED) and out[3][len(SPEED):].isdigit(), out)
        self.assertTrue(is_move(out[4]), out)
        self.assertEqual(len(out), 5)


class RenjuFouls(unittest.TestCase):
    # A self-play game: white (O) has a five point at 11,9 that black cannot
    # block, since for black 11,9 is forbidden (11,7 X . * would make a double
    # four with 11,6 and 11,8; the referee and the foul test agree).
    LOST = [(7, 7), (8, 9), (6, 8), (7, 9), (6, 9), (8, 6), (6, 7), (6, 6), (8, 7), (5, 7),
            (4, 8), (7, 6), (9, 6), (7, 8), (4, 6), (6, 11), (7, 10), (4, 7), (2, 8), (5, 9),
            (3, 7), (5, 5), (5, 8), (3, 8), (4, 9), (2, 9), (9, 7), (10, 7), (5, 6), (8, 11),
            (9, 5), (9, 8), (7, 11), (10, 9), (3, 10), (2, 11), (11, 8), (8, 10), (9, 3), (9, 4),
            (8, 12), (10, 8), (10, 6), (12, 5), (11, 6), (10, 11), (10, 10), (9, 9)]

    def test_black_never_blocks_on_a_forbidden_point(self):
        status, out = run_session(["INFO rule 2", "INFO timeout_turn 200", "START 15"] +
                                  board_block(self.LOST, 1))
        self.assertEqual(status, 0)
        move = moves_of(out)[-1]
        self.assertNotEqual(move, (11, 9))
        self.assertNotIn(move, self.LOST)
        self.assertTrue(0 <= move[0] < 15 and 0 <= move[1] < 15)
        self.assertFalse(any(line.startswith("ERROR") for line in out), out)


    def test_black_left_with_forbidden_points_only_still_answers_a_point(self):
        # 7x7 Renju board: black holds 0,0-0,2 and 0,4-0,6, so the one empty
        # point 0,3 would make seven in a row; every other point is a stone or
        # blocked. The protocol has no pass, so the engine must still name a
        # point on the board rather than an off-board move.
        black = [(0, 0), (0, 1), (0, 2), (0, 4), (0, 5), (0, 6)]
        white = [(6, 0), (6, 2), (6, 4), (6, 6), (5, 1), (5, 5)]
        record = [p for pair in zip(black, white) for p in pair]
        taken = set(record) | {(0, 3)}
        walls = ["%d,%d,3" % (x, y) for x in range(7) for y in range(7) if (x, y) not in taken]
        block = board_block(record, 1)
        status, out = run_session(["INFO rule 2", "INFO timeout_turn 200", "START 7"] +
                                  block[:-1] + walls + ["DONE"])
        self.assertEqual(status, 0)
        self.assertFalse(any(line.startswith("ERROR") for line in out), out)
        self.assertEqual(moves_of(out)[-1], (0, 3))


class TimeBudget(unittest.TestCase):
    """Waits are scaled so that the emulated build keeps the same margins."""

    def think_time(self, settings):
        brain = Brain()
        try:
            brain.send(*settings, "START 15", "TURN 7,7")
            self.assertEqual(brain.read_answer(), "OK")
            brain.read()  # the rule line of the first build
            started = time.monotonic()
            move = brain.read_move(timeout=20)
            return time.monotonic() - started, move
        finally:
            brain.kill()

    def test_time_left_over_16_limits_the_move(self):
        # 8 s left gives 0.5 s for this move although timeout_turn is 30 s.
        budget = 0.5 * SLOWDOWN
        elapsed, move = self.think_time(["INFO time_left %d" % int(8000 * SLOWDOWN)])
        self.assertLess(elapsed, budget + 1.0 * SLOWDOWN)
        self.assertNotEqual(move, (7, 7))

    def test_timeout_turn_limits_the_move(self):
        budget = 0.3 * SLOWDOWN
        elapsed, _ = self.think_time(["INFO timeout_turn %d" % int(300 * SLOWDOWN)])
        self.assertLess(elapsed, budget + 1.0 * SLOWDOWN)

    def test_the_clock_of_a_board_think_runs_from_the_board_line(self):
        # The manager's clock starts when it sends BOARD; the stone lines and
        # DONE come after. Here DONE comes half a budget late, and the move
        # must still arrive within the budget counted from BOARD. (Renju with
        # INFO before START: START builds the board, so no first-build charge
        # shortens this think.)
        budget = 1.0 * SLOWDOWN
        pause = 0.5 * SLOWDOWN
        record = [(7, 7), (7, 8), (8, 8), (6, 6)]
        brain = Brain()
        try:
            brain.send("INFO rule 4", "INFO timeout_turn %d" % int(budget * 1000), "START 15")
            self.assertEqual(brain.read_answer(), "OK")
            block = board_block(record, 1)
            started = time.monotonic()
            brain.send(*block[:-1])
            time.sleep(pause)
            brain.send(block[-1])
            move = brain.read_move(timeout=20)
            elapsed = time.monotonic() - started
            self.assertNotIn(move, record)
            # A clock started at DONE would end near pause + budget.
            self.assertLess(elapsed, budget + 0.2 * SLOWDOWN)
        finally:
            brain.kill()

    def test_info_during_a_think_neither_stops_nor_shortens_it(self):
        # A 2 s think; 0.3 s in, the manager lowers timeout_turn to 100 ms. The
        # running think keeps its budget: nothing is printed for another second.
        brain = Brain()
        try:
            brain.send("INFO timeout_turn %d" % int(2000 * SLOWDOWN), "START 15", "TURN 7,7")
            self.assertEqual(brain.read_answer(), "OK")
            time.sleep(0.3 * SLOWDOWN)
            brain.send("INFO timeout_turn 100", "INFO time_left 1000", "INFO rule 1")
            self.assertEqual(brain.read(), "MESSAGE Rule Gomoku (Freestyle)")
            self.assertTrue(brain.no_output(1.0))
            lines = think_lines(brain, 10)
            self.assertTrue(lines[0].startswith(SPEED), lines)
            # The next think takes the new settings: 100 ms, and the new rule.
            brain.send("TURN 0,0")
            self.assertEqual(brain.read(5), "MESSAGE Rule Gomoku (Standard)")
            think_lines(brain, 5)
        finally:
            brain.kill()


class StoppedThinks(unittest.TestCase):
    """A 30 s think cut short: the stopped think still prints its speed line and
    its move, which is entered before the next command runs."""

    def start_long_think(self):
        brain = Brain()
        brain.send("START 15", "TURN 7,7")
        self.assertEqual(brain.read_answer(), "OK")
        self.assertEqual(brain.read(), "MESSAGE Rule Gomoku (Freestyle)")
        self.assertTrue(brain.no_output(0.5))  # still thinking
        return brain

    def test_end_during_a_think(self):
        brain = self.start_long_think()
        try:
            brain.send("END")
            status, rest = brain.finish(timeout=5)
            self.assertEqual(status, 0)
            self.assertEqual(len(rest), 2, rest)
            self.assertTrue(rest[0].startswith(SPEED))
            self.assertTrue(is_move(rest[1]) and rest[1] != "7,7", rest)
        finally:
            brain.kill()

    def test_end_of_input_during_a_think(self):
        brain = self.start_long_think()
        try:
            status, rest = brain.finish(timeout=5)
            self.assertEqual(status, 0)
            self.assertEqual(len(rest), 2, rest)
            self.assertTrue(rest[0].startswith(SPEED) and is_move(rest[1]), rest)
        finally:
            brain.kill()

    def test_a_new_turn_during_a_think(self):
        brain = self.start_long_think()
        try:
            brain.send("TURN 0,0")
            first = think_lines(brain, 5)
            self.assertTrue(first[0].startswith(SPEED), first)
            self.assertEqual(len(first), 2, first)
            self.assertTrue(brain.no_output(0.5))  # the second think runs
            brain.send("END")
            status, rest = brain.finish(timeout=5)
            self.assertEqual(status, 0)
            self.assertTrue(rest[0].startswith(SPEED) and is_move(rest[1]), rest)
            moves = moves_of(first) + moves_of(rest)
            # Both thinks played, each on a free point: the first move was on the
            # board before 0,0 was entered, so 0,0 was not refused.
            self.assertEqual(len(set(moves + [(7, 7), (0, 0)])), 4, moves)
        finally:
            brain.kill()

    def test_a_stopped_think_enters_its_move_before_the_next_command(self):
        brain = self.start_long_think()
        try:
            # A refused TAKEBACK still stops the think first: the move comes
            # before its error line, and is on the board by then.
            brain.send("TAKEBACK 0,0")
            move = brain.read_move(5)
            self.assertEqual(brain.read(), "ERROR bad coordinates")
            brain.send("PLAY %d,%d" % move)
            self.assertEqual(brain.read(), "ERROR my move [%d,%d]" % move)
        finally:
            brain.kill()


# The sanitizers reserve terabytes of shadow address space at start-up.
@unittest.skipIf(WRAPPER or os.environ.get("ZORVAN_SANITIZER"),
                 "an address-space limit would stop the emulator or the sanitizer runtime")
class WithoutTableMemory(unittest.TestCase):
    def test_the_engine_plays_the_one_ply_move_when_tables_cannot_be_had(self):
        # 120 MiB of address space: the engine's record fits, its 192 MiB of
        # search tables do not. It must still answer every move, at once.
        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (120 << 20, 120 << 20))

        proc = subprocess.run([ENGINE], input=b"START 15\nTURN 7,7\nTURN 7,8\nEND\n",
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              preexec_fn=limit, timeout=10)
        out = proc.stdout.decode().splitlines()
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(len([l for l in out if l.startswith("MESSAGE search off")]), 2, out)
        moves = moves_of(out)
        self.assertEqual(len(moves), 2, out)
        self.assertEqual(len(set(moves + [(7, 7), (7, 8)])), 4, moves)
        self.assertFalse([l for l in out if l.startswith("ERROR")], out)


if __name__ == "__main__":
    unittest.main()
