"""The board server without a browser: its games against a scripted brain that
misbehaves on purpose, its records, and its HTTP interface's refusals.

run: python3 -m unittest discover -s tests/web -p 'test_server.py'
"""

import http.client
import json
import os
import re
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "webboard"))

from analysis import GRAPH_CLIP, LEVELS, black_view, parse_detail  # noqa: E402
from game import Game, Refused, Settings, new_game  # noqa: E402
from records import parse_record, to_move_list, to_sgf  # noqa: E402
from server import BoardServer, Games  # noqa: E402

FAKE = os.path.join(HERE, "fake_brain.py")
WAIT_S = 15.0

# Black's double three at 7,7 (row 7: 7,5 7,6; column 7: 5,7 6,7); white far away.
DOUBLE_THREE = "7,5\n0,0\n7,6\n0,2\n5,7\n0,4\n6,7\n0,6\n"


def fake(*options):
    return [sys.executable, FAKE] + list(options)


def wait_for(game, predicate, what):
    end = time.monotonic() + WAIT_S
    with game.cond:
        while not predicate(game):
            left = end - time.monotonic()
            if left <= 0:
                raise AssertionError("waited %.0f s for %s; log:\n%s" % (
                    WAIT_S, what, "\n".join(t for _, t in game.log)))
            game.cond.wait(left)


def engine_to_move_done(game):
    return game.worker is None


def log_text(game):
    with game.cond:
        return "\n".join(t for _, t in game.log)


class GameCase(unittest.TestCase):
    def setUp(self):
        self.games = []
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        for game in self.games:
            for engine in game.close():
                engine.proc.wait(timeout=5)
        self.dir.cleanup()

    def game(self, command=None, moves=(), tolerance_ms=300, **settings):
        options = dict(rule="renju", black="human", white="engine", timeout_turn=300)
        options.update(settings)
        game = Game("g", Settings(**options), command or fake(), tolerance_ms, moves)
        self.games.append(game)
        return game

    def settle(self, game):
        wait_for(game, engine_to_move_done, "the engine's move")


class Play(GameCase):
    def test_the_engine_answers_a_move_and_reports_its_think(self):
        game = self.game()
        game.play(7, 7)
        self.settle(game)
        state = game.state()
        # The scripted brain plays the first free point in scan order.
        self.assertEqual(state["moves"], [[7, 7], [0, 0]])
        self.assertIsNone(state["times"][0])
        self.assertIsInstance(state["times"][1], int)
        log = log_text(game)
        self.assertIn("white < TURN 7,7", log)
        self.assertIn("white > MESSAGE Speed=7", log)
        self.assertIn("white (engine) played A15 (0,0)", log)

    def test_moves_out_of_turn_or_on_taken_points_are_refused(self):
        game = self.game()
        for x, y, reason in ((15, 0, "off the board"), (-1, 3, "off the board")):
            with self.assertRaisesRegex(Refused, reason):
                game.play(x, y)
        game.play(7, 7)
        self.settle(game)
        with self.assertRaisesRegex(Refused, "taken"):
            game.play(0, 0)
        self.assertEqual(len(game.state()["moves"]), 2)
        watcher = self.game(black="engine", white="engine")
        with self.assertRaisesRegex(Refused, "engine's turn"):
            watcher.play(7, 7)

    def test_renju_fouls_are_marked_and_refused_with_their_reason(self):
        game = new_game("g", {"rule": "renju", "black": "human", "white": "engine",
                              "record": DOUBLE_THREE}, fake(), 300)
        self.games.append(game)
        before = game.state()
        self.assertEqual(before["forbidden"], [[7, 7, "double three"]])
        with self.assertRaisesRegex(Refused, r"7,7 \(H8\) is forbidden for black: double three"):
            game.play(7, 7)
        after = game.state()
        self.assertEqual((after["moves"], after["version"]), (before["moves"], before["version"]))
        # The same point is fine in freestyle, and no marks are shown there.
        free = new_game("g", {"rule": "freestyle", "black": "human", "white": "human",
                              "record": DOUBLE_THREE}, fake(), 300)
        self.assertEqual(free.state()["forbidden"], [])
        free.play(7, 7)
        # While white is to move nothing is marked.
        game.play(9, 9)
        self.assertEqual(game.state()["forbidden"], [])

    def test_undo_takes_back_the_pair_and_the_engine_follows(self):
        game = self.game()
        game.play(7, 7)
        self.settle(game)
        game.undo()
        self.assertEqual(game.state()["moves"], [])
        # The brain takes the moves back before its next move: 0,0 is free
        # for it again, and it is told the new move with TURN, not the board.
        game.play(3, 3)
        self.settle(game)
        self.assertIn("white < TAKEBACK 0,0\nwhite > OK\nwhite < TAKEBACK 7,7", log_text(game))
        self.assertEqual(game.state()["moves"], [[3, 3], [0, 0]])
        self.assertEqual(log_text(game).count("white < TURN"), 2)
        with self.assertRaisesRegex(Refused, "no move"):
            self.game().undo()

    def test_undo_after_the_persons_winning_move_takes_back_only_it(self):
        game = self.game(command=fake("--moves", "0,0 0,2 0,4 0,6"), rule="freestyle")
        for y in range(3, 7):
            game.play(7, y)
            self.settle(game)
        game.play(7, 7)
        self.assertEqual(game.state()["result"]["reason"], "black made five")
        game.undo()
        state = game.state()
        self.assertIsNone(state["result"])
        self.assertEqual(len(state["moves"]), 8)
        self.assertEqual(state["player"], "human")

    def test_a_five_ends_the_game_with_its_line_and_ends_the_engine(self):
        game = self.game(command=fake("--moves", "0,0 0,2 0,4 0,6"), rule="standard")
        for y in range(3, 7):
            game.play(7, y)
            self.settle(game)
        engine = game.slots[1].engine
        game.play(7, 7)
        state = game.state()
        self.assertEqual(state["result"]["winner"], "black")
        self.assertEqual(state["result"]["line"], [[7, y] for y in range(3, 8)])
        with self.assertRaisesRegex(Refused, "over"):
            game.play(9, 9)
        self.assertEqual(engine.proc.wait(timeout=5), 0)  # ended with END

    def test_an_overline_wins_only_in_freestyle(self):
        row = "7,1\n0,0\n7,2\n0,2\n7,3\n0,4\n7,5\n0,6\n7,6\n0,8\n"
        for rule, won in (("freestyle", True), ("standard", False), ("renju", False)):
            game = new_game("g", {"rule": rule, "black": "human", "white": "human",
                                  "record": row}, fake(), 300)
            if rule == "renju":
                with self.assertRaisesRegex(Refused, "overline"):
                    game.play(7, 4)
                continue
            game.play(7, 4)
            self.assertEqual(game.state()["result"] is not None, won, rule)

    def test_engines_play_each_other_to_the_end(self):
        game = self.game(black="engine", white="engine", rule="freestyle", timeout_turn=100)
        game.begin()
        wait_for(game, lambda g: g.result or g.failure, "the end of the game")
        state = game.state()
        self.assertIsNone(state["failure"])
        self.assertEqual(log_text(game).count("< BEGIN"), 1)
        winner = 0 if state["result"]["winner"] == "black" else 1
        line = [tuple(p) for p in state["result"]["line"]]
        self.assertEqual(len(line), 5)
        moves = [tuple(m) for m in state["moves"]]
        self.assertEqual(len(set(moves)), len(moves))
        self.assertTrue(all(moves.index(p) % 2 == winner for p in line))
        self.assertEqual(len(moves) % 2, 1 - winner)  # the winner moved last

    def test_the_match_clock_runs_out(self):
        game = self.game(command=fake("--misbehave", "late", "--at", "2"), rule="freestyle",
                         timeout_turn=2000, time_left=1000, tolerance_ms=3000)
        game.play(7, 7)
        self.settle(game)
        self.assertEqual(game.state()["clocks"][0], None)
        self.assertGreater(game.state()["clocks"][1], 0)
        game.play(8, 8)
        self.settle(game)
        # The late move used more than the clock held; the next request finds it empty.
        game.play(9, 9)
        self.settle(game)
        self.assertEqual(game.state()["result"]["reason"], "white's match clock ran out")


class EngineFailures(GameCase):
    def fail_and_recover(self, misbehave, kind, text, printed="MESSAGE about to " , at=2):
        marker = os.path.join(self.dir.name, misbehave)
        game = self.game(command=fake("--misbehave", misbehave, "--at", str(at), "--once",
                                      marker))
        game.play(7, 7)
        self.settle(game)
        game.play(8, 8)
        self.settle(game)
        state = game.state()
        failure = state["failure"]
        self.assertIsNotNone(failure, misbehave)
        self.assertEqual((failure["colour"], failure["kind"]), ("white", kind))
        self.assertIn(text, failure["text"])
        self.assertIn(printed + misbehave, failure["printed"])
        if misbehave == "crash":
            self.assertIn("fake brain: crash on request 2", failure["stderr"])
        self.assertEqual(len(state["moves"]), 3, "the failed move is not entered")
        self.assertIsNone(game.slots[1], "the failed engine is gone")
        with self.assertRaisesRegex(Refused, "failed"):
            game.play(9, 9)
        # A fresh brain gets the whole position and the game goes on.
        game.fresh_engine()
        self.settle(game)
        state = game.state()
        self.assertIsNone(state["failure"])
        self.assertEqual(len(state["moves"]), 4)
        self.assertIn("white < BOARD (3 stones)", log_text(game))
        game.play(9, 9)
        self.settle(game)
        self.assertEqual(len(game.state()["moves"]), 6)
        return failure

    def test_crash(self):
        self.fail_and_recover("crash", "crash", "the brain ended (exit status 3)")

    def test_error_line(self):
        self.fail_and_recover("error", "error", "ERROR something went wrong")

    def test_illegal_move(self):
        self.fail_and_recover("illegal", "illegal", "the move 8,8 is taken")

    def test_an_answer_that_is_no_move(self):
        self.fail_and_recover("garbage", "illegal", "answer 'hello' is not a move")

    def test_late_move(self):
        self.fail_and_recover("late", "time", "after")

    def test_stall(self):
        started = time.monotonic()
        failure = self.fail_and_recover("stall", "time", "no move within")
        self.assertIn("limit 300 + tolerance 300", failure["text"])
        self.assertLess(time.monotonic() - started, WAIT_S)

    def test_an_engine_that_cannot_start(self):
        game = self.game(command=[os.path.join(self.dir.name, "no-such-brain")])
        game.play(7, 7)
        self.settle(game)
        self.assertEqual(game.state()["failure"]["kind"], "crash")
        self.assertIn("cannot start", game.state()["failure"]["text"])

    def test_undo_after_a_failure_goes_on_with_a_fresh_engine(self):
        marker = os.path.join(self.dir.name, "m")
        game = self.game(command=fake("--misbehave", "crash", "--once", marker))
        game.play(7, 7)
        self.settle(game)
        self.assertIsNotNone(game.state()["failure"])
        game.undo()
        self.assertIsNone(game.state()["failure"])
        game.play(6, 6)
        self.settle(game)
        self.assertEqual(game.state()["moves"], [[6, 6], [0, 0]])


class Records(unittest.TestCase):
    GAME = [(7, 7), (6, 8), (8, 6), (0, 0), (9, 5), (19, 14)]

    def test_sgf_and_move_list_round_trip(self):
        result = {"winner": "black", "reason": "black made five", "line": []}
        for width, height in ((15, 15), (15, 20), (24, 5)):
            moves = [(x % height, y % width) for x, y in self.GAME]
            for text in (to_sgf("standard", width, height, moves, result, ("A", "B]")),
                         to_move_list("standard", width, height, moves, result)):
                self.assertEqual(parse_record(text), ("standard", (width, height), moves), text)
        self.assertIn("SZ[15:20]", to_sgf("renju", 15, 20, []))
        self.assertIn(";B[hh];W[ig]", to_sgf("renju", 15, 15, [(7, 7), (6, 8)]))

    def test_a_loaded_game_equals_the_one_played(self):
        game = new_game("g", {"rule": "freestyle", "width": 20, "height": 15, "black": "human",
                              "white": "human"}, fake(), 300)
        for x, y in ((7, 7), (6, 8), (8, 6), (0, 0), (9, 5)):
            game.play(x, y)
        for kind in ("sgf", "moves"):
            loaded = new_game("g", {"rule": "renju", "width": 9, "record": game.record(kind)},
                              fake(), 300)
            a, b = game.state(), loaded.state()
            self.assertEqual((a["moves"], a["settings"]["rule"], a["settings"]["width"],
                              a["settings"]["height"]),
                             (b["moves"], b["settings"]["rule"], b["settings"]["width"],
                              b["settings"]["height"]), kind)
        # A plain list without a header takes the page's settings.
        plain = new_game("g", {"rule": "standard", "width": 9, "record": "4,4 3,3; 2,2"},
                         fake(), 300)
        self.assertEqual(plain.state()["moves"], [[4, 4], [3, 3], [2, 2]])
        self.assertEqual(plain.state()["settings"]["width"], 9)

    def test_bad_records_are_refused(self):
        cases = [("7,7\n7,7\n", "taken"), ("7,7\n15,0\n", "off the board"),
                 ("7,7 seven\n", "not a move"), ("(;SZ[15];B[hh];B[ii])", "expected W"),
                 ("(;SZ[30];B[hh])", "not from 5 to 24"), ("(;SZ[15];B[h])", "not a point"),
                 ("0,0\n1,0\n0,1\n1,1\n0,2\n1,2\n0,3\n1,3\n0,4\n1,4\n", "already over"),
                 (DOUBLE_THREE + "7,7\n", "double three")]
        for record, reason in cases:
            with self.assertRaisesRegex(Refused, reason, msg=record):
                new_game("g", {"rule": "renju", "record": record}, fake(), 300)

    def test_settings_out_of_range_are_refused(self):
        for data in ({"width": 4}, {"width": 25}, {"height": 30}, {"rule": "go"},
                     {"black": "robot"}, {"timeout_turn": 0}, {"timeout_turn": "100"},
                     {"time_left": -1}, {"width": True}):
            with self.assertRaises(Refused, msg=data):
                Settings.from_request(data)
        s = Settings.from_request({"width": 20, "height": 10, "time_left": 60000})
        self.assertEqual((s.width, s.height, s.time_left), (20, 10, 60000))


class DetailLines(unittest.TestCase):
    """The engine's per-depth lines as the board reads them."""

    def test_a_full_line_and_its_variants(self):
        line = "MESSAGE depth 9-14 value +35 nodes 1204332 nps 1308k time 921 pv 7,8 8,9 6,7"
        d = parse_detail(line)
        self.assertEqual((d["depth"], d["seldepth"], d["value"]["score"], d["nodes"], d["nps"],
                          d["time"], d["pv"]),
                         (9, 14, 35, 1204332, 1308000, 921, [[7, 8], [8, 9], [6, 7]]))
        # Keys in another order, no selective depth, tokens the board does not know.
        d = parse_detail("MESSAGE depth 4 pv 1,2 3,4 hashfull 12 time 30 value -120 "
                         "nodes 77 nps 2M tt 5")
        self.assertEqual((d["depth"], d["seldepth"], d["value"]["score"], d["value"]["text"],
                          d["nodes"], d["nps"], d["time"], d["pv"]),
                         (4, None, -120, "-120", 77, 2000000, 30, [[1, 2], [3, 4]]))
        self.assertEqual(parse_detail("MESSAGE depth 1 value 0")["value"]["text"], "0")
        for text, kind, moves in (("+win 7", "win", 7), ("-loss 4", "loss", 4),
                                  ("win 3", "win", 3)):
            value = parse_detail("MESSAGE depth 5-9 value %s nodes 10 pv 0,0" % text)["value"]
            self.assertEqual((value["kind"], value["in"]), (kind, moves), text)
            self.assertEqual(value["text"], "+win %d" % moves if kind == "win" else "-loss 4")
        # A garbled field is left out; the rest of the line is still read.
        d = parse_detail("MESSAGE depth 3-x value ++5 nodes many pv 1,1 x 2,2")
        self.assertEqual((d["depth"], d["seldepth"], d["value"], d["nodes"], d["pv"]),
                         (3, None, None, None, [[1, 1]]))

    def test_lines_that_are_not_depth_lines(self):
        for line in ("MESSAGE Speed=2153", "MESSAGE Zorvan 1.0", "7,8", "MESSAGE depth",
                     "MESSAGE depth x value +3", "DEBUG depth 3", "", "MESSAGE  "):
            self.assertIsNone(parse_detail(line), line)

    def test_black_view_and_clipping(self):
        value = parse_detail("MESSAGE depth 2 value +35")["value"]
        self.assertEqual((black_view(value, True), black_view(value, False)), (35, -35))
        big = parse_detail("MESSAGE depth 2 value -99999")["value"]
        self.assertEqual(black_view(big, True), -GRAPH_CLIP)
        win = parse_detail("MESSAGE depth 2 value +win 3")["value"]
        loss = parse_detail("MESSAGE depth 2 value -loss 2")["value"]
        self.assertEqual((black_view(win, False), black_view(loss, False)),
                         (-GRAPH_CLIP, GRAPH_CLIP))
        self.assertIsNone(black_view(None, True))


def first_free(moves, width=15, height=15):
    return next([x, y] for x in range(height) for y in range(width) if [x, y] not in moves)


class Analysis(GameCase):
    def test_the_think_is_shown_and_its_value_goes_with_the_move(self):
        game = self.game(command=fake("--think-ms", "1200", "--values", "+35,-loss 2"),
                         timeout_turn=3000)
        game.play(7, 7)
        wait_for(game, lambda g: g.analysis and g.analysis["depth"] >= 2, "a depth line")
        shown = game.state()
        self.assertTrue(shown["thinking"])
        self.assertEqual((shown["analysis"]["colour"], shown["analysis"]["value"]["text"]),
                         ("white", "+35"))
        pv = shown["analysis"]["pv"]
        self.settle(game)
        state = game.state()
        # The line starts with the move the brain then plays; it is gone with the move.
        self.assertEqual(pv[0], state["moves"][1])
        self.assertIsNone(state["analysis"])
        self.assertEqual(state["values"], [None, "+35"])
        self.assertIn("white (engine) played A15 (0,0) in", log_text(game))
        self.assertIn("value +35", log_text(game))
        game.play(7, 8)
        self.settle(game)
        # White's values from black's point of view; the forced loss at the edge.
        self.assertEqual(game.state()["graph"], [[2, -35, False], [4, GRAPH_CLIP, True]])

    def test_the_graph_has_a_point_per_engine_move_with_a_value(self):
        game = self.game(command=fake("--values", "+35,+win 3,+5000"), black="engine",
                         white="human", rule="freestyle")
        game.begin()
        self.settle(game)
        for x in (7, 8):
            game.play(x, 7)
            self.settle(game)
        state = game.state()
        self.assertEqual(state["values"], ["+35", None, "+win 3", None, "+5000"])
        self.assertEqual(state["graph"], [[1, 35, False], [3, GRAPH_CLIP, True],
                                          [5, GRAPH_CLIP, False]])
        # Take-backs take the values with them.
        game.undo()
        self.assertEqual(game.state()["values"], ["+35", None, "+win 3"])
        self.assertEqual(len(game.state()["graph"]), 2)



class Levels(GameCase):
    def test_each_engine_side_gets_its_levels_limits_and_time(self):
        game = self.game(command=fake(), black="engine", white="engine", rule="freestyle",
                         timeout_turn=2000, levels=("beginner", "full"))
        game.begin()
        wait_for(game, lambda g: len(g.moves) >= 2, "both engines' first moves")
        log = log_text(game)
        # Full strength: no limits and the game's time per move.
        for colour, limits in (("black", LEVELS["beginner"]),
                               ("white", {"max_depth": 0, "max_node": 0, "ms": 2000})):
            for key in ("max_depth", "max_node"):
                self.assertIn("%s > MESSAGE fake: %s %d" % (colour, key, limits[key]), log)
            self.assertIn("%s > MESSAGE fake: timeout_turn %d" % (colour, limits["ms"]), log)
            self.assertIn("%s > MESSAGE fake: show_detail 1" % colour, log)

    def test_a_level_time_is_the_limit_the_engine_is_held_to(self):
        # 600 ms of thinking is fine at full strength but late for a beginner (300 ms).
        for level, late in (("full", False), ("beginner", True)):
            game = self.game(command=fake("--think-ms", "600"), timeout_turn=2000,
                             levels=("full", level), tolerance_ms=100)
            game.play(7, 7)
            self.settle(game)
            failure = game.state()["failure"]
            self.assertEqual(failure is not None, late, level)
            if late:
                self.assertIn("limit 300", failure["text"])

    def test_levels_are_checked_and_the_page_offers_each_of_them(self):
        s = Settings.from_request({"black_level": "casual"})
        self.assertEqual((s.levels, s.as_dict()["black_level"], s.as_dict()["white_level"]),
                         (("casual", "full"), "casual", "full"))
        for data in ({"white_level": "godlike"}, {"black_level": 3}, {"black_level": None}):
            with self.assertRaisesRegex(Refused, "level", msg=data):
                Settings.from_request(data)
        with open(os.path.join(ROOT, "webboard", "static", "index.html")) as f:
            page = f.read()
        for side in ("black", "white"):
            select = re.search(r'<select id="%s-level"[^>]*>(.*?)</select>' % side, page, re.S)
            self.assertEqual(re.findall(r'value="(\w+)"', select.group(1)), list(LEVELS), side)


class MoveNow(GameCase):
    def test_yxstop_makes_the_engine_answer_at_once(self):
        game = self.game(command=fake("--think-ms", "8000"), timeout_turn=10000)
        with self.assertRaisesRegex(Refused, "no engine is thinking"):
            game.stop()
        game.play(7, 7)
        wait_for(game, lambda g: g.state()["can_stop"], "a think that can be stopped")
        asked = time.monotonic()
        game.stop()
        self.assertFalse(game.state()["can_stop"], "one YXSTOP per think")
        game.stop()  # a second press changes nothing
        self.settle(game)
        # Far sooner than the 8 s the brain would have thought.
        self.assertLess(time.monotonic() - asked, 4.0)
        state = game.state()
        self.assertEqual((state["moves"], state["failure"]), ([[7, 7], [0, 0]], None))
        self.assertEqual(log_text(game).count("white < YXSTOP"), 1)
        with self.assertRaisesRegex(Refused, "no engine is thinking"):
            game.stop()
        # The brain goes on normally with the next move.
        game.play(7, 8)
        wait_for(game, lambda g: g.state()["can_stop"], "the next think")
        game.stop()
        self.settle(game)
        self.assertEqual(len(game.state()["moves"]), 4)

    def test_an_engine_that_does_not_know_yxstop_is_not_sent_it(self):
        game = self.game(command=fake("--think-ms", "800", "--no-yx"), timeout_turn=3000)
        game.play(7, 7)
        wait_for(game, lambda g: g.worker is not None and g.slots[1] and g.slots[1].asked,
                 "the think")
        self.assertFalse(game.state()["can_stop"])
        with self.assertRaisesRegex(Refused, "does not know YXSTOP"):
            game.stop()
        self.settle(game)
        state = game.state()
        # Its UNKNOWN to the probe is no failure.
        self.assertEqual((len(state["moves"]), state["failure"]), (2, None))
        self.assertIn("white > UNKNOWN command", log_text(game))
        self.assertNotIn("white < YXSTOP", log_text(game))


class Hints(GameCase):
    def wait_hint(self, game):
        wait_for(game, lambda g: g.hint and g.hint["status"] != "thinking", "the hint")
        return game.state()["hint"]

    def test_a_hint_marks_a_move_and_plays_nothing(self):
        game = self.game(command=fake("--values", "+12"))
        game.ask_hint()
        hint = self.wait_hint(game)
        self.assertEqual((hint["status"], hint["colour"], hint["move"], hint["value"]),
                         ("done", "black", [0, 0], "+12"))
        self.assertEqual(hint["analysis"]["pv"][0], [0, 0])
        state = game.state()
        self.assertEqual((state["moves"], state["player"]), ([], "human"))
        self.assertEqual(game.slots, [None, None], "the game's engine was not asked")
        self.assertIn("hint < BEGIN", log_text(game))
        # Its helper has ended; the person's move clears the hint.
        game.play(7, 7)
        self.assertIsNone(game.state()["hint"])
        self.settle(game)
        white_lines = [t for t in log_text(game).splitlines() if t.startswith("white <")]
        game.ask_hint()
        hint = self.wait_hint(game)
        # The helper gets the whole position: its move is the first free point.
        self.assertEqual(hint["move"], first_free(game.state()["moves"]))
        self.assertIn("hint < BOARD (2 stones)", log_text(game))
        self.assertEqual(white_lines,
                         [t for t in log_text(game).splitlines() if t.startswith("white <")])
        self.assertEqual(len(game.state()["moves"]), 2)

    def test_hints_only_for_a_person_to_move(self):
        watcher = self.game(black="engine", white="engine", timeout_turn=2000,
                            command=fake("--think-ms", "1500"))
        watcher.begin()
        with self.assertRaisesRegex(Refused, "for a person"):
            watcher.ask_hint()
        game = self.game(command=fake("--think-ms", "1000"), black="human", white="human")
        game.ask_hint()
        with self.assertRaisesRegex(Refused, "on its way"):
            game.ask_hint()
        over = new_game("g", {"rule": "freestyle", "black": "human", "white": "human",
                              "record": "7,1\n0,0\n7,2\n0,2\n7,3\n0,4\n7,4\n0,6\n7,5\n"},
                        fake(), 300)
        self.games.append(over)
        with self.assertRaisesRegex(Refused, "over"):
            over.ask_hint()

    def test_a_hint_for_a_position_gone_is_dropped(self):
        game = self.game(command=fake("--think-ms", "3000"), black="human", white="human",
                         timeout_turn=4000)
        game.ask_hint()
        wait_for(game, lambda g: g.hint_engine is not None, "the helper")
        helper = game.hint_engine
        game.play(7, 7)
        self.assertIsNone(game.state()["hint"])
        self.assertIsNotNone(helper.proc.wait(timeout=5), "the helper is ended")
        time.sleep(0.3)
        self.assertIsNone(game.state()["hint"])

    def test_a_failed_hint_says_why_and_the_game_goes_on(self):
        game = self.game(command=fake("--misbehave", "crash"))
        game.ask_hint()
        hint = self.wait_hint(game)
        self.assertEqual(hint["status"], "failed")
        self.assertIn("exit status 3", hint["text"])
        self.assertIsNone(game.state()["failure"])


class Continue(GameCase):
    def test_continuing_from_a_reviewed_move_while_the_engines_play(self):
        game = self.game(command=fake("--think-ms", "150"), black="engine", white="engine",
                         rule="freestyle", timeout_turn=1000)
        game.begin()
        wait_for(game, lambda g: len(g.moves) >= 6, "six moves")
        before = game.state()["moves"]
        old = [slot.engine for slot in game.slots if slot]
        game.continue_from(3)
        state = game.state()
        self.assertEqual(state["moves"], before[:3])
        self.assertEqual(len(state["values"]), 3)
        self.assertIn("continued from move 3: ", log_text(game))
        # The brains are ended and fresh ones take the position with BOARD.
        for engine in old:
            self.assertIsNotNone(engine.proc.wait(timeout=5))
        wait_for(game, lambda g: len(g.moves) >= 5, "the game going on")
        after = log_text(game).split("continued from move 3")[1]
        self.assertIn("white < BOARD (3 stones)", after)
        self.assertIn("black < BOARD (4 stones)", after)
        state = game.state()
        self.assertIsNone(state["failure"])
        self.assertEqual(state["moves"][:3], before[:3])
        self.assertEqual(len(set(map(tuple, state["moves"]))), len(state["moves"]))
        self.assertEqual(len(state["values"]), len(state["moves"]))

    def test_continuing_a_finished_game_from_before_its_end(self):
        game = new_game("g", {"rule": "freestyle", "black": "human", "white": "engine",
                              "timeout_turn": 300,
                              "record": "7,1\n0,0\n7,2\n0,2\n7,3\n0,4\n7,4\n0,6\n"},
                        fake(), 300)
        self.games.append(game)
        game.play(7, 5)
        self.assertEqual(game.state()["result"]["winner"], "black")
        game.continue_from(8)
        state = game.state()
        self.assertIsNone(state["result"])
        self.assertEqual((len(state["moves"]), state["player"]), (8, "human"))
        game.play(9, 9)
        self.settle(game)
        self.assertEqual(len(game.state()["moves"]), 10)

    def test_what_cannot_be_continued_from(self):
        game = self.game(black="human", white="human")
        game.play(7, 7)
        for count, reason in ((1, "no move 1"), (-1, "no move -1"), (5, "no move 5")):
            with self.assertRaisesRegex(Refused, reason):
                game.continue_from(count)
        game.continue_from(0)
        self.assertEqual(game.state()["moves"], [])
        game.close()
        with self.assertRaisesRegex(Refused, "closed"):
            game.continue_from(0)


class Http(unittest.TestCase):
    """The server over real sockets: what it serves and what it turns away."""

    @classmethod
    def setUpClass(cls):
        cls.games = Games(fake(), max_games=2, idle_seconds=600, tolerance_ms=300)
        cls.server = BoardServer(("127.0.0.1", 0), cls.games)
        cls.port = cls.server.server_address[1]
        cls.thread = threading.Thread(target=cls.server.serve_forever, daemon=True)
        cls.thread.start()

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        cls.games.close_all()
        cls.server.server_close()

    def request(self, method, path, body=None, headers=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        all_headers = {"Content-Type": "application/json"} if body is not None else {}
        all_headers.update(headers or {})
        if isinstance(body, (dict, list)):
            body = json.dumps(body)
        conn.request(method, path, body, all_headers)
        response = conn.getresponse()
        data = response.read()
        conn.close()
        return response.status, data

    def new(self, **data):
        status, body = self.request("POST", "/api/new", dict(data))
        self.assertEqual(status, 200, body)
        return json.loads(body)["state"]

    def test_the_page_files_and_nothing_else(self):
        status, body = self.request("GET", "/")
        self.assertEqual(status, 200)
        self.assertIn(b'<script src="/board.js">', body)
        for path in ("/board.js", "/board.css"):
            self.assertEqual(self.request("GET", path)[0], 200, path)
        for path in ("/../server.py", "/static/../server.py", "/%2e%2e/server.py", "/server.py",
                     "/game.py", "//etc/passwd", "/board.js/..", "/static/index.html"):
            self.assertEqual(self.request("GET", path)[0], 404, path)

    def test_malformed_requests_get_4xx_and_change_nothing(self):
        state = self.new(black="human", white="human")
        game = state["id"]
        cases = [
            ("POST", "/api/move", '{"game": "%s", "x": 7' % game, {}, 400),
            ("POST", "/api/move", '[1, 2]', {}, 400),
            ("POST", "/api/move", {"game": game, "x": "7", "y": 7}, {}, 400),
            ("POST", "/api/move", {"game": game, "x": 7.0, "y": 7}, {}, 400),
            ("POST", "/api/move", {"game": game, "x": 7, "y": 7},
             {"Content-Type": "text/plain"}, 415),
            ("POST", "/api/move", {"game": "nope", "x": 7, "y": 7}, {}, 404),
            ("POST", "/api/move", {"x": 7, "y": 7}, {}, 400),
            ("POST", "/api/move", {"game": game, "x": 7, "y": 7, "pad": "x" * 20000}, {}, 413),
            ("POST", "/api/move", b"\xff\xfe", {}, 400),
            ("POST", "/api/nothing", {"game": game}, {}, 404),
            ("PUT", "/api/move", {"game": game, "x": 7, "y": 7}, {}, 405),
            ("DELETE", "/", None, {}, 405),
            ("GET", "/api/state?game=%s&since=abc" % game, None, {}, 400),
            ("GET", "/api/state?game=" + "a" * 3000, None, {}, 414),
            ("GET", "/api/export?game=%s&format=exe" % game, None, {}, 400),
            ("GET", "/", None, {"Host": "evil.example:80"}, 403),
            ("POST", "/api/new", {"width": 99}, {}, 200),  # refused in the answer
            ("POST", "/api/continue", {"game": game, "moves": "0"}, {}, 400),
            ("POST", "/api/continue", {"game": game, "moves": False}, {}, 400),
            ("POST", "/api/continue", {"game": game, "moves": 0}, {}, 200),  # no move yet
            ("POST", "/api/stop", {"game": game}, {}, 200),  # nothing thinks
            ("POST", "/api/new", {"white_level": "godlike"}, {}, 200),
        ]
        for method, path, body, headers, expected in cases:
            status, answer = self.request(method, path, body, headers)
            self.assertEqual(status, expected, (method, path, answer[:200]))
            if expected == 200:
                self.assertFalse(json.loads(answer)["ok"])
        status, answer = self.request("GET", "/api/state?game=%s" % game)
        self.assertEqual(json.loads(answer)["moves"], [])
        self.assertEqual(json.loads(answer)["version"], state["version"])

    def test_a_refused_move_says_why_and_a_played_one_is_seen_by_a_poll(self):
        state = self.new(black="human", white="engine", timeout_turn=200)
        game = state["id"]
        status, answer = self.request("POST", "/api/move", {"game": game, "x": 7, "y": 77})
        self.assertEqual((status, json.loads(answer)["refused"]), (200, "7,77 is off the board"))
        status, answer = self.request("POST", "/api/move", {"game": game, "x": 7, "y": 7})
        version = json.loads(answer)["state"]["version"]
        deadline = time.monotonic() + WAIT_S
        moves = []
        while len(moves) < 2 and time.monotonic() < deadline:
            status, answer = self.request(
                "GET", "/api/state?game=%s&since=%d&wait=5000" % (game, version))
            moves, version = json.loads(answer)["moves"], json.loads(answer)["version"]
        self.assertEqual(moves, [[7, 7], [0, 0]])
        status, answer = self.request("GET", "/api/export?game=%s&format=moves" % game)
        self.assertEqual(answer.decode().splitlines()[1:], ["7,7", "0,0"])

    def test_the_limit_on_games_and_the_idle_timeout(self):
        for game in list(self.games.games.values()):
            game.close()
        first = self.new(black="engine", white="human")
        second = self.new(black="human", white="human")
        status, answer = self.request("POST", "/api/new", {})
        self.assertEqual(status, 503, answer)
        # A refused new game leaves the one it would replace alone; a new
        # game that replaces one takes its place.
        status, answer = self.request("POST", "/api/new", {"replace": second["id"], "width": 3})
        self.assertIn("width", json.loads(answer)["refused"])
        self.assertFalse(self.games.find(second["id"]).closed)
        third = self.new(replace=second["id"])
        self.assertTrue(self.games.find(second["id"]).closed)
        game = self.games.find(first["id"])
        wait_for(game, engine_to_move_done, "the engine's first move")
        engine = game.slots[0].engine
        # An abandoned game: no request for longer than the idle time.
        game.last_active -= 601
        with self.games.lock:
            self.games.reap_locked()
        self.assertTrue(game.closed)
        self.assertEqual(engine.proc.wait(timeout=5), 0)
        status, answer = self.request("GET", "/api/state?game=%s" % first["id"])
        self.assertTrue(json.loads(answer)["closed"])
        self.new(replace=third["id"])


    def test_hint_and_continue_through_the_interface(self):
        game = self.new(black="human", white="human")["id"]
        for x, y in ((7, 7), (8, 8), (6, 6)):
            self.request("POST", "/api/move", {"game": game, "x": x, "y": y})
        status, answer = self.request("POST", "/api/hint", {"game": game})
        self.assertEqual(json.loads(answer)["state"]["hint"]["colour"], "white")
        status, answer = self.request("POST", "/api/continue", {"game": game, "moves": 1})
        state = json.loads(answer)["state"]
        self.assertEqual((state["moves"], state["hint"]), ([[7, 7]], None))
        self.request("POST", "/api/close", {"game": game})  # the class allows two open games


class ClientGoesAway(unittest.TestCase):
    """A page closed while its long poll waits: the server's answer finds no
    one to read it. That is normal, and no traceback."""

    def run_server(self, verbose):
        with tempfile.TemporaryDirectory() as d:
            brain = os.path.join(d, "brain")
            with open(brain, "w") as f:
                f.write("#!/bin/sh\nexec %s %s \"$@\"\n" % (sys.executable, FAKE))
            os.chmod(brain, 0o755)
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                port = s.getsockname()[1]
            server = subprocess.Popen(
                [sys.executable, os.path.join(ROOT, "webboard", "server.py"), "--engine", brain,
                 "--port", str(port)] + (["--verbose"] if verbose else []),
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            try:
                self.assertIn("http://127.0.0.1:%d/" % port, server.stdout.readline())
                self.abandon_a_poll(port)
            finally:
                server.terminate()
                output = server.communicate(timeout=10)[0]
        return output

    def abandon_a_poll(self, port):
        def post(path, data):
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            conn.request("POST", path, json.dumps(data), {"Content-Type": "application/json"})
            answer = json.loads(conn.getresponse().read())
            conn.close()
            return answer

        state = post("/api/new", {"black": "human", "white": "human"})["state"]
        poll = socket.create_connection(("127.0.0.1", port))
        poll.sendall(("GET /api/state?game=%s&since=%d&wait=15000 HTTP/1.1\r\n"
                      "Host: 127.0.0.1:%d\r\n\r\n" % (state["id"], state["version"], port))
                     .encode())
        time.sleep(0.5)
        # Gone the way a closed tab goes: the connection reset, nothing read.
        poll.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        poll.close()
        # The move wakes the poll, whose answer now has no reader.
        self.assertTrue(post("/api/move", {"game": state["id"], "x": 7, "y": 7})["ok"])
        time.sleep(0.5)
        self.assertTrue(post("/api/move", {"game": state["id"], "x": 8, "y": 8})["ok"])

    def test_one_quiet_line_at_most(self):
        quiet = self.run_server(verbose=False)
        self.assertNotIn("Traceback", quiet)
        self.assertEqual([line for line in quiet.splitlines() if line.startswith("board:")],
                         ["board: stopped; every engine it started has ended"], quiet)
        told = self.run_server(verbose=True)
        self.assertNotIn("Traceback", told)
        gone = [line for line in told.splitlines() if "went away" in line]
        self.assertEqual(len(gone), 1, told)
        self.assertIn("/api/state", gone[0])


if __name__ == "__main__":
    unittest.main()
