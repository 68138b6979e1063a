"""Drives a brain binary over its standard input and output, like a manager."""

import os
import queue
import subprocess
import sys
import threading
import time

ENGINE = os.environ.get("ZORVAN_ENGINE", "")
WRAPPER = os.environ.get("ZORVAN_WRAPPER", "")
# Emulated 32-bit builds start and think more slowly; every wait scales by this.
SLOWDOWN = float(os.environ.get("ZORVAN_SLOWDOWN", "1"))


class Brain:
    def __init__(self, engine=None, wrapper=None):
        engine = engine or ENGINE
        wrapper = WRAPPER if wrapper is None else wrapper
        cmd = ([wrapper] if wrapper else []) + [engine]
        self.proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        # Standard error is drained all the time (a full pipe would block the
        # engine) and kept, so tests can look for sanitizer reports.
        self.errors = []
        self.err_reader = threading.Thread(target=self._read_errors, daemon=True)
        self.err_reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw)
        self.lines.put(None)

    def _read_errors(self):
        for raw in self.proc.stderr:
            self.errors.append(raw)

    def stderr_text(self):
        return b"".join(self.errors).decode(errors="replace")

    def send_bytes(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def send(self, *lines):
        for line in lines:
            self.send_bytes(line.encode() + b"\n")

    def read_raw(self, timeout=5.0):
        """The next output line as bytes with its line end, None at end of output."""
        try:
            return self.lines.get(timeout=timeout * SLOWDOWN)
        except queue.Empty:
            raise AssertionError("no output line within %.1f s" % (timeout * SLOWDOWN))

    def read(self, timeout=5.0):
        raw = self.read_raw(timeout)
        if raw is None:
            raise AssertionError("the engine closed its output")
        assert raw.endswith(b"\n"), "line without newline: %r" % raw
        return raw[:-1].decode()

    def read_answer(self, timeout=5.0):
        """The next line that is not a MESSAGE or DEBUG line."""
        while True:
            line = self.read(timeout)
            if not (line.startswith("MESSAGE") or line.startswith("DEBUG")):
                return line

    def read_move(self, timeout=10.0):
        line = self.read_answer(timeout)
        parts = line.split(",")
        assert len(parts) == 2, "expected a move, got %r" % line
        return int(parts[0]), int(parts[1])

    def no_output(self, wait=0.3):
        """True when nothing is printed within `wait` seconds."""
        try:
            raw = self.lines.get(timeout=wait * SLOWDOWN)
        except queue.Empty:
            return True
        self.lines.put(raw)
        return False

    def close_input(self):
        self.proc.stdin.close()

    def finish(self, timeout=5.0):
        """Closes input if still open, waits for exit; returns (status, remaining lines)."""
        if not self.proc.stdin.closed:
            self.proc.stdin.close()
        status = self.proc.wait(timeout=timeout * SLOWDOWN)
        rest = []
        while True:
            raw = self.read_raw(timeout)
            if raw is None:
                break
            rest.append(raw.decode().rstrip("\n"))
        self.err_reader.join(timeout * SLOWDOWN)
        return status, rest

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def run_session(lines, timeout=10.0, raw=None):
    """Writes the lines (or raw bytes), closes input; returns (status, output lines)."""
    brain = Brain()
    try:
        brain.send_bytes(raw if raw is not None else "".join(l + "\n" for l in lines).encode())
        status, out = brain.finish(timeout)
        if status != 0:
            # Whatever the engine (or its emulator) said on the way out.
            sys.stderr.write("engine exited with %d; its standard error:\n%s\n"
                             % (status, brain.stderr_text()))
        return status, out
    finally:
        brain.kill()


def wait_until(predicate, timeout):
    end = time.time() + timeout * SLOWDOWN
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.01)
    return False
