"""The command loop: recognising lines, answering ABOUT and unknown lines, quitting."""

import unittest

from brain import Brain, run_session

ABOUT_PREFIX = 'name="Zorvan", author="Benrow", version="'


class KeywordRecognition(unittest.TestCase):
    def test_about_in_any_case_and_with_trailing_letters(self):
        status, out = run_session(["ABOUT", "about", "AbOuT", "ABOUTX more text"])
        self.assertEqual(status, 0)
        self.assertEqual(len(out), 4)
        for line in out:
            self.assertTrue(line.startswith(ABOUT_PREFIX), line)

    def test_about_text_has_five_quoted_fields_in_order(self):
        _, out = run_session(["ABOUT"])
        fields = [f.split("=", 1) for f in out[0].split(", ")]
        self.assertEqual([k for k, _ in fields], ["name", "author", "version", "country", "www"])
        for _, value in fields:
            self.assertTrue(value.startswith('"') and value.endswith('"') and len(value) >= 2)

    def test_unrecognised_lines(self):
        # Empty line, CR-only line, leading white space, unknown word, partial keyword.
        status, out = run_session([], raw=b"\n\r\n ABOUT\n\tEND\nHELLO\nABOU\nSTAR 15\n")
        self.assertEqual(status, 0)
        self.assertEqual(out, ["UNKNOWN command"] * 7)

    def test_crlf_input_behaves_like_lf(self):
        _, lf = run_session([], raw=b"ABOUT\nfoo\nEND\n")
        _, crlf = run_session([], raw=b"ABOUT\r\nfoo\r\nEND\r\n")
        self.assertEqual(lf, crlf)
        self.assertEqual(len(lf), 2)


class LineEnds(unittest.TestCase):
    def test_every_line_ends_in_a_bare_line_feed(self):
        # Managers that strip only the newline must read "UNKNOWN command", not
        # a text ending in CR; this matters most for the Windows builds.
        brain = Brain()
        try:
            brain.send_bytes(b"ABOUT\r\nnonsense\r\n")
            for _ in range(2):
                raw = brain.read_raw()
                self.assertIsNotNone(raw)
                self.assertTrue(raw.endswith(b"\n"))
                self.assertNotIn(b"\r", raw)
        finally:
            brain.kill()


class LongLines(unittest.TestCase):
    def test_a_10000_character_line_is_one_line(self):
        status, out = run_session(["X" * 10000, "ABOUT"])
        self.assertEqual(status, 0)
        self.assertEqual(out[0], "UNKNOWN command")
        self.assertTrue(out[1].startswith(ABOUT_PREFIX))
        self.assertEqual(len(out), 2)

    def test_long_about_line_is_still_about(self):
        _, out = run_session(["ABOUT" + "Z" * 9000])
        self.assertEqual(len(out), 1)
        self.assertTrue(out[0].startswith(ABOUT_PREFIX))

    def test_the_dropped_rest_never_becomes_a_command(self):
        # Byte 8192 onwards is dropped: an END placed there must not end the run.
        _, out = run_session(["Y" * 8191 + "END", "ABOUT"])
        self.assertEqual(len(out), 2)
        self.assertEqual(out[0], "UNKNOWN command")


class Quitting(unittest.TestCase):
    def test_nothing_is_printed_at_start_up(self):
        brain = Brain()
        try:
            self.assertTrue(brain.no_output(0.5))
            brain.send("END")
            status, rest = brain.finish()
            self.assertEqual((status, rest), (0, []))
        finally:
            brain.kill()

    def test_end_exits_zero_and_ignores_later_input(self):
        status, out = run_session(["END", "ABOUT"])
        self.assertEqual((status, out), (0, []))

    def test_end_with_trailing_letters_is_end(self):
        status, out = run_session(["endx", "ABOUT"])
        self.assertEqual((status, out), (0, []))

    def test_end_of_input_exits_zero(self):
        status, out = run_session([])
        self.assertEqual((status, out), (0, []))

    def test_unfinished_last_line_is_discarded(self):
        status, out = run_session([], raw=b"ABOUT")
        self.assertEqual((status, out), (0, []))


if __name__ == "__main__":
    unittest.main()
