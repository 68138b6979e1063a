#!/usr/bin/env python3
"""Protocol fuzzer for the brain: hostile command streams against a shadow model.

Each session starts a fresh engine and feeds it chunks of input built from the
real command set, often mutated (case, arguments, numbers, NUL bytes, binary
noise, over-long lines, CR-only line ends, BOARD blocks cut short, end of input
anywhere). A shadow model reads the same bytes exactly as the engine's line
reader and dispatcher do and predicts every answer of the main thread; the
think thread's lines are checked as they arrive: one move per TURN, BEGIN and
BOARD, always on the board and on a free point of the shadow record (or, when
no free point is left, refused with "ERROR my move"). The shadow record grows
only from what the engine answered, so a move the engine accepted without
saying so, or refused silently, shows up as a disagreement on a later command.

The analysis commands are part of the stream: INFO max_depth, max_node and
show_detail (per-depth lines are checked for their form, for increasing
depths and for a line of free points, and must not appear unless switched
on), YXBOARD (a BOARD block without a think), YXSTOP at any moment of a think,
and YXSHOWFORBID, whose answer follows the move of a running think and is
checked against the referee (tools/referee.py) on the shadow position.

Every chunk ends with a line no keyword matches; its "UNKNOWN command" answer
proves that everything before it was answered, which keeps the run in lockstep
while thinks still run in the background.

usage: fuzz_protocol.py --engine PATH [--wrapper qemu-i386] [--seed N]
                        [--seconds S] [--sessions N] [--profile normal|think]
       fuzz_protocol.py --engine PATH --replay FILE
"""

import argparse
import collections
import json
import os
import queue
import re
import subprocess
import sys
import tempfile
import threading
import time

import referee

MARKER = b"?sync"
MOVE_RE = re.compile(r"^(-?\d+),(-?\d+)$")
OWN_ERROR_RE = re.compile(r"^ERROR my move \[(-?\d+),(-?\d+)\]$")
SPEED_RE = re.compile(r"^MESSAGE Speed=-?\d+$")
DETAIL_RE = re.compile(r"^MESSAGE depth (\d+)-(\d+) value (0|[+-][1-9]\d*|\+win [1-9]\d*|"
                       r"-loss [1-9]\d*) nodes (\d+) nps (\d+)k time (\d+) pv((?: \d+,\d+)*)$")
FORBID_RE = re.compile(r"^FORBID ((?:\d{4})*)\.$")
ABOUT_PREFIX = 'name="Zorvan", author="Benrow", version="'
LINE_CAP = 8192
MAX_SIDE = 24
INT_MIN, INT_MAX = -(1 << 31), (1 << 31) - 1


class Rng:
    """splitmix64: a seed gives the same stream on every Python version."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def next64(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & 0xFFFFFFFFFFFFFFFF
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & 0xFFFFFFFFFFFFFFFF
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & 0xFFFFFFFFFFFFFFFF
        return z ^ (z >> 31)

    def below(self, n):
        return self.next64() % n if n > 0 else 0

    def range(self, lo, hi):
        """Uniform in lo..hi, both included."""
        return lo + self.below(hi - lo + 1)

    def chance(self, p):
        return self.next64() < p * 18446744073709551616.0

    def pick(self, seq):
        return seq[self.below(len(seq))]

    def weighted(self, table):
        total = sum(w for _, w in table)
        r = self.below(total)
        for item, w in table:
            if r < w:
                return item
            r -= w
        return table[-1][0]


# ---------------------------------------------------------------------------
# Shadow model of the engine's input handling.

WHITE = b" \t\n\v\f\r"


def scan_int(s, i):
    """Formatted-input %d: white space, sign, digits; saturates to 32 bits."""
    while i < len(s) and s[i] in WHITE:
        i += 1
    j = i
    negative = False
    if j < len(s) and s[j] in b"+-":
        negative = s[j] == ord("-")
        j += 1
    k = j
    while k < len(s) and 48 <= s[k] <= 57:
        k += 1
    if k == j:
        return None
    value = int(s[j:k])
    value = -value if negative else value
    return max(INT_MIN, min(INT_MAX, value)), k


def scan_pair(s, space_before_comma=False):
    """"%d,%d" (or "%d ,%d"): two numbers joined by a comma."""
    first = scan_int(s, 0)
    if first is None:
        return None
    a, i = first
    if space_before_comma:
        while i < len(s) and s[i] in WHITE:
            i += 1
    if i >= len(s) or s[i] != ord(","):
        return None
    second = scan_int(s, i + 1)
    if second is None:
        return None
    return a, second[0]


def scan_stone(s):
    pair = scan_int(s, 0)
    if pair is None:
        return None
    x, i = pair
    if i >= len(s) or s[i] != ord(","):
        return None
    second = scan_int(s, i + 1)
    if second is None:
        return None
    y, i = second
    if i >= len(s) or s[i] != ord(","):
        return None
    third = scan_int(s, i + 1)
    if third is None:
        return None
    return x, y, third[0]


def c_trunc_div(a, b):
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b > 0) else -q


def skip_white(s):
    i = 0
    while i < len(s) and s[i] in WHITE:
        i += 1
    return s[i:]


def keyword_rest(keyword, line):
    if len(line) < len(keyword) or line[: len(keyword)].upper() != keyword:
        return None
    return skip_white(line[len(keyword):])


def c_string(raw):
    """The line as the engine's reader leaves it (raw excludes the line feed)."""
    content = raw if len(raw) + 1 <= LINE_CAP else raw[: LINE_CAP - 1]
    if content.endswith(b"\r"):
        content = content[:-1]
    nul = content.find(b"\0")
    return content if nul < 0 else content[:nul]


# Events the model yields to the runner.
NEED_INPUT = "need-input"
WAIT_THINK = "wait-think"
START_THINK = "start-think"
FORBID_REQUEST = "forbid-request"
QUIT = "quit"
BANNER = object()


class Expect:
    def __init__(self, text):
        self.text = text

    def matches(self, line):
        if self.text is BANNER:
            return line.startswith("MESSAGE ")
        if self.text == "<about>":
            return line.startswith(ABOUT_PREFIX)
        return line == self.text

    def __repr__(self):
        return "<banner line>" if self.text is BANNER else repr(self.text)


class ForbidAnswer:
    """The FORBID line for a shadow position: points in scan order, each an
    empty point of the position. Where black has no five point on the board
    the list must be the referee's exactly; with a four of black standing,
    the engine counts a three whose open-four point is that five point as no
    real three and the referee does count it, so only the form is checked."""

    def __init__(self, shadow):
        self.free = set(shadow.free_points()) if shadow.width > 0 else set()
        self.expected = "FORBID ."
        self.exact = True
        if shadow.width > 0 and shadow.rule == 2:
            board = referee.Board(shadow.height, shadow.width)
            for i, (x, y) in enumerate(shadow.record):
                board.put(x, y, referee.colour_of(i))
            for x, y in shadow.blocked:
                board.put(x, y, referee.WALL)
            points = [(x, y) for x, y, _ in referee.forbidden_points(board)]
            self.expected = "FORBID " + "".join("%02d%02d" % p for p in points) + "."
            self.exact = not referee.black_has_five_point(board)

    def matches(self, line):
        if self.exact or self.expected == "FORBID .":
            return line == self.expected
        m = FORBID_RE.match(line)
        if not m:
            return False
        digits = m.group(1)
        points = [(int(digits[i:i + 2]), int(digits[i + 2:i + 4]))
                  for i in range(0, len(digits), 4)]
        return points == sorted(set(points)) and all(p in self.free for p in points)

    def __repr__(self):
        return self.expected + ("" if self.exact else " (form only)")


class Shadow:
    """What the engine should hold: bounds, record, blocked points, budget."""

    def __init__(self):
        self.width = 0
        self.height = 0
        self.record = []
        self.taken = set()
        self.blocked = set()
        self.timeout_turn = 30000
        # The budget the running think read when it started (None when idle):
        # INFO sent during a think counts from the next one, so a think started
        # under a huge timeout_turn keeps it however small the setting becomes.
        self.think_budget = None
        self.time_left = 1000000000
        self.show_detail = 0
        self.detail_changed = False  # show_detail sent since the think began
        self.requested_rule = 0  # INFO's rule; the game takes it at the next command
        self.rule = 0
        self.buffer = b""
        self.lines = collections.deque()
        self.eof = False
        self.in_board_block = False
        self.quit = False

    # -- input ------------------------------------------------------------
    def feed(self, data):
        self.buffer += data
        while True:
            cut = self.buffer.find(b"\n")
            if cut < 0:
                break
            self.lines.append(c_string(self.buffer[:cut]))
            self.buffer = self.buffer[cut + 1:]

    def end_input(self):
        self.eof = True
        self.buffer = b""  # an unfinished last line is discarded

    def read_line(self):
        while True:
            if self.lines:
                return self.lines.popleft()
            if self.eof:
                return None
            yield NEED_INPUT

    # -- queries used by the generator and the think checks ---------------
    def on_board(self, x, y):
        return 0 <= x < self.height and 0 <= y < self.width

    def free_points(self):
        return [(x, y) for x in range(max(self.height, 0)) for y in range(max(self.width, 0))
                if (x, y) not in self.taken and (x, y) not in self.blocked]

    def budget(self):
        return min(c_trunc_div(self.time_left, 16), self.timeout_turn)

    def running_budget(self):
        """The budget of the running think, else that of the next one."""
        return self.think_budget if self.think_budget is not None else self.budget()

    # -- engine operations --------------------------------------------------
    def enter_move(self, x, y, wording):
        if not self.on_board(x, y) or (x, y) in self.taken or (x, y) in self.blocked:
            yield Expect("ERROR %s [%d,%d]" % (wording, x, y))
            return False
        self.record.append((x, y))
        self.taken.add((x, y))
        return True

    def start_game(self, old):
        if not (0 < self.width <= MAX_SIDE and 0 < self.height <= MAX_SIDE):
            self.width, self.height = old
            yield Expect("ERROR size of the board")
            return
        self.record = []
        self.taken = set()
        self.blocked = set()
        yield Expect(BANNER)
        yield Expect("OK")

    def prepare(self):
        yield WAIT_THINK
        self.rule = self.requested_rule
        if self.width == 0:
            self.width = self.height = 20
            yield from self.start_game((0, 0))

    def coordinates(self, args):
        pair = scan_pair(args)
        if pair is None or not self.on_board(*pair):
            return None
        return pair

    # -- the dispatcher -----------------------------------------------------
    def run(self):
        while not self.quit:
            line = yield from self.read_line()
            if line is None:
                break
            yield from self.dispatch(line)
        yield WAIT_THINK
        yield QUIT

    def dispatch(self, line):
        rest = keyword_rest(b"INFO", line)
        if rest is not None:
            self.info(rest)
            return
        rest = keyword_rest(b"START", line)
        if rest is not None:
            yield WAIT_THINK  # the new sizes apply once the think has ended
            old = (self.width, self.height)
            first = scan_int(rest, 0)
            if first is not None:
                second = scan_int(rest, first[1])
                self.width = first[0]
                self.height = second[0] if second is not None else first[0]
            yield from self.prepare()
            yield from self.start_game(old)
            return
        rest = keyword_rest(b"RECTSTART", line)
        if rest is not None:
            pair = scan_pair(rest, space_before_comma=True)
            if pair is None:
                yield Expect("ERROR bad RECTSTART parameters")
                return
            yield WAIT_THINK
            old = (self.width, self.height)
            self.width, self.height = pair
            yield from self.prepare()
            yield from self.start_game(old)
            return
        rest = keyword_rest(b"RESTART", line)
        if rest is not None:
            yield from self.prepare()
            self.record = []
            self.taken = set()
            self.blocked = set()
            yield Expect(BANNER)
            yield Expect("OK")
            return
        rest = keyword_rest(b"TURN", line)
        if rest is not None:
            yield from self.prepare()
            point = self.coordinates(rest)
            if point is None:
                yield Expect("ERROR bad coordinates")
                return
            yield from self.enter_move(point[0], point[1], "opponents's move")
            yield START_THINK
            return
        rest = keyword_rest(b"PLAY", line)
        if rest is not None:
            yield from self.prepare()
            point = self.coordinates(rest)
            if point is None:
                yield Expect("ERROR bad coordinates")
                return
            yield from self.enter_move(point[0], point[1], "my move")
            yield Expect("%d,%d" % point)
            return
        rest = keyword_rest(b"BEGIN", line)
        if rest is not None:
            yield from self.prepare()
            yield START_THINK
            return
        if keyword_rest(b"ABOUT", line) is not None:
            yield Expect("<about>")
            return
        if keyword_rest(b"END", line) is not None:
            self.quit = True
            return
        rest = keyword_rest(b"BOARD", line)
        if rest is not None:
            yield from self.prepare()
            yield from self.board_block(b"BOARD")
            return
        rest = keyword_rest(b"TAKEBACK", line)
        if rest is not None:
            yield from self.prepare()
            point = self.coordinates(rest)
            if point is None or not self.record or self.record[-1] != point:
                yield Expect("ERROR bad coordinates")
                return
            self.record.pop()
            self.taken.discard(point)
            yield Expect("OK")
            return
        if keyword_rest(b"YXBOARD", line) is not None:
            yield from self.prepare()
            yield from self.board_block(b"YXBOARD")
            return
        if keyword_rest(b"YXSTOP", line) is not None:
            return  # a running think answers early; its move is checked as usual
        if keyword_rest(b"YXSHOWFORBID", line) is not None:
            # A running think is not stopped: its thread answers after its
            # move, and later commands may be answered before that.
            yield FORBID_REQUEST
            return
        yield Expect("UNKNOWN command")

    def board_block(self, keyword):
        self.in_board_block = True
        while True:
            line = yield from self.read_line()
            stone = scan_stone(line) if line is not None else None
            if stone is None or not self.on_board(stone[0], stone[1]) or stone[2] not in (1, 2, 3):
                break
            x, y, who = stone
            if who == 1:
                yield from self.enter_move(x, y, "my move")
            elif who == 2:
                yield from self.enter_move(x, y, "opponents's move")
            elif (x, y) in self.taken or (x, y) in self.blocked:
                yield Expect("ERROR board-block move [%d,%d]" % (x, y))
            else:
                self.blocked.add((x, y))
        self.in_board_block = False
        if line is None or line.upper() != b"DONE":
            yield Expect("ERROR x,y,who or DONE expected after " + keyword.decode())
        if keyword == b"BOARD":
            yield START_THINK

    def info(self, text):
        keys = [b"MAX_MEMORY", b"TIMEOUT_MATCH", b"TIMEOUT_TURN", b"TIME_LEFT", b"GAME_TYPE",
                b"RULE", b"FOLDER", b"MAX_DEPTH", b"MAX_NODE", b"SHOW_DETAIL"]
        for key in keys:
            if len(text) >= len(key) and text[: len(key)].upper() == key:
                value = scan_int(text[len(key):], 0)
                number = value[0] if value is not None else 0
                if key == b"TIMEOUT_TURN":
                    self.timeout_turn = number
                elif key == b"TIME_LEFT":
                    self.time_left = number
                elif key == b"RULE":
                    self.requested_rule = 2 if (number & 4) or number == 2 else number & 1
                elif key == b"SHOW_DETAIL":
                    self.show_detail = number
                    self.detail_changed = True
                return


# ---------------------------------------------------------------------------
# Running one session.


class Failure(Exception):
    def __init__(self, kind, detail):
        super().__init__("%s: %s" % (kind, detail))
        self.kind = kind


class Chunk:
    def __init__(self, data, wait=False, close=False):
        self.data = data
        self.wait = wait  # let a running think finish before sending
        self.close = close  # end of input after this chunk

    def to_json(self):
        return [self.data.hex(), self.wait, self.close]

    @staticmethod
    def from_json(item):
        return Chunk(bytes.fromhex(item[0]), item[1], item[2])


class Engine:
    def __init__(self, command):
        self.stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self.stderr)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw)
        self.lines.put(None)

    def send(self, data):
        try:
            self.proc.stdin.write(data)
            self.proc.stdin.flush()
        except (BrokenPipeError, OSError):
            pass  # the engine has quit (END inside the chunk); its output tells the rest

    def close(self):
        try:
            self.proc.stdin.close()
        except (BrokenPipeError, OSError):
            pass

    def next_raw(self, timeout):
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            return "timeout"

    def stderr_text(self):
        self.stderr.seek(0)
        return self.stderr.read().decode(errors="replace")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        self.stderr.close()


class Session:
    """Runs chunks against one engine process, checking against a Shadow."""

    def __init__(self, command, slowdown, chunk_source, check_centre=True):
        self.command = command
        self.slow = slowdown
        self.source = chunk_source
        self.shadow = Shadow()
        self.sent = []
        self.transcript = []
        self.think = None  # state of the running think, None when idle
        self.thinks = 0
        self.forbids_due = 0  # YXSHOWFORBID answers not yet seen
        self.check_centre = check_centre
        self.stats = collections.Counter()

    # -- reading -------------------------------------------------------------
    def next_line(self, timeout, what):
        raw = self.engine.next_raw(timeout * self.slow)
        if raw == "timeout":
            raise Failure("hang", "no output within %.1f s while waiting for %s"
                          % (timeout * self.slow, what))
        if raw is None:
            try:
                status = self.engine.proc.wait(timeout=2.0 * self.slow)
            except subprocess.TimeoutExpired:
                status = None
            raise Failure("early-exit", "output ended while waiting for %s (exit status %s)%s"
                          % (what, status, "\nstderr:\n" + self.engine.stderr_text()[-6000:]))
        if not raw.endswith(b"\n"):
            raise Failure("format", "line without newline: %r" % raw)
        line = raw[:-1].decode(errors="replace")
        self.transcript.append("< " + line)
        return line

    @staticmethod
    def is_think_line(line):
        return (line.startswith("MESSAGE") or MOVE_RE.match(line) is not None
                or line.startswith("ERROR my move ["))

    def forbid_line(self, line):
        """True when `line` is a FORBID answer still owed, and checks it.

        YXSHOWFORBID never waits: while a think may still own the board, the
        think's thread answers after its move, so the answer can come after
        the answers of later commands, but always after the move and before
        the next command that changes the position. It therefore describes
        the shadow position as it stands when the line arrives."""
        if not line.startswith("FORBID") or self.forbids_due == 0 or self.think is not None:
            return False
        exp = ForbidAnswer(self.shadow)
        if not exp.matches(line):
            raise Failure("answer", "expected %r, got %r" % (exp, line))
        self.forbids_due -= 1
        self.stats["FORBID (listed)" if exp.expected != "FORBID ." else "FORBID (none)"] += 1
        return True

    def drain_forbids(self):
        while self.forbids_due:
            line = self.next_line(5.0, "a FORBID answer")
            if not self.forbid_line(line):
                raise Failure("unexpected-line", "%r while a FORBID answer was due" % line)

    def think_line(self, line):
        t = self.think
        if line.startswith("MESSAGE depth"):
            self.detail_line(line)
            return
        if line.startswith("MESSAGE"):
            if t["refused"] is not None:
                raise Failure("think-output", "%r between the refusal and the move" % line)
            if line.startswith("MESSAGE Speed"):
                if not SPEED_RE.match(line):
                    raise Failure("think-output", "bad speed line %r" % line)
                t["speed"] += 1
            return
        refused = OWN_ERROR_RE.match(line)
        if refused:
            if t["refused"] is not None or t["speed"] != 1:
                raise Failure("think-output", "misplaced %r" % line)
            t["refused"] = (int(refused.group(1)), int(refused.group(2)))
            return
        move = MOVE_RE.match(line)
        if not move:
            raise Failure("think-output", "unexpected line %r during a think" % line)
        if t["speed"] != 1:
            raise Failure("think-output", "move %r after %d speed lines" % (line, t["speed"]))
        self.finish_think((int(move.group(1)), int(move.group(2))), t["refused"])

    def detail_line(self, line):
        """A per-depth line: only when switched on, before the speed line, in
        increasing depths, its expected line on distinct free points."""
        t = self.think
        s = self.shadow
        if not (t["detail"] or s.detail_changed):
            raise Failure("think-output", "detail line %r while show_detail is off" % line)
        m = DETAIL_RE.match(line)
        if not m:
            raise Failure("think-output", "malformed detail line %r" % line)
        if t["speed"] or t["refused"] is not None:
            raise Failure("think-output", "detail line %r after the speed line" % line)
        depth = int(m.group(1))
        if depth <= t["depth"]:
            raise Failure("think-output", "depth %d after depth %d" % (depth, t["depth"]))
        t["depth"] = depth
        pv = [tuple(int(v) for v in p.split(",")) for p in m.group(7).split()]
        # Only a full board leaves the line empty: there is no move to name.
        if (not pv and s.free_points()) or len(set(pv)) != len(pv) or any(
                not s.on_board(*p) or p in s.taken or p in s.blocked for p in pv):
            raise Failure("think-output", "expected line %r is not a line of free points" % line)
        self.stats["detail line"] += 1

    def finish_think(self, point, refused):
        s = self.shadow
        self.think = None
        s.think_budget = None
        legal = s.on_board(*point) and point not in s.taken and point not in s.blocked
        if refused is not None:
            if refused != point:
                raise Failure("think-output", "refusal %r names another point than move %r"
                              % (refused, point))
            if legal:
                raise Failure("own-move", "engine refused its own legal move %r" % (point,))
            free = s.free_points()
            centre_case = (not s.record and point == (s.height // 2, s.width // 2)
                           and not self.check_centre)
            self.stats["think refused (no free point)"] += 1
            # In Renju every free point may be forbidden to black.
            renju_black = s.rule == 2 and len(s.record) % 2 == 0
            if free and not centre_case and not renju_black:
                raise Failure("own-move", "engine played %r (refused: %s) with %d free points"
                              % (point, "off board" if not s.on_board(*point) else
                                 "blocked" if point in s.blocked else "occupied", len(free)))
            return
        if not legal:
            raise Failure("own-move", "engine move %r accepted but %s" % (
                point, "off the %dx%d board" % (s.height, s.width) if not s.on_board(*point)
                else "blocked" if point in s.blocked else "already played"))
        s.record.append(point)
        s.taken.add(point)
        self.stats["think move"] += 1

    def drain_think(self, timeout, why):
        while self.think is not None:
            line = self.next_line(timeout, "the move of a think (%s)" % why)
            if not self.is_think_line(line):
                raise Failure("unexpected-line", "%r while a think had to end (%s)" % (line, why))
            self.think_line(line)

    def expect(self, exp):
        while True:
            line = self.next_line(5.0, repr(exp))
            if self.think is not None and self.is_think_line(line):
                self.think_line(line)
                continue
            if self.forbid_line(line):
                continue
            if not exp.matches(line):
                raise Failure("answer", "expected %r, got %r" % (exp, line))
            key = "banner" if exp.text is BANNER else re.sub(r"\[.*", "[..]", exp.text)
            self.stats[key if not MOVE_RE.match(key) else "PLAY echo"] += 1
            return

    def wait_budget(self):
        # A think stopped by a command ends within a few polls; a think left to
        # run ends when its budget runs out.
        return 3.0 + max(0, self.shadow.running_budget()) / 1000.0 * 2

    # -- driving -------------------------------------------------------------
    def run(self):
        self.engine = Engine(self.command)
        try:
            self._run()
            return None
        except Failure as failure:
            return failure
        finally:
            self.engine.kill()

    def _run(self):
        model = self.shadow.run()
        event = next(model)
        closed_at = None
        sent_at = time.time()
        while True:
            if event == NEED_INPUT:
                chunk = self.source(self.shadow, self.think is not None)
                if chunk.wait and self.think is not None:
                    self.drain_think(self.wait_budget(), "waited for")
                self.sent.append(chunk)
                for text in chunk.data.split(b"\n"):
                    self.transcript.append("> " + repr(text)[2:-1][:200])
                self.engine.send(chunk.data)
                sent_at = time.time()
                self.shadow.feed(chunk.data)
                if chunk.close:
                    self.engine.close()
                    closed_at = time.time()
                    self.shadow.end_input()
            elif event == WAIT_THINK:
                self.drain_think(self.wait_budget() if self.shadow.quit is False else 3.0,
                                 "stopped")
                self.drain_forbids()
            elif event == START_THINK:
                if self.think is not None:
                    raise Failure("model", "think started while another runs")
                self.think = {"speed": 0, "refused": None, "depth": 0,
                              "detail": self.shadow.show_detail != 0}
                self.shadow.think_budget = self.shadow.budget()
                self.shadow.detail_changed = False
                self.thinks += 1
            elif event == FORBID_REQUEST:
                self.forbids_due += 1
            elif event == QUIT:
                break
            else:
                self.expect(event)
            event = next(model)
        # Quit: nothing more may be printed, and the process exits 0 within a
        # second (scaled) of the input that ended it, a running think included.
        if closed_at is None:
            self.engine.close()
        closed_at = sent_at
        allowed = 1.0 * self.slow + 0.25
        line = self.engine.next_raw(max(0.0, closed_at + allowed - time.time()))
        if line == "timeout":
            raise Failure("exit", "output still open %.1f s after the quit" % allowed)
        if line is not None:
            raise Failure("unexpected-line", "%r after the quit" % line)
        try:
            status = self.engine.proc.wait(timeout=max(0.0, closed_at + allowed - time.time())
                                           + 0.1)
        except subprocess.TimeoutExpired:
            raise Failure("exit", "process still running %.1f s after the quit" % allowed)
        if status != 0:
            raise Failure("exit", "exit status %d" % status)
        err = self.engine.stderr_text()
        if err.strip():
            raise Failure("stderr", err[:4000])


# ---------------------------------------------------------------------------
# Generating input.

HUGE = ["99999999999", "2147483648", "-2147483649", "4294967306", "-4294967286",
        "18446744073709551626", "2147483647", "-2147483648", "000000000000000000007"]
JUNK = ["", " ", "x", "0x5", "5.0", "+", "-", "--3", "+-2", "1e3", "\t7", ",", ",,", "5,", "five"]
OTHER_WORDS = ["HELLO", "STAR 15", "TURNS", "BOAR", "TAKEBAC 1,1", "ABOU", "EN", "INF",
               " TURN 1,1", "\tABOUT", "SWAP2BOARD", "RESTAR", "PLA 1,1", "BEGI", "DONE",
               "MESSAGE hi", "OK", "ERROR", "YX", "YXBOAR", "YXSTO", "YXSHOWFORBI", " YXSTOP",
               "XYBOARD"]


class Generator:
    def __init__(self, seed, profile):
        self.rng = Rng(seed)
        self.profile = profile
        self.steps = 0
        r = self.rng
        if profile == "think":
            self.length = r.range(30, 90)
            self.mutate_p = 0.0
            self.wait_p = 0.1
        else:
            self.length = r.range(4, 60)
            self.mutate_p = r.pick([0.0, 0.1, 0.3, 0.6])
            self.wait_p = r.pick([0.0, 0.3, 0.7, 1.0])

    # -- pieces --------------------------------------------------------------
    def number(self, value):
        r = self.rng
        if r.chance(0.04):
            return r.pick(HUGE)
        if r.chance(0.03):
            return "+%d" % value if value >= 0 else str(value)
        if r.chance(0.02):
            return "0" * r.range(1, 4) + str(value) if value >= 0 else str(value)
        return str(value)

    def point(self, shadow):
        r = self.rng
        h = shadow.height if shadow.height > 0 else 20
        w = shadow.width if shadow.width > 0 else 20
        kind = r.weighted([("free", 60), ("taken", 10), ("blocked", 6), ("off", 10),
                           ("any", 14)])
        if kind == "taken" and shadow.record:
            return r.pick(shadow.record)
        if kind == "blocked" and shadow.blocked:
            return r.pick(sorted(shadow.blocked))
        if kind == "off":
            return r.pick([(h, r.below(w)), (r.below(h), w), (-1, r.below(w)),
                           (r.below(h), -1), (h + r.range(0, 30), w + r.range(0, 30))])
        if kind in ("free", "taken", "blocked"):
            if shadow.record and r.chance(0.7):
                # near the last stones: games look like games and threats arise
                bx, by = shadow.record[-1 - r.below(min(4, len(shadow.record)))]
                for _ in range(8):
                    p = (bx + r.range(-2, 2), by + r.range(-2, 2))
                    if shadow.on_board(*p) and p not in shadow.taken and p not in shadow.blocked:
                        return p
            free = shadow.free_points()
            if free:
                return r.pick(free)
        return (r.range(0, 25), r.range(0, 25))

    def pair_text(self, p):
        r = self.rng
        x, y = self.number(p[0]), self.number(p[1])
        form = r.weighted([("%s,%s", 80), ("%s, %s", 6), ("%s ,%s", 3), ("%s,%s junk", 3),
                           ("%s", 2), ("%s,%s,%s", 2), ("%s;%s", 1), ("  %s,\t%s", 3)])
        if form == "%s":
            return x
        if form == "%s,%s,%s":
            return "%s,%s,%s" % (x, y, r.range(0, 4))
        return form % (x, y)

    # -- commands ------------------------------------------------------------
    def command(self, shadow, think_running):
        r = self.rng
        if self.profile == "think":
            kind = r.weighted([("turn", 35), ("takeback", 15), ("info", 15), ("begin", 5),
                               ("play", 5), ("restart", 3), ("start", 3), ("board", 5),
                               ("about", 4), ("unknown", 3), ("yxstop", 8), ("yxboard", 3),
                               ("yxshowforbid", 3), ("info-analysis", 6)])
        else:
            kind = r.weighted([("turn", 22), ("play", 6), ("begin", 4), ("board", 9),
                               ("takeback", 8), ("info", 8), ("start", 7), ("rectstart", 4),
                               ("restart", 3), ("about", 2), ("unknown", 4), ("noise", 5),
                               ("yxstop", 4), ("yxboard", 5), ("yxshowforbid", 4),
                               ("info-analysis", 5)])
        if shadow.budget() > 1000 and r.chance(0.8):
            kind = "info-budget"
        return getattr(self, "make_" + kind.replace("-", "_"))(shadow)

    def make_turn(self, shadow):
        return ["TURN " + self.pair_text(self.point(shadow))]

    def make_play(self, shadow):
        return ["PLAY " + self.pair_text(self.point(shadow))]

    def make_begin(self, shadow):
        return [self.rng.pick(["BEGIN", "BEGIN", "begin", "BEGIN now"])]

    def make_restart(self, shadow):
        return [self.rng.pick(["RESTART", "restart", "RESTART 15"])]

    def make_about(self, shadow):
        return [self.rng.pick(["ABOUT", "about", "AbOuTx"])]

    def make_takeback(self, shadow):
        r = self.rng
        if shadow.record and r.chance(0.6):
            p = shadow.record[-1]
        else:
            p = self.point(shadow)
        return ["TAKEBACK " + self.pair_text(p)]

    def make_start(self, shadow):
        r = self.rng
        if self.profile == "think":
            return ["START %d" % r.pick([15, 20, 24])]
        n = r.range(-5, 30) if r.chance(0.5) else r.range(5, 24)
        form = r.weighted([("one", 60), ("two", 25), ("none", 5), ("comma", 5), ("glued", 5)])
        if form == "one":
            return ["START " + self.number(n)]
        if form == "two":
            return ["START %s %s" % (self.number(n), self.number(r.range(-2, 26)))]
        if form == "comma":
            return ["START %d,%d" % (n, r.range(-2, 26))]
        if form == "glued":
            return ["STARTING %d" % n]
        return ["START"]

    def make_rectstart(self, shadow):
        r = self.rng
        w, h = r.range(-2, 26), r.range(-2, 26)
        if r.chance(0.3):
            w, h = r.range(5, 24), 0 if r.chance(0.5) else r.range(5, 24)
            if r.chance(0.5):
                w, h = h, w
        form = r.weighted([("%s,%s", 60), ("%s , %s", 10), ("%s ,%s", 5), ("%s %s", 8),
                           ("%s", 7), ("", 5), ("%s,", 5)])
        return ["RECTSTART " + form.replace("%s", "{}").format(self.number(w), self.number(h))]

    def make_info(self, shadow):
        r = self.rng
        key = r.weighted([("timeout_turn", 30), ("time_left", 15), ("rule", 25),
                          ("max_memory", 5), ("timeout_match", 5), ("game_type", 4),
                          ("folder", 4), ("other", 6), ("bare", 3)])
        if key == "timeout_turn":
            value = str(r.range(20, 200)) if r.chance(0.9) else r.pick(["0", "-5", "1"])
        elif key == "time_left":
            value = r.pick([str(r.range(320, 3200)), "1000000000", "0", "-100",
                            str(r.range(5000, 100000))])
        elif key == "rule":
            value = str(r.range(-1, 9))
        elif key == "folder":
            value = "/tmp/x y"
        elif key == "bare":
            return ["INFO"]
        elif key == "other":
            return ["INFO " + r.pick(["evaluate 3,3", "some_key 5", "timeout", "rulez"])]
        else:
            value = str(r.range(0, 1 << 30))
        if r.chance(0.2):
            key = key.upper()
        return ["INFO %s %s" % (key, value)]

    def make_info_analysis(self, shadow):
        r = self.rng
        key = r.pick(["max_depth", "max_node", "show_detail"])
        if key == "max_depth":
            value = r.pick(["0", "1", "2", "3", str(r.range(4, 12)), "-1", "99999999999"])
        elif key == "max_node":
            value = r.pick(["0", "1", "1023", "1024", str(r.range(100, 60000)), "-5"])
        else:
            value = r.pick(["0", "1", "1", "7"])
        if r.chance(0.2):
            key = key.upper()
        return ["INFO %s %s" % (key, value)]

    def make_yxstop(self, shadow):
        return [self.rng.pick(["YXSTOP", "yxstop", "YXSTOP now"])]

    def make_yxshowforbid(self, shadow):
        r = self.rng
        lines = [r.pick(["YXSHOWFORBID", "yxshowforbid", "YxShowForbid 1"])]
        if shadow.requested_rule != 2 and r.chance(0.5):
            # Forbidden points need Renju; the rule reaches the game at the
            # next position command.
            lines = ["INFO rule 4", "TAKEBACK -1,-1"] + lines
        return lines

    def make_yxboard(self, shadow):
        lines = self.make_board(shadow)
        lines[0] = self.rng.pick(["YXBOARD", "yxboard", "YXBOARD extra"])
        return lines

    def make_info_budget(self, shadow):
        return ["INFO timeout_turn %d" % self.rng.range(20, 200),
                "INFO time_left %d" % self.rng.pick([1000000000, 100000])]

    def make_unknown(self, shadow):
        return [self.rng.pick(OTHER_WORDS)]

    def make_board(self, shadow):
        r = self.rng
        lines = [r.pick(["BOARD", "BOARD", "board", "BOARD extra"])]
        used = list(shadow.record) + sorted(shadow.blocked)
        for _ in range(r.range(0, 12)):
            kind = r.weighted([("fresh", 80), ("repeat", 8), ("off", 4), ("any", 4)])
            p = self.point(shadow)
            if kind == "fresh":
                free = [q for q in shadow.free_points() if q not in used]
                p = r.pick(free) if free else p
            if kind == "repeat" and used:
                p = r.pick(used)
            elif kind == "off":
                p = r.pick([(-1, 0), (0, -1), (max(shadow.height, 1), 0),
                            (0, max(shadow.width, 1))])
            elif p in used:
                continue
            used.append(p)
            who = r.weighted([(1, 40), (2, 40), (3, 12), (0, 1), (4, 1), (-1, 1)])
            form = r.weighted([("%s,%s,%s", 92), ("%s, %s, %s", 4), ("%s ,%s,%s", 2),
                               ("%s,%s", 2)])
            num = self.number if r.chance(0.1) else str
            lines.append(form.replace("%s", "{}").format(num(p[0]), num(p[1]), who))
        end = r.weighted([("DONE", 70), ("done", 8), ("DONE ", 4), ("other", 8), ("open", 5),
                          ("DONEX", 5)])
        if end == "other":
            lines.append(r.pick(["TURN 1,1", "ABOUT", "END", "", "BEGIN"]))
        elif end != "open":
            lines.append(end)
        return lines

    def make_noise(self, shadow):
        r = self.rng
        kind = r.weighted([("binary", 4), ("nul", 4), ("long", 3), ("cr", 4), ("crlf", 3)])
        if kind == "binary":
            data = bytes(r.below(256) for _ in range(r.range(1, 80)))
            if r.chance(0.7):
                data = data.replace(b"\n", b"")
            return [data]
        if kind == "nul":
            base = r.pick([b"TURN 5,5", b"ABOUT", b"START 15", b"PLAY 3,3", b"TAKEBACK 1,1",
                           b"END", b"BOARD"])
            cut = r.range(0, len(base))
            return [base[:cut] + b"\0" + base[cut:]]
        if kind == "long":
            head = r.pick([b"ABOUT", b"TURN 3,3", b"X", b"INFO timeout_turn 50 "])
            return [head + b"Z" * r.range(8000, 12000) + r.pick([b"", b"END", b"\r"])]
        if kind == "cr":
            return [r.pick([b"ABOUT\rEND\r", b"TURN 4,4\rTURN 5,5\r", b"\r", b"START 15\r15",
                            b"PLAY 2,2\r\r"])]
        return [r.pick([b"ABOUT\r", b"RESTART\r", b"TAKEBACK 1,1\r"])]

    def mutate(self, line):
        r = self.rng
        data = line if isinstance(line, bytes) else line.encode()
        op = r.weighted([("case", 30), ("drop-args", 10), ("extra-args", 10), ("number", 20),
                         ("space", 8), ("nul", 5), ("truncate", 10), ("dup", 7)])
        if op == "case":
            return bytes(c ^ 0x20 if (65 <= c <= 90 or 97 <= c <= 122) and r.chance(0.5) else c
                         for c in data)
        if op == "drop-args":
            cut = data.find(b" ")
            return data[:cut] if cut > 0 else data
        if op == "extra-args":
            return data + r.pick([b" 1", b",1", b" 1,2,3", b" junk", b"\t", b",,,"])
        if op == "number":
            return re.sub(rb"-?\d+", lambda m: (r.pick(HUGE + JUNK).encode() if r.chance(0.5)
                                                else m.group(0)), data, count=0)
        if op == "space":
            return r.pick([b" ", b"\t", b"\v"]) + data if r.chance(0.3) else data + b"  "
        if op == "nul":
            cut = r.range(0, len(data))
            return data[:cut] + b"\0" + data[cut:]
        if op == "truncate":
            return data[: r.range(0, len(data))]
        return data + data

    # -- chunks --------------------------------------------------------------
    def __call__(self, shadow, think_running):
        r = self.rng
        self.steps += 1
        # Waiting is only affordable while the budget is small.
        wait = think_running and shadow.running_budget() <= 1000 and r.chance(self.wait_p)
        if self.steps == 1:
            first = ["INFO timeout_turn %d" % r.range(20, 200)]
            if self.profile == "think" or r.chance(0.7):
                first.append(r.pick(["START 15", "START 20", "START 24", "RECTSTART 24,24",
                                     "START %d" % r.range(1, 24)])
                             if self.profile != "think" else "START %d" % r.pick([15, 20, 24]))
            return Chunk(b"".join(l.encode() + b"\n" for l in first) + MARKER + b"\n")
        if self.steps >= self.length:
            return self.final(shadow, wait)
        lines = self.command(shadow, think_running)
        if self.profile == "think":
            # Several commands per chunk: TURN, TAKEBACK and INFO reach the
            # engine back to back, without a round trip between them.
            for _ in range(r.below(4)):
                lines += self.command(shadow, think_running)
        out = [line if isinstance(line, bytes) else line.encode() for line in lines]
        # One line of a chunk at most is mutated, so a BOARD block keeps most
        # of its stones and the mutation's effect stays visible.
        if self.mutate_p and r.chance(self.mutate_p):
            k = r.below(len(out))
            out[k] = self.mutate(out[k])
        if shadow.in_board_block:
            out.insert(0, b"DONE")
        return Chunk(b"".join(l + b"\n" for l in out) + MARKER + b"\n", wait)

    def final(self, shadow, wait):
        r = self.rng
        kind = r.weighted([("end", 35), ("eof", 20), ("partial", 15), ("board", 12),
                           ("think-end", 18)] if self.profile == "normal" else
                          [("think-end", 80), ("eof", 10), ("board", 10)])
        if kind == "end":
            return Chunk(r.pick([b"END\n", b"end\n", b"END\nABOUT\n", b"ENDX\n"]), wait, True)
        if kind == "eof":
            return Chunk(b"", wait, True)
        if kind == "partial":
            return Chunk(r.pick([b"TURN 5,", b"END", b"ABOUT", b"BOARD", b"START 15"]), wait, True)
        if kind == "board":
            p = self.point(shadow)
            return Chunk(b"BOARD\n%d,%d,1\n" % p + r.pick([b"", b"3,3", b"DON"]), wait, True)
        p = self.point(shadow)
        return Chunk(b"TURN %d,%d\n" % p + r.pick([b"END\n", b"", b"INFO rule 2\nEND\n"]),
                     wait, True)


class Replay:
    def __init__(self, chunks):
        self.chunks = list(chunks)
        self.index = 0

    def __call__(self, shadow, think_running):
        if self.index >= len(self.chunks):
            return Chunk(b"", False, True)
        chunk = self.chunks[self.index]
        self.index += 1
        return chunk


# ---------------------------------------------------------------------------
# Minimising a failing session.


def reproduces(command, slowdown, chunks, kind, check_centre, tries=2):
    for _ in range(tries):
        failure = Session(command, slowdown, Replay(chunks), check_centre).run()
        if failure is not None and failure.kind == kind:
            return True
    return False


def minimise(command, slowdown, chunks, kind, check_centre, seconds):
    deadline = time.time() + seconds
    chunks = list(chunks)
    if not chunks[-1].close:
        chunks.append(Chunk(b"", False, True))
    size = max(1, (len(chunks) - 1) // 2)
    while size >= 1 and time.time() < deadline:
        start = 1 if len(chunks) > 2 else 0  # the first chunk sets the small budget
        changed = False
        while start < len(chunks) - 1 and time.time() < deadline:
            trial = chunks[:start] + chunks[start + size:]
            if trial and trial[-1].close and reproduces(command, slowdown, trial, kind,
                                                        check_centre):
                chunks = trial
                changed = True
            else:
                start += size
        if not changed:
            size //= 2
    return chunks


def session_input(chunks):
    return b"".join(c.data for c in chunks)


# ---------------------------------------------------------------------------


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--engine", required=True)
    parser.add_argument("--wrapper", default="")
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--sessions", type=int, default=0, help="0: no limit but --seconds")
    parser.add_argument("--slowdown", type=float, default=None,
                        help="scale for every time-out (default 1, 4 with a wrapper)")
    parser.add_argument("--profile", choices=["normal", "think"], default="normal")
    parser.add_argument("--replay", help="JSON file of a saved session to run once")
    parser.add_argument("--save-failure", help="write the minimal failing session here (JSON)")
    parser.add_argument("--minimise-seconds", type=float, default=120.0)
    parser.add_argument("--allow-blocked-centre", action="store_true",
                        help="accept a refused first move on a blocked centre")
    parser.add_argument("--keep-going", action="store_true", help="continue after a failure")
    args = parser.parse_args()

    command = ([args.wrapper] if args.wrapper else []) + [os.path.abspath(args.engine)]
    slowdown = args.slowdown if args.slowdown is not None else (4.0 if args.wrapper else 1.0)
    check_centre = not args.allow_blocked_centre

    if args.replay:
        with open(args.replay) as f:
            chunks = [Chunk.from_json(c) for c in json.load(f)]
        session = Session(command, slowdown, Replay(chunks), check_centre)
        failure = session.run()
        print("\n".join(session.transcript[-60:]))
        print("replay: %s" % ("OK" if failure is None else "FAIL " + str(failure)))
        return 1 if failure else 0

    seed = args.seed if args.seed is not None else int.from_bytes(os.urandom(4), "little")
    print("fuzz_protocol: seed %d, profile %s, engine %s%s" % (
        seed, args.profile, args.engine, " under " + args.wrapper if args.wrapper else ""),
        flush=True)
    master = Rng(seed)
    deadline = time.time() + args.seconds
    failures = 0
    count = thinks = 0
    stats = collections.Counter()
    started = time.time()
    while time.time() < deadline and (args.sessions == 0 or count < args.sessions):
        session_seed = master.next64()
        session = Session(command, slowdown, Generator(session_seed, args.profile), check_centre)
        failure = session.run()
        count += 1
        thinks += session.thinks
        stats.update(session.stats)
        if failure is None:
            continue
        failures += 1
        print("FAIL seed %d session %d (session seed %d): %s" % (seed, count, session_seed,
                                                                  failure), flush=True)
        print("  last lines of the transcript:")
        for line in session.transcript[-40:]:
            print("    " + line)
        chunks = minimise(command, slowdown, session.sent, failure.kind, check_centre,
                          args.minimise_seconds)
        print("  minimal session input (%d chunks; %s):" % (
            len(chunks), "reproduces" if reproduces(command, slowdown, chunks, failure.kind,
                                                    check_centre) else "did not reproduce"))
        print("    " + repr(session_input(chunks)))
        print("  chunks (data, wait-for-think-first, close-input-after):")
        for c in chunks:
            print("    (%r, %s, %s)" % (c.data, c.wait, c.close))
        if args.save_failure:
            with open(args.save_failure, "w") as f:
                json.dump([c.to_json() for c in chunks], f)
            print("  saved to %s (replay with --replay)" % args.save_failure)
        if not args.keep_going:
            break
    print("fuzz_protocol: answers checked: " + ", ".join(
        "%s %d" % (k, v) for k, v in sorted(stats.items(), key=lambda kv: -kv[1])))
    print("fuzz_protocol: seed %d, %d sessions, %d thinks, %.0f s, %d failing" % (
        seed, count, thinks, time.time() - started, failures), flush=True)
    return 1 if failures or count == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
