"""Board setup and moves as a manager sees them: bounds, echoes, refusals, BOARD blocks."""

import unittest

from brain import Brain, run_session

NEW_GAME = ["<banner>", "OK"]


def banners_as_marks(lines):
    """Replaces the banner line (any MESSAGE line right before an OK) by a mark."""
    out = []
    for i, line in enumerate(lines):
        if line.startswith("MESSAGE ") and i + 1 < len(lines) and lines[i + 1] == "OK":
            out.append("<banner>")
        else:
            out.append(line)
    return out


def session(lines):
    status, out = run_session(lines)
    assert status == 0, "exit status %d" % status
    return banners_as_marks(out)


# Short thinks keep the sessions that wait for a move quick.
FAST = ["INFO timeout_turn 200"]


class BoardSizes(unittest.TestCase):
    def test_square_starts_bound_both_coordinates(self):
        for start in ("START 15", "START 15 15"):
            out = session([start, "PLAY 14,14", "PLAY 15,0", "PLAY 0,15", "PLAY -1,3"])
            self.assertEqual(out, NEW_GAME + ["14,14"] + ["ERROR bad coordinates"] * 3, start)

    def test_two_numbers_give_width_then_height(self):
        # START 20 12: x (first coordinate) below 12, y below 20.
        out = session(["START 20 12", "PLAY 11,19", "PLAY 12,0", "PLAY 0,20"])
        self.assertEqual(out, NEW_GAME + ["11,19"] + ["ERROR bad coordinates"] * 2)

    def test_rectstart(self):
        out = session(["RECTSTART 20,15", "PLAY 14,19", "PLAY 15,0", "PLAY 0,20",
                       "RECTSTART 20 , 15", "RECTSTART 20 15", "RECTSTART 20", "RECTSTART"])
        self.assertEqual(out, NEW_GAME + ["14,19"] + ["ERROR bad coordinates"] * 2 + NEW_GAME +
                         ["ERROR bad RECTSTART parameters"] * 3)

    def test_24_is_accepted_and_25_refused_keeping_the_old_game(self):
        out = session(["START 24", "PLAY 23,23", "START 15", "PLAY 7,7", "START 25",
                       "PLAY 14,14", "PLAY 15,15", "PLAY 7,7"])
        self.assertEqual(out, NEW_GAME + ["23,23"] + NEW_GAME + [
            "7,7", "ERROR size of the board", "14,14", "ERROR bad coordinates",
            "ERROR my move [7,7]", "7,7"])

    def test_sizes_leaving_an_axis_empty_are_refused(self):
        out = session(["START 10", "RECTSTART 15,0", "START -3", "START 10 -1", "PLAY 9,9",
                       "PLAY 10,0"])
        self.assertEqual(out, NEW_GAME + ["ERROR size of the board"] * 3 +
                         ["9,9", "ERROR bad coordinates"])

    def test_start_zero_is_the_default_board_announced_twice(self):
        out = session(["START 0", "PLAY 19,19", "PLAY 20,0"])
        self.assertEqual(out, NEW_GAME + NEW_GAME + ["19,19", "ERROR bad coordinates"])

    def test_the_first_command_without_a_board_gets_the_default_one(self):
        out = session(["PLAY 19,19", "PLAY 20,20"])
        self.assertEqual(out, NEW_GAME + ["19,19", "ERROR bad coordinates"])
        out = session(["TAKEBACK 1,1"])
        self.assertEqual(out, NEW_GAME + ["ERROR bad coordinates"])

    def test_the_banner_is_a_message_line(self):
        _, out = run_session(["START 15", "RESTART"])
        self.assertEqual(len(out), 4)
        for banner in (out[0], out[2]):
            self.assertTrue(banner.startswith("MESSAGE "), banner)
        self.assertEqual((out[1], out[3]), ("OK", "OK"))


class Moves(unittest.TestCase):
    def test_play_echoes_and_refuses_a_taken_point_in_every_rule(self):
        for rule in ("0", "1", "4"):
            out = session(["INFO rule " + rule, "START 15", "PLAY 7,7", "PLAY 7, 8", "PLAY 7,7"])
            self.assertEqual(out, NEW_GAME + ["7,7", "7,8", "ERROR my move [7,7]", "7,7"], rule)

    def test_malformed_coordinates(self):
        out = session(["START 15", "PLAY 7 ,8", "PLAY 7", "PLAY", "PLAY a,b", "TURN 7 ,8",
                       "TURN 15,0", "TURN 99999999999,0", "ABOUT"])
        self.assertEqual(out[:2], NEW_GAME)
        # A refused TURN starts no think: the ABOUT answer follows at once.
        self.assertEqual(out[2:9], ["ERROR bad coordinates"] * 7)
        self.assertTrue(out[9].startswith('name="Zorvan"'))
        self.assertEqual(len(out), 10)

    def test_takeback(self):
        out = session(["START 15", "TAKEBACK 7,7", "PLAY 7,7", "PLAY 8,8", "TAKEBACK 7,7",
                       "TAKEBACK 9,9", "TAKEBACK 8 ,8", "TAKEBACK 8,8", "TAKEBACK 8,8",
                       "PLAY 7,7", "TAKEBACK 7,7", "TAKEBACK 7,7", "PLAY 7,7"])
        self.assertEqual(out, NEW_GAME + [
            "ERROR bad coordinates", "7,7", "8,8", "ERROR bad coordinates",
            "ERROR bad coordinates", "ERROR bad coordinates", "OK", "ERROR bad coordinates",
            "ERROR my move [7,7]", "7,7", "OK", "ERROR bad coordinates", "7,7"])

    def test_renju_board_follows_takeback(self):
        out = session(["INFO rule 2", "START 15", "PLAY 7,7", "TAKEBACK 7,7", "PLAY 7,7",
                       "PLAY 7,7"])
        self.assertEqual(out, NEW_GAME + ["7,7", "OK", "7,7", "ERROR my move [7,7]", "7,7"])

    def test_restart_empties_the_game_and_keeps_the_bounds(self):
        out = session(["START 12", "PLAY 5,5", "RESTART", "PLAY 5,5", "PLAY 12,0"])
        self.assertEqual(out, NEW_GAME + ["5,5"] + NEW_GAME + ["5,5", "ERROR bad coordinates"])


class BoardBlocks(unittest.TestCase):
    def run_block(self, lines, after=()):
        """START 15, a BOARD block, then END: the lines before the think's answer."""
        brain = Brain()
        try:
            brain.send(*FAST)
            brain.send("START 15", "BOARD", *lines)
            brain.send(*after)
            brain.send("END")
            status, out = brain.finish(10.0)
            self.assertEqual(status, 0)
            return banners_as_marks(out)
        finally:
            brain.kill()

    def test_taken_points_get_the_wording_of_their_who(self):
        out = self.run_block(["7,7,1", "7,7,2", "7,7,1", "1,1,3", "1,1,1", "1,1,2", "1,1,3",
                              "7,7,3", "done"])
        self.assertEqual(out[:8], NEW_GAME + [
            "ERROR opponents's move [7,7]", "ERROR my move [7,7]", "ERROR my move [1,1]",
            "ERROR opponents's move [1,1]", "ERROR board-block move [1,1]",
            "ERROR board-block move [7,7]"])

    def test_a_block_ends_at_the_first_line_that_is_no_stone_line(self):
        for ending in ("1,1,4", "1,1,0", "15,1,1", "1 ,1,1", "1,1", "DONE please", "START 15"):
            out = self.run_block(["7,7,1", ending, "ABOUT"])
            self.assertEqual(out[2], "ERROR x,y,who or DONE expected after BOARD", ending)
            self.assertTrue(any(l.startswith('name="Zorvan"') for l in out), ending)

    def test_done_in_any_case_ends_silently(self):
        for done in ("DONE", "done", "Done"):
            out = self.run_block(["7,7,1", done])
            self.assertFalse(any(l.startswith("ERROR") for l in out), (done, out))

    def test_blocked_points_are_neither_moves_nor_free(self):
        brain = Brain()
        try:
            brain.send(*FAST)
            brain.send("START 15", "BOARD", "3,3,3", "DONE")
            self.assertEqual(brain.read_answer(), "OK")
            move = brain.read_move()
            self.assertNotEqual(move, (3, 3))
            # The engine's move is the only record entry; the blocked point
            # can neither be taken back nor played.
            brain.send("TAKEBACK %d,%d" % move, "TAKEBACK 3,3", "TAKEBACK %d,%d" % move,
                       "PLAY 3,3", "END")
            status, out = brain.finish()
            self.assertEqual(status, 0)
            self.assertEqual(out, ["OK", "ERROR bad coordinates", "ERROR bad coordinates",
                                   "ERROR my move [3,3]", "3,3"])
        finally:
            brain.kill()


class EngineMoves(unittest.TestCase):
    """Cases that need the engine's own move."""

    def test_colours_follow_the_line_order_not_who(self):
        # Lines alternate black, white, ... whatever who says. Black has a four
        # ending at 7,7 (7,2 is white); white has one ending at 10,7 (10,2 is
        # black). Ten stones: black to move, and black wins at 7,7.
        stones = ["7,3", "7,2", "7,4", "10,3", "7,5", "10,4", "7,6", "10,5", "10,2", "10,6"]
        lines = ["%s,%d" % (s, 2 if i % 2 == 0 else 1) for i, s in enumerate(stones)]
        brain = Brain()
        try:
            brain.send(*FAST)
            brain.send("START 15", "BOARD", *lines)
            brain.send("DONE")
            self.assertEqual(brain.read_answer(), "OK")
            self.assertEqual(brain.read_move(), (7, 7))
            # The engine's move went into the record.
            brain.send("PLAY 7,7")
            self.assertEqual(brain.read(), "ERROR my move [7,7]")
            brain.send("END")
            self.assertEqual(brain.finish()[0], 0)
        finally:
            brain.kill()

    def test_turn_on_a_taken_point_still_gets_a_move(self):
        brain = Brain()
        try:
            brain.send(*FAST)
            brain.send("START 15", "PLAY 7,7", "TURN 7,7")
            self.assertEqual(brain.read_answer(), "OK")
            self.assertEqual(brain.read(), "7,7")
            self.assertEqual(brain.read(), "ERROR opponents's move [7,7]")
            x, y = brain.read_move()
            self.assertNotEqual((x, y), (7, 7))
            self.assertTrue(0 <= x < 15 and 0 <= y < 15)
            brain.send("END")
            self.assertEqual(brain.finish()[0], 0)
        finally:
            brain.kill()

    def test_end_of_input_inside_a_block_still_thinks(self):
        _, out = run_session(FAST + ["START 15", "BOARD", "7,7,1"])
        self.assertEqual(out[2], "ERROR x,y,who or DONE expected after BOARD")
        self.assertEqual(len(out[-1].split(",")), 2)
        self.assertTrue(any(l.startswith("MESSAGE Speed=") for l in out))


if __name__ == "__main__":
    unittest.main()
