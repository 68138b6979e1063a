"""INFO as a manager sends it: never answered, and its time limit and rule reach the next think."""

import time
import unittest

from brain import SLOWDOWN, Brain, run_session


def think_lines(brain, timeout=10.0):
    """The lines of one think, its move line included."""
    lines = []
    while True:
        line = brain.read(timeout)
        lines.append(line)
        if not line.startswith("MESSAGE"):
            return lines


class Silence(unittest.TestCase):
    def test_no_info_line_is_answered(self):
        lines = ["INFO max_memory 83886080", "INFO timeout_match 180000", "INFO timeout_turn 5000",
                 "INFO time_left 100000", "INFO game_type 1", "INFO rule 1", "INFO folder /tmp",
                 "INFO TIMEOUT_TURN 5000", "info rule 4", "INFO some_other_key 5", "INFO",
                 "INFO   ", "INFO rule", "INFO timeout_turn -5", "INFO time_left 99999999999999",
                 "INFO rule x", "INFOrule 2", "INFO search classic", "INFO search default",
                 "INFO search nonsense", "INFO SEARCH", "ABOUT"]
        status, out = run_session(lines)
        self.assertEqual(status, 0)
        self.assertEqual(len(out), 1, out)
        self.assertTrue(out[0].startswith('name="Zorvan"'))

    def test_info_needs_no_board(self):
        # INFO is not a position command: no default board, no banner.
        status, out = run_session(["INFO rule 1", "INFO timeout_turn 100", "END"])
        self.assertEqual((status, out), (0, []))


class RuleAtTheNextThink(unittest.TestCase):
    def test_first_think_names_the_rule(self):
        brain = Brain()
        try:
            brain.send("INFO timeout_turn 200", "INFO rule 1", "START 15", "TURN 7,7")
            self.assertEqual(brain.read_answer(), "OK")
            lines = think_lines(brain)
            self.assertEqual(lines[0], "MESSAGE Rule Gomoku (Standard)")
            self.assertTrue(lines[-2].startswith("MESSAGE Speed="))
            brain.send("END")
            self.assertEqual(brain.finish()[0], 0)
        finally:
            brain.kill()

    def test_rule_changes_between_moves(self):
        brain = Brain()
        try:
            brain.send("INFO timeout_turn 200", "INFO rule 4", "START 15", "TURN 7,7")
            self.assertEqual(brain.read_answer(), "OK")
            # Renju is built at START; its first think has nothing to announce.
            lines = think_lines(brain)
            self.assertFalse(any(l.startswith("MESSAGE Rule") for l in lines), lines)

            brain.send("INFO rule 8", "TURN 0,0")
            lines = think_lines(brain)
            self.assertEqual(lines[0], "MESSAGE Rule Gomoku (Freestyle)")

            # Back to Renju: the move entered rebuilds the board silently.
            brain.send("INFO rule 2", "TURN 0,14")
            lines = think_lines(brain)
            self.assertFalse(any(l.startswith("MESSAGE Rule") for l in lines), lines)

            # Standard with no move entered first: the think builds and says so.
            brain.send("INFO RULE 3", "BEGIN")
            lines = think_lines(brain)
            self.assertEqual(lines[0], "MESSAGE Rule Gomoku (Standard)")
            brain.send("END")
            self.assertEqual(brain.finish()[0], 0)
        finally:
            brain.kill()


class TimeLimit(unittest.TestCase):
    def test_timeout_turn_in_upper_case_limits_the_think(self):
        # The default limit is 30 s; with 300 ms the move must come long before.
        brain = Brain()
        try:
            brain.send("INFO TIMEOUT_TURN 300", "START 15", "TURN 7,7")
            self.assertEqual(brain.read_answer(), "OK")
            start = time.time()
            brain.read_move(timeout=8.0)
            self.assertLess(time.time() - start, 8.0 * SLOWDOWN)
            brain.send("END")
            self.assertEqual(brain.finish()[0], 0)
        finally:
            brain.kill()



class RuleSentDuringAThink(unittest.TestCase):
    def test_reaches_the_next_think_only(self):
        brain = Brain()
        try:
            # The INFO line arrives while the first think runs (or just after
            # it began): that think keeps the rule it started with.
            brain.send("INFO timeout_turn 300", "START 15", "TURN 7,7", "INFO rule 1")
            self.assertEqual(brain.read_answer(), "OK")
            lines = think_lines(brain)
            self.assertEqual(lines[0], "MESSAGE Rule Gomoku (Freestyle)")
            self.assertFalse(any("Standard" in l for l in lines), lines)
            brain.send("TURN 0,0")
            lines = think_lines(brain)
            self.assertEqual(lines[0], "MESSAGE Rule Gomoku (Standard)")
            brain.send("END")
            self.assertEqual(brain.finish()[0], 0)
        finally:
            brain.kill()


if __name__ == "__main__":
    unittest.main()
