"""Drives a brain over the Gomocup brain protocol, as a tournament manager does.

A brain is a child process read line by line on its own thread, so every wait
has a deadline and a brain that stalls, crashes or closes its output is seen
as such instead of hanging the caller. The commands are the manager's: START
or RECTSTART, the INFO settings, BEGIN, BOARD ... DONE, TURN, TAKEBACK, END.
"""

import collections
import os
import queue
import shlex
import subprocess
import threading
import time

from referee import RULES

# A brain run through an emulator starts and answers slower; waits that are
# not move times (START, END) scale by this.
EMULATED_SLOWDOWN = 4.0
# How long past its limit a late move is still waited for, to report its time.
LATE_GRACE_MS = 2000
# Lines kept of what a brain printed, to show when it fails.
RECENT_LINES = 40
# The largest time_left a manager sends when there is no match clock.
NO_MATCH_CLOCK = 2147483647


class EngineFailure(Exception):
    def __init__(self, kind, text):
        super().__init__(text)
        self.kind = kind
        self.text = text


class Engine:
    """One brain process. `command` is a command line or an argument list.

    `listener`, when given, is called on the reading thread with every line the
    brain prints on standard output. With `keep_stderr` its standard error is
    read too and its last lines kept; otherwise it is thrown away.
    """

    def __init__(self, command, listener=None, keep_stderr=False):
        argv = shlex.split(command) if isinstance(command, str) else list(command)
        self.command = command
        self.slowdown = EMULATED_SLOWDOWN if os.path.basename(argv[0]).startswith("qemu") else 1.0
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE if keep_stderr else subprocess.DEVNULL)
        self.lines = queue.Queue()
        self.protocol_errors = []
        self.last_speed = None
        self.listener = listener
        self.recent = collections.deque(maxlen=RECENT_LINES)
        self.recent_stderr = collections.deque(maxlen=RECENT_LINES)
        threading.Thread(target=self._read, daemon=True).start()
        if keep_stderr:
            threading.Thread(target=self._read_stderr, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            arrived = time.monotonic()
            text = raw.decode(errors="replace").rstrip("\r\n")
            self.recent.append(text)
            if self.listener:
                self.listener(text)
            self.lines.put((arrived, raw))
        self.lines.put((time.monotonic(), None))
        self.proc.stdout.close()

    def _read_stderr(self):
        for raw in self.proc.stderr:
            self.recent_stderr.append(raw.decode(errors="replace").rstrip("\r\n"))
        self.proc.stderr.close()

    def send(self, text):
        """Writes the lines; returns the clock reading taken just before writing."""
        started = time.monotonic()
        try:
            self.proc.stdin.write(text.encode())
            self.proc.stdin.flush()
        except (BrokenPipeError, OSError, ValueError):
            raise EngineFailure("crash", "the brain closed its input")
        return started

    def next_line(self, deadline):
        """(arrival time, text) of the next line; None as text when past the deadline."""
        wait = deadline - time.monotonic()
        try:
            arrived, raw = self.lines.get(timeout=max(0.0, wait))
        except queue.Empty:
            return None, None
        if raw is None:
            self.lines.put((arrived, None))  # later reads see the end too
            raise EngineFailure("crash", "the brain ended (exit status %s)" % self.exit_status())
        return arrived, raw.decode(errors="replace").rstrip("\r\n")

    def exit_status(self):
        try:
            return self.proc.wait(timeout=1.0)
        except subprocess.TimeoutExpired:
            return None

    def answer(self, deadline, stop_at_error=False):
        """The next line that is not a MESSAGE or DEBUG line. ERROR and UNKNOWN
        lines are noted as protocol errors and skipped, or with `stop_at_error`
        returned as the answer."""
        while True:
            arrived, text = self.next_line(deadline)
            if text is None:
                return None, None
            if text.startswith("MESSAGE") or text.startswith("DEBUG"):
                if text.startswith("MESSAGE Speed="):
                    self.last_speed = text[len("MESSAGE Speed="):]
                continue
            if text.startswith("ERROR") or text.startswith("UNKNOWN"):
                self.protocol_errors.append(text)
                if stop_at_error:
                    return arrived, text
                continue
            return arrived, text

    def drain(self):
        """Notes any unexpected line printed while the brain should be idle."""
        while True:
            try:
                _, raw = self.lines.get_nowait()
            except queue.Empty:
                return
            if raw is None:
                self.lines.put((time.monotonic(), None))
                return
            text = raw.decode(errors="replace").rstrip("\r\n")
            if not (text.startswith("MESSAGE") or text.startswith("DEBUG")):
                self.protocol_errors.append("unexpected line %r" % text)

    def finish(self, wait=5.0):
        """Sends END; returns a failure kind or None for a clean exit with status 0."""
        try:
            self.send("END\n")
            self.proc.stdin.close()
        except (EngineFailure, OSError):
            pass
        try:
            status = self.proc.wait(timeout=wait * self.slowdown)
        except subprocess.TimeoutExpired:
            self.kill()
            return "protocol", "no exit within %.0f s after END" % (wait * self.slowdown)
        if status != 0:
            return "crash", "exit status %d after END" % status
        return None, None

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        try:
            self.proc.stdin.close()
        except OSError:
            pass  # a brain that died with unread input: nothing left to send


def start_engine(engine, width, height, rule, timeout_turn, timeout_match=0):
    """START (square) or RECTSTART, then the INFO settings a manager sends.
    `timeout_match` 0 means no match clock."""
    if height == width:
        start = "START %d\n" % width
    else:
        start = "RECTSTART %d,%d\n" % (width, height)
    sent = engine.send(start)
    _, text = engine.answer(sent + 10.0 * engine.slowdown)
    if text != "OK":
        errors = "; ".join(engine.protocol_errors)
        raise EngineFailure("protocol", "START answered %r%s" % (text, " (%s)" % errors
                                                                 if errors else ""))
    time_left = timeout_match if timeout_match > 0 else NO_MATCH_CLOCK
    engine.send("INFO timeout_turn %d\nINFO timeout_match %d\nINFO time_left %d\n"
                "INFO max_memory 367001600\nINFO game_type 1\nINFO rule %d\n"
                % (timeout_turn, timeout_match, time_left, RULES[rule]))


def move_request(moves, turn, started):
    """The command asking for the move of side `turn` (0 black, 1 white) after
    `moves`: BEGIN on an empty board, BOARD with every stone for a brain that
    has not followed the game, else TURN with the opponent's last move."""
    if started and moves:
        return "TURN %d,%d\n" % moves[-1]
    if not moves:
        return "BEGIN\n"
    text = "BOARD\n"
    for i, (x, y) in enumerate(moves):
        text += "%d,%d,%d\n" % (x, y, 1 if i % 2 == turn else 2)
    return text + "DONE\n"
