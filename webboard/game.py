"""One game on the board: the referee's position, the players, and the brains.

A game is played between a person and a brain, two brains, or two people.
Each brain is a child process driven over its protocol exactly as a
tournament manager drives it; the game's worker thread does all of that
talking, so a request from the page never waits on a brain. Everything the
page sees is read under the game's lock, and every change bumps `version`
and wakes the waiting polls.

A brain that crashes, says ERROR, answers something that is not a legal move
or runs past its time plus the tolerance is stopped and reported with what it
printed; its move is not entered. The game then waits until the page asks
for a fresh brain, which gets the position with BOARD.

Every brain is asked for its per-depth lines (see analysis.py): the newest
is the game's `analysis` while it thinks, and the value of the last one goes
with its move. A hint is a think of a helper brain of its own, started for
the one position and ended after its answer, so the game's brains never see
it. Continuing from an earlier move ends the brains and lets fresh ones take
the shortened game with BOARD; `serial` tells a think or a hint that the
position it was asked about is gone.
"""

import collections
import os
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tools"))

from analysis import (DEFAULT_LEVEL, LEVELS, black_view, level_info, level_time,  # noqa: E402
                      parse_detail)
from brain_driver import (EngineFailure, Engine, LATE_GRACE_MS, move_request,  # noqa: E402
                          start_engine)
from referee import (BLACK, EMPTY, RULE_NAMES, WHITE, Board, black_is_shut_out,  # noqa: E402
                     colour_of, forbidden_points, foul, parse_move, winning_line, wins)
from records import (MAX_SIDE, MIN_SIDE, RecordError, parse_record, to_move_list,  # noqa: E402
                     to_sgf)

COLOURS = ("black", "white")
PLAYERS = ("human", "engine")
LOG_LINES = 2000  # kept per game; the page gets the newest
LOG_SENT = 400
MIN_TIMEOUT_TURN, MAX_TIMEOUT_TURN = 10, 3600 * 1000
MAX_TIME_LEFT = 24 * 3600 * 1000
# A brain asked to take back more moves than this gets the position anew.
MAX_TAKEBACKS = 2
# How long a brain gets to exit after END before it is killed.
END_WAIT_S = 2.0
# A hint thinks for the game's time per move, but never longer than this.
HINT_MAX_MS = 5000
# How long a brain may take to answer a command that needs no think.
ANSWER_WAIT_S = 5.0


class Refused(Exception):
    """A request the game turns down; the text says why."""


class Settings:
    def __init__(self, rule="renju", width=15, height=15, black="human", white="engine",
                 timeout_turn=5000, time_left=0, levels=(DEFAULT_LEVEL, DEFAULT_LEVEL)):
        self.rule = rule
        self.width = width
        self.height = height
        self.players = (black, white)
        self.timeout_turn = timeout_turn
        self.time_left = time_left
        # What each engine side is told besides the game's settings. A search
        # setting per side would be one more entry here, read by from_request
        # and sent by Game._configure with the level's lines.
        self.levels = tuple(levels)

    @staticmethod
    def from_request(data):
        """Settings from the page's JSON; Refused on anything out of range."""
        def integer(key, default, low, high):
            value = data.get(key, default)
            if isinstance(value, bool) or not isinstance(value, int) or not low <= value <= high:
                raise Refused("%s must be a whole number from %d to %d" % (key, low, high))
            return value

        rule = data.get("rule", "renju")
        if rule not in RULE_NAMES:
            raise Refused("rule must be one of %s" % ", ".join(RULE_NAMES))
        players = []
        levels = []
        for colour in COLOURS:
            player = data.get(colour, "human" if colour == "black" else "engine")
            if player not in PLAYERS:
                raise Refused("%s must be human or engine" % colour)
            players.append(player)
            level = data.get(colour + "_level", DEFAULT_LEVEL)
            if not isinstance(level, str) or level not in LEVELS:
                raise Refused("%s_level must be one of %s" % (colour, ", ".join(LEVELS)))
            levels.append(level)
        width = integer("width", 15, MIN_SIDE, MAX_SIDE)
        height = integer("height", width, MIN_SIDE, MAX_SIDE)
        time_left = integer("time_left", 0, 0, MAX_TIME_LEFT)
        return Settings(rule, width, height, players[0], players[1],
                        integer("timeout_turn", 5000, MIN_TIMEOUT_TURN, MAX_TIMEOUT_TURN),
                        time_left, levels)

    def side_time(self, turn):
        """Time per move of the engine side `turn`: its level's, within the game's."""
        return level_time(self.levels[turn], self.timeout_turn)

    def as_dict(self):
        return {"rule": self.rule, "width": self.width, "height": self.height,
                "black": self.players[0], "white": self.players[1],
                "black_level": self.levels[0], "white_level": self.levels[1],
                "timeout_turn": self.timeout_turn, "time_left": self.time_left}


class Slot:
    """A running brain and the moves it has been told of, in order."""

    def __init__(self, engine=None):
        self.engine = engine
        self.known = []
        # Whether the brain answered YXSHOWFORBID, and so takes YXSTOP too.
        self.yx = False
        # A move request was sent and its answer has not been printed yet:
        # only then may YXSTOP go out (once per think).
        self.asked = False
        self.stopped = False


def point_name(x, y, height):
    """Board notation: column letter from the left, row number from the bottom."""
    return "%s%d" % (chr(65 + y), height - x)


class Game:
    def __init__(self, game_id, settings, engine_command, tolerance_ms=500, moves=()):
        self.id = game_id
        self.settings = settings
        self.engine_command = list(engine_command)
        self.tolerance_ms = tolerance_ms
        self.cond = threading.Condition()
        self.version = 0
        self.board = Board(settings.height, settings.width)
        self.moves = []
        self.times = []  # think time in ms of each move, None for a person's
        self.result = None
        self.failure = None
        self.slots = [None, None]
        self.used_ms = [0.0, 0.0]
        self.log = collections.deque(maxlen=LOG_LINES)
        self.log_count = 0
        self.think_started = 0.0
        self.worker = None  # the thread talking to the brains, while one is to move
        self.closed = False
        self.last_active = time.monotonic()
        self.forbidden = []
        self.values = []  # the engine's value of each move, None for a person's
        self.analysis = None  # the newest depth line of the brain thinking now
        self.hint = None
        self.hint_engine = None
        self.serial = 0  # counts the changes of the position
        with self.cond:
            for x, y in moves:
                self._check_move(x, y, "move %d" % (len(self.moves) + 1))
                if self.result:
                    raise Refused("the game is already over after move %d" % len(self.moves))
                self._enter(x, y, None)
            self._position_changed()
            self._note("new game: %s, %dx%d, black %s, white %s, %d ms per move%s" % (
                settings.rule, settings.width, settings.height, settings.players[0],
                settings.players[1], settings.timeout_turn,
                ", %d ms match clock" % settings.time_left if settings.time_left else ""))
            if self.moves:
                self._note("position loaded: %d moves" % len(self.moves))

    # -- the position ---------------------------------------------------------

    def to_move(self):
        return len(self.moves) % 2

    def _check_move(self, x, y, who=""):
        """Refused unless (x, y) is a legal move for the side to move; `who`
        starts the reason (e.g. "move 5")."""
        what = "%s%d,%d" % (who + " " if who else "", x, y)
        if not self.board.on_board(x, y):
            raise Refused("%s is off the board" % what)
        if self.board.at(x, y) != EMPTY:
            raise Refused("%s is taken" % what)
        if self.settings.rule == "renju" and self.to_move() == 0:
            reason = foul(self.board, x, y)
            if reason:
                raise Refused("%s (%s) is forbidden for black: %s" % (
                    what, point_name(x, y, self.settings.height), reason))

    def _enter(self, x, y, ms, value=None):
        colour = colour_of(len(self.moves))
        self.board.put(x, y, colour)
        self.moves.append((x, y))
        self.times.append(ms)
        self.values.append(value)
        rule = self.settings.rule
        if wins(self.board, x, y, colour, rule):
            name = COLOURS[colour - 1]
            self.result = {"winner": name, "reason": "%s made five" % name,
                           "line": winning_line(self.board, x, y, colour, rule)}
        elif self.board.full():
            self.result = {"winner": None, "reason": "the board is full", "line": []}
        elif colour == WHITE and black_is_shut_out(self.board, rule):
            self.result = {"winner": None, "reason": "black has only forbidden points left",
                           "line": []}
        if self.result:
            self._end_engines()
        self._position_changed()

    def _position_changed(self):
        self.serial += 1
        self.analysis = None
        if self.hint_engine:
            self.hint_engine.kill()
            self.hint_engine = None
        self.hint = None
        if self.settings.rule == "renju" and self.to_move() == 0 and not self.result:
            self.forbidden = forbidden_points(self.board)
        else:
            self.forbidden = []

    def _changed(self):
        self.version += 1
        self.cond.notify_all()

    def _note(self, text):
        self.log_count += 1
        self.log.append((self.log_count, text))
        self._changed()

    # -- requests from the page ------------------------------------------------

    def touch(self):
        self.last_active = time.monotonic()

    def play(self, x, y):
        """A person's move; Refused when it is not theirs to play or not legal."""
        with self.cond:
            self.touch()
            self._check_open()
            turn = self.to_move()
            if self.settings.players[turn] != "human":
                raise Refused("it is the engine's turn")
            self._check_move(x, y)
            self._enter(x, y, None)
            self._note("%s (human) played %s (%d,%d)" % (
                COLOURS[turn], point_name(x, y, self.settings.height), x, y))
            self._kick()

    def undo(self):
        """Takes back the last move pair: moves come off until a person is to
        move again (one move when the last one was the person's own)."""
        with self.cond:
            self.touch()
            if self.closed:
                raise Refused("the game is closed")
            if self.worker is not None:
                raise Refused("wait until the engine has moved")
            if not self.moves:
                raise Refused("there is no move to take back")
            humans = [i for i, p in enumerate(self.settings.players) if p == "human"]
            taken = [self._take_back()]
            while self.moves and (len(taken) < 2 if not humans else
                                  self.to_move() not in humans):
                taken.append(self._take_back())
            self.failure = None
            self._position_changed()
            self._note("took back %s" % " ".join("%d,%d" % m for m in taken))
            self._kick()

    def _take_back(self):
        x, y = self.moves.pop()
        self.times.pop()
        self.values.pop()
        self.board.put(x, y, EMPTY)
        self.result = None
        return x, y

    def fresh_engine(self):
        """After a brain failed: the game goes on with a new one."""
        with self.cond:
            self.touch()
            if not self.failure:
                raise Refused("no engine has failed")
            if self.closed:
                raise Refused("the game is closed")
            self._note("starting a fresh engine for %s" % self.failure["colour"])
            self.failure = None
            self._kick()

    def stop(self):
        """Move now: the brain thinking is told to answer with its best move so far."""
        with self.cond:
            self.touch()
            slot = self.slots[self.to_move()] if self.worker is not None else None
            if slot is None or not slot.asked:
                raise Refused("no engine is thinking")
            if not slot.yx:
                raise Refused("this engine does not know YXSTOP")
            if not slot.stopped:
                slot.stopped = True
                self._note("%s < YXSTOP" % COLOURS[self.to_move()])
                try:
                    slot.engine.send("YXSTOP\n")
                except EngineFailure:
                    pass  # the worker finds the brain gone and reports it

    def continue_from(self, count):
        """Continues the game from its first `count` moves: the later ones are
        dropped, and fresh brains take the position from there."""
        with self.cond:
            self.touch()
            if self.closed:
                raise Refused("the game is closed")
            if not 0 <= count < len(self.moves):
                raise Refused("there is no move %d before the last one to continue from" % count)
            dropped = len(self.moves) - count
            while len(self.moves) > count:
                self._take_back()
            self.failure = None
            # A brain thinking now is thinking about a position that is gone:
            # END makes it answer, and the worker throws the answer away.
            self._end_engines()
            self._position_changed()
            self._note("continued from move %d: %d later move%s dropped; the engines restart "
                       "from this position" % (count, dropped, "" if dropped == 1 else "s"))
            self._kick()

    def ask_hint(self):
        """A move suggested for the person to move, by a helper brain thinking
        on a copy of the position; nothing is played."""
        with self.cond:
            self.touch()
            self._check_open()
            turn = self.to_move()
            if self.settings.players[turn] != "human":
                raise Refused("a hint is for a person to move")
            if self.hint and self.hint["status"] == "thinking":
                raise Refused("a hint is on its way")
            ms = min(self.settings.timeout_turn, HINT_MAX_MS)
            self.hint = {"status": "thinking", "colour": COLOURS[turn], "move": None,
                         "value": None, "analysis": None, "text": ""}
            self._note("hint for %s: a helper engine thinks %d ms on a copy of the position"
                       % (COLOURS[turn], ms))
            threading.Thread(target=self._hint_work,
                             args=(self.serial, list(self.moves), turn, ms), daemon=True).start()

    def begin(self):
        """Sets the game going: a brain to move starts thinking."""
        with self.cond:
            self._kick()

    def _check_open(self):
        if self.closed:
            raise Refused("the game is closed")
        if self.result:
            raise Refused("the game is over")
        if self.failure:
            raise Refused("the %s engine failed; start a fresh one or undo" %
                          self.failure["colour"])

    def close(self, why="closed"):
        """Ends the game's brains: END, then a kill for one that does not exit.
        Returns the brains, so a caller can wait for them."""
        with self.cond:
            if self.closed:
                return []
            self.closed = True
            if self.hint_engine:
                self.hint_engine.kill()
                self.hint_engine = None
            self._note("game %s" % why)
            return self._end_engines()

    def _end_engines(self):
        """END to every brain of the game, on threads of their own (a brain
        that does not exit is killed); under the lock."""
        engines = [slot.engine for slot in self.slots if slot]
        self.slots = [None, None]
        for engine in engines:
            threading.Thread(target=engine.finish, args=(END_WAIT_S,), daemon=True).start()
        return engines

    def record(self, kind):
        with self.cond:
            s = self.settings
            if kind == "sgf":
                names = tuple("Zorvan" if p == "engine" else "Human" for p in s.players)
                return to_sgf(s.rule, s.width, s.height, self.moves, self.result, names)
            return to_move_list(s.rule, s.width, s.height, self.moves, self.result)

    def state(self):
        with self.cond:
            turn = self.to_move()
            s = self.settings
            clocks = None
            slot = self.slots[turn] if self.worker is not None else None
            graph = []
            for i, value in enumerate(self.values):
                number = black_view(value, i % 2 == 0)
                if number is not None:
                    graph.append([i + 1, number, value["kind"] != "eval"])
            if s.time_left:
                clocks = [max(0, int(s.time_left - used)) if p == "engine" else None
                          for used, p in zip(self.used_ms, s.players)]
            return {
                "id": self.id, "version": self.version, "closed": self.closed,
                "settings": s.as_dict(),
                "moves": [list(m) for m in self.moves], "times": list(self.times),
                "values": [v and v["text"] for v in self.values],
                "graph": graph,
                "analysis": self.analysis,
                # A copy: the helper's thread changes the hint while the
                # answer is written out of the lock.
                "hint": dict(self.hint) if self.hint else None,
                "can_stop": bool(slot and slot.asked and slot.yx and not slot.stopped),
                "to_move": COLOURS[turn], "player": s.players[turn],
                "thinking": self.worker is not None,
                "think_ms": int((time.monotonic() - self.think_started) * 1000)
                if self.worker is not None else None,
                "result": self.result and {"winner": self.result["winner"],
                                           "reason": self.result["reason"],
                                           "line": [list(p) for p in self.result["line"]]},
                "failure": self.failure,
                "forbidden": [[x, y, r] for x, y, r in self.forbidden],
                "clocks": clocks,
                "log": list(self.log)[-LOG_SENT:],
            }

    def wait_change(self, since, timeout):
        """Blocks until the version passes `since` or the timeout ends."""
        end = time.monotonic() + timeout
        with self.cond:
            self.touch()
            while self.version <= since and not self.closed:
                left = end - time.monotonic()
                if left <= 0:
                    break
                self.cond.wait(left)

    # -- the brains ----------------------------------------------------------------

    def _kick(self):
        """Starts the worker when a brain is to move and none is running."""
        if self.worker is None and self._engine_to_move():
            self.think_started = time.monotonic()
            self.worker = threading.Thread(target=self._work, daemon=True)
            self.worker.start()

    def _engine_to_move(self):
        return (not self.closed and not self.result and not self.failure
                and self.settings.players[self.to_move()] == "engine")

    def _work(self):
        with self.cond:
            while self._engine_to_move():
                turn = self.to_move()
                limit = self.settings.side_time(turn)
                info = ""
                if self.settings.time_left:
                    left = int(self.settings.time_left - self.used_ms[turn])
                    if left <= 0:
                        self.result = {"winner": COLOURS[1 - turn], "line": [],
                                       "reason": "%s's match clock ran out" % COLOURS[turn]}
                        self._end_engines()
                        self._note(self.result["reason"])
                        break
                    limit = min(limit, left)
                    info = "INFO time_left %d\n" % left
                slot = self.slots[turn]
                moves = list(self.moves)
                serial = self.serial
                self.think_started = time.monotonic()
                self.analysis = None
                self._changed()
                self.cond.release()
                try:
                    outcome = self._think(turn, slot, moves, info, limit, serial)
                finally:
                    self.cond.acquire()
                if not self.closed and self.serial == serial:
                    self._settle(turn, outcome)
            # Decided under the same lock as the last move, so a request that
            # sees the person to move never finds the worker still running.
            self.worker = None
            self._changed()

    def _think(self, turn, slot, moves, info, limit, serial):
        """Asks the brain of side `turn` for its move; runs without the lock.
        Returns ("move", slot, (x, y), ms) or ("fail", slot, kind, text)."""
        name = COLOURS[turn]
        try:
            if slot is None:
                slot = Slot()
                try:
                    slot.engine = Engine(self.engine_command,
                                         listener=self._listener(name, slot, turn),
                                         keep_stderr=True)
                except OSError as e:
                    return "fail", None, "crash", "cannot start the engine: %s" % e
                with self.cond:
                    if self.closed or self.serial != serial:
                        slot.engine.kill()
                        return "closed", None, None, None
                    self.slots[turn] = slot
                s = self.settings
                self._sent(name, "START / INFO (%dx%d, %s)" % (s.width, s.height, s.rule))
                start_engine(slot.engine, s.width, s.height, s.rule, s.side_time(turn),
                             s.time_left)
                self._configure(name, slot, turn)
            engine = slot.engine
            engine.drain()
            if engine.protocol_errors:
                return "fail", slot, "error", "; ".join(engine.protocol_errors)
            common = 0
            while (common < len(slot.known) and common < len(moves)
                   and slot.known[common] == moves[common]):
                common += 1
            if 0 < len(slot.known) - common <= MAX_TAKEBACKS:
                while len(slot.known) > common:
                    x, y = slot.known[-1]
                    self._sent(name, "TAKEBACK %d,%d" % (x, y))
                    sent = engine.send("TAKEBACK %d,%d\n" % (x, y))
                    _, reply = engine.answer(sent + 5.0 * engine.slowdown, stop_at_error=True)
                    if reply != "OK":
                        return "fail", slot, "error", "TAKEBACK %d,%d answered %r" % (x, y, reply)
                    slot.known.pop()
            follows = bool(moves) and slot.known == moves[:-1]
            if not follows and slot.known:
                # BOARD adds its stones to the brain's board: clear it first.
                self._sent(name, "RESTART")
                sent = engine.send("RESTART\n")
                _, reply = engine.answer(sent + 5.0 * engine.slowdown, stop_at_error=True)
                if reply != "OK":
                    return "fail", slot, "error", "RESTART answered %r" % reply
                slot.known = []
            request = info + move_request(moves, turn, follows)
            first = request.splitlines()[len(info.splitlines())]
            self._sent(name, first if first != "BOARD" else "BOARD (%d stones)" % len(moves))
            with self.cond:
                # Under the lock, so a YXSTOP can only follow the request.
                sent = engine.send(request)
                slot.asked, slot.stopped = True, False
                self._changed()
            slot.known = list(moves)
            allowed = limit + self.tolerance_ms
            arrived, reply = engine.answer(sent + (allowed + LATE_GRACE_MS) / 1000.0,
                                           stop_at_error=True)
        except EngineFailure as e:
            return "fail", slot, e.kind, e.text
        if reply is None:
            return "fail", slot, "time", "no move within %d ms (limit %d + tolerance %d + %d)" % (
                allowed + LATE_GRACE_MS, limit, self.tolerance_ms, LATE_GRACE_MS)
        if reply.startswith("ERROR") or reply.startswith("UNKNOWN"):
            return "fail", slot, "error", reply
        ms = (arrived - sent) * 1000.0
        move = parse_move(reply)
        if move is None:
            return "fail", slot, "illegal", "answer %r is not a move" % reply
        if ms > allowed:
            return "fail", slot, "time", "move %d,%d after %.0f ms (limit %d + tolerance %d)" % (
                move[0], move[1], ms, limit, self.tolerance_ms)
        return "move", slot, move, ms

    def _settle(self, turn, outcome):
        """Enters the brain's move or records its failure; under the lock."""
        kind, slot = outcome[0], outcome[1]
        name = COLOURS[turn]
        if kind == "closed":
            return
        if kind == "move":
            (x, y), ms = outcome[2], outcome[3]
            self.used_ms[turn] += ms
            try:
                self._check_move(x, y, "the move")
            except Refused as refused:
                self._fail(turn, slot, "illegal", str(refused))
                return
            slot.known.append((x, y))
            analysis = self.analysis
            value = analysis["value"] if analysis and analysis["colour"] == name else None
            self._enter(x, y, round(ms), value)
            self._note("%s (engine) played %s (%d,%d) in %d ms%s" % (
                name, point_name(x, y, self.settings.height), x, y, round(ms),
                ", value %s" % value["text"] if value else ""))
            if self.result:
                self._note("result: %s" % self.result["reason"])
            return
        self._fail(turn, slot, outcome[2], outcome[3])

    def _fail(self, turn, slot, kind, text):
        printed, stderr = [], []
        if slot is not None:
            slot.engine.kill()
            # The reading threads may still hold the last lines: give them a moment.
            time.sleep(0.05)
            printed, stderr = list(slot.engine.recent), list(slot.engine.recent_stderr)
        if self.slots[turn] is slot:
            self.slots[turn] = None
        self.analysis = None
        self.failure = {"colour": COLOURS[turn], "kind": kind, "text": text,
                        "printed": printed, "stderr": stderr}
        self._note("%s engine failed (%s): %s" % (COLOURS[turn], kind, text))

    def _configure(self, name, slot, turn):
        """After START: the per-depth lines, the side's level, and whether the
        brain knows the YX commands (it answers YXSHOWFORBID with
        FORBID; one that does not says UNKNOWN, and gets no YXSTOP)."""
        engine = slot.engine
        level = self.settings.levels[turn]
        self._sent(name, "INFO show_detail 1, %s (level %s, %d ms per move)" % (
            level_info(level).replace("INFO ", "").strip().replace("\n", ", "), level,
            self.settings.side_time(turn)))
        engine.send("INFO show_detail 1\n" + level_info(level))
        self._sent(name, "YXSHOWFORBID")
        sent = engine.send("YXSHOWFORBID\n")
        _, reply = engine.answer(sent + ANSWER_WAIT_S * engine.slowdown, stop_at_error=True)
        if reply is None:
            raise EngineFailure("time", "no answer to YXSHOWFORBID within %.0f s"
                                % (ANSWER_WAIT_S * engine.slowdown))
        if reply.startswith("UNKNOWN"):
            engine.protocol_errors.remove(reply)  # an older brain, not a faulty one
        elif reply.startswith("FORBID"):
            slot.yx = True
        else:
            raise EngineFailure("protocol", "YXSHOWFORBID answered %r" % reply)

    def _listener(self, name, slot, turn):
        def heard(text):
            with self.cond:
                message = text.startswith("MESSAGE") or text.startswith("DEBUG")
                detail = parse_detail(text) if text.startswith("MESSAGE") else None
                if detail and slot.asked and self.slots[turn] is slot:
                    detail["colour"] = name
                    self.analysis = detail
                elif not message and slot.asked:
                    slot.asked = False  # the move: YXSTOP would now find it idle
                self._note("%s > %s" % (name, text[:300]))
        return heard

    # -- hints -------------------------------------------------------------------

    def _hint_work(self, serial, moves, turn, ms):
        """The helper brain's think; runs without the lock. Its answer is kept
        only while the position is still the one it was asked about."""
        def heard(text):
            with self.cond:
                detail = parse_detail(text) if text.startswith("MESSAGE") else None
                if detail and self.serial == serial and self.hint:
                    self.hint["analysis"] = detail
                    self.hint["value"] = detail["value"] and detail["value"]["text"]
                self._note("hint > %s" % text[:300])

        move, text = None, ""
        try:
            engine = Engine(self.engine_command, listener=heard, keep_stderr=True)
        except OSError as e:
            engine, text = None, "cannot start the engine: %s" % e
        if engine:
            with self.cond:
                if self.closed or self.serial != serial:
                    engine.kill()
                    return
                self.hint_engine = engine
            s = self.settings
            try:
                start_engine(engine, s.width, s.height, s.rule, ms)
                request = "INFO show_detail 1\n" + move_request(moves, turn, False)
                self._sent("hint", "BOARD (%d stones)" % len(moves) if moves else "BEGIN")
                sent = engine.send(request)
                allowed = ms + self.tolerance_ms + LATE_GRACE_MS
                _, reply = engine.answer(sent + allowed / 1000.0, stop_at_error=True)
                move = reply and parse_move(reply)
                if reply is None:
                    text = "no move within %d ms" % allowed
                elif move is None:
                    text = "answer %r is not a move" % reply
            except EngineFailure as e:
                text = e.text
            engine.finish(END_WAIT_S)
            engine.kill()  # closes its input too when END could not be sent
        with self.cond:
            if self.closed or self.serial != serial or not self.hint:
                return
            self.hint_engine = None
            if move:
                try:
                    self._check_move(move[0], move[1], "the hint")
                except Refused as refused:
                    move, text = None, str(refused)
            if move:
                self.hint.update(status="done", move=list(move))
                self._note("hint for %s: %s (%d,%d)%s" % (
                    self.hint["colour"], point_name(move[0], move[1], self.settings.height),
                    move[0], move[1],
                    ", value %s" % self.hint["value"] if self.hint["value"] else ""))
            else:
                self.hint.update(status="failed", text=text)
                self._note("hint failed: %s" % text)

    def _sent(self, name, text):
        with self.cond:
            self._note("%s < %s" % (name, text))


def new_game(game_id, data, engine_command, tolerance_ms):
    """A game from the page's request: its settings, and the position of a
    record (SGF or move list) when one is given. Refused when invalid."""
    settings = Settings.from_request(data)
    moves = ()
    record = data.get("record")
    if record is not None:
        if not isinstance(record, str):
            raise Refused("record must be text")
        try:
            rule, size, moves = parse_record(record)
        except RecordError as e:
            raise Refused("cannot read the record: %s" % e)
        if rule:
            settings.rule = rule
        if size:
            if not all(MIN_SIDE <= n <= MAX_SIDE for n in size):
                raise Refused("the record's board %dx%d is not from %d to %d" % (
                    size[0], size[1], MIN_SIDE, MAX_SIDE))
            settings.width, settings.height = size
    return Game(game_id, settings, engine_command, tolerance_ms, moves)
