#!/usr/bin/env python3
"""Long self-play session that watches the engine's resident memory.

Two engine processes play each other game after game on 24x24 boards (or one
engine against a scripted opponent), with the rules changing between games, a
few take-backs, and one game played until the board is full. Every move is
checked to be on the board and free. The peak resident set (VmHWM of
/proc/<pid>/status, which for an engine run under an emulator such as
qemu-i386 is the emulator's process) must stay under the limit; the figures
are printed either way.

usage: memory_check.py --engine PATH [--wrapper qemu-i386] [--games N]
                       [--moves N] [--think-ms N] [--limit-mib 256] [--seed N]
"""

import argparse
import os
import queue
import subprocess
import sys
import tempfile
import threading
import time

from referee import EMPTY, Board, colour_of, wins

SIDE = 24


class Failure(Exception):
    pass


def proc_status(pid):
    """(VmRSS, VmHWM) in KiB, or None when the process is gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            fields = dict(line.split(":", 1) for line in f if ":" in line)
        return int(fields["VmRSS"].split()[0]), int(fields["VmHWM"].split()[0])
    except (OSError, KeyError, ValueError):
        return None


class Engine:
    def __init__(self, command, name, slowdown):
        self.name = name
        self.slow = slowdown
        self.stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self.stderr)
        self.lines = queue.Queue()
        self.peak_hwm = 0
        self.peak_rss = 0
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw.decode(errors="replace").rstrip("\n"))
        self.lines.put(None)

    def sample(self):
        status = proc_status(self.proc.pid)
        if status:
            self.peak_rss = max(self.peak_rss, status[0])
            self.peak_hwm = max(self.peak_hwm, status[1])

    def send(self, *lines):
        self.proc.stdin.write("".join(l + "\n" for l in lines).encode())
        self.proc.stdin.flush()

    def read(self, timeout):
        try:
            line = self.lines.get(timeout=timeout * self.slow)
        except queue.Empty:
            raise Failure("%s: no answer within %.1f s" % (self.name, timeout * self.slow))
        if line is None:
            raise Failure("%s: output ended (exit status %s)" % (self.name, self.proc.poll()))
        return line

    def expect(self, wanted, timeout=10.0):
        while True:
            line = self.read(timeout)
            if line.startswith("MESSAGE"):
                continue
            if line != wanted:
                raise Failure("%s: expected %r, got %r" % (self.name, wanted, line))
            return

    def move(self, timeout):
        """The move of the think just requested; None when the engine found no
        point it may play (its own refusal, then the refused move)."""
        refused = False
        while True:
            line = self.read(timeout)
            if line.startswith("MESSAGE"):
                continue
            if line.startswith("ERROR my move [") and not refused:
                refused = True
                continue
            if refused:
                return None
            parts = line.split(",")
            if len(parts) != 2:
                raise Failure("%s: expected a move, got %r" % (self.name, line))
            return int(parts[0]), int(parts[1])

    def finish(self):
        self.sample()
        self.send("END")
        self.proc.stdin.close()
        try:
            status = self.proc.wait(timeout=5 * self.slow)
        except subprocess.TimeoutExpired:
            raise Failure("%s: did not exit after END" % self.name)
        rest = []
        while True:
            line = self.lines.get(timeout=5)
            if line is None:
                break
            rest.append(line)
        self.stderr.seek(0)
        err = self.stderr.read().decode(errors="replace")
        if status != 0:
            raise Failure("%s: exit status %d" % (self.name, status))
        if err.strip():
            raise Failure("%s: wrote to stderr:\n%s" % (self.name, err[:4000]))
        if rest:
            raise Failure("%s: lines after END: %r" % (self.name, rest[:5]))

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


class Game:
    def __init__(self):
        self.board = Board(SIDE, SIDE)
        self.order = []

    def play(self, point, who):
        """Enters the move; True when it makes five or more (every rule's games
        end there, so that one game's length does not depend on its rule)."""
        x, y = point
        if not self.board.on_board(x, y):
            raise Failure("%s played %r, off the board" % (who, point))
        if self.board.at(x, y) != EMPTY:
            raise Failure("%s played %r, already taken" % (who, point))
        colour = colour_of(len(self.order))
        self.board.put(x, y, colour)
        self.order.append(point)
        return wins(self.board, x, y, colour, "freestyle")

    def take_back(self):
        point = self.order.pop()
        self.board.put(*point, EMPTY)
        return point

    def free(self, point):
        return self.board.at(*point) == EMPTY


def run(args):
    command = ([args.wrapper] if args.wrapper else []) + [os.path.abspath(args.engine)]
    slow = args.slowdown if args.slowdown is not None else (4.0 if args.wrapper else 1.0)
    seed = args.seed
    engines = [Engine(command, "engine A", slow), Engine(command, "engine B", slow)]
    if args.single:
        engines = engines[:1]
    stop = threading.Event()

    def sampler():
        while not stop.is_set():
            for e in engines:
                e.sample()
            time.sleep(0.05)

    watcher = threading.Thread(target=sampler, daemon=True)
    watcher.start()
    think_timeout = 5.0 + args.think_ms / 1000.0 * 4
    moves_total = 0
    started = time.time()
    try:
        for e in engines:
            e.send("INFO timeout_turn %d" % args.think_ms, "INFO time_left 1000000000")
        for game_no in range(args.games):
            rule = (0, 1, 2, 4, 9)[game_no % 5]
            full_board = game_no == args.games - 1 and args.full_game
            start = "START 24" if game_no % 2 == 0 else "RECTSTART 24,24"
            for e in engines:
                e.send("INFO rule %d" % rule, start)
                e.expect("OK")
            game = Game()
            limit = SIDE * SIDE if full_board else args.moves
            # Engine A opens with BEGIN; afterwards each engine's move is the
            # other's TURN. With one engine, a scripted opponent answers.
            mover = 0
            engines[0].send("BEGIN")
            step = 0
            while len(game.order) < limit:
                point = engines[mover].move(think_timeout)
                if point is None:
                    # Renju: every point left may be forbidden for black.
                    print("memory_check: %s has no playable point after %d moves"
                          % (engines[mover].name, len(game.order)))
                    break
                moves_total += 1
                won = game.play(point, engines[mover].name)
                if won and not full_board:
                    break
                step += 1
                if len(game.order) >= limit:
                    break
                if step % 23 == 0 and len(game.order) >= 3:
                    # Both records must hold the last move before it can be
                    # taken back: the other engine gets it as a PLAY.
                    if len(engines) == 2:
                        engines[1 - mover].send("PLAY %d,%d" % point)
                        engines[1 - mover].expect("%d,%d" % point)
                    for _ in range(2):
                        p = game.take_back()
                        for e in engines:
                            e.send("TAKEBACK %d,%d" % p)
                            e.expect("OK")
                    mover = len(game.order) % 2 if len(engines) == 2 else 0
                    engines[mover].send("BEGIN")
                    continue
                if len(engines) == 2:
                    mover = 1 - mover
                    engines[mover].send("TURN %d,%d" % point)
                else:
                    reply = scripted_reply(game, seed + step)
                    game.play(reply, "opponent")
                    if len(game.order) >= limit:
                        break
                    engines[0].send("TURN %d,%d" % reply)
            print("memory_check: game %d (rule %d): %d moves%s" % (
                game_no + 1, rule, len(game.order), ", board full" if full_board else ""),
                flush=True)
        for e in engines:
            e.finish()
    finally:
        stop.set()
        for e in engines:
            e.kill()
    elapsed = time.time() - started
    return engines, moves_total, elapsed


def scripted_reply(game, salt):
    """A free point near the last stone, deterministic."""
    lx, ly = game.order[-1]
    for radius in range(1, SIDE):
        for k in range(8 * radius):
            dx = (salt * 7 + k * 3) % (2 * radius + 1) - radius
            dy = (salt * 5 + k * 11) % (2 * radius + 1) - radius
            p = (lx + dx, ly + dy)
            if game.free(p):
                return p
    for x in range(SIDE):
        for y in range(SIDE):
            if game.free((x, y)):
                return (x, y)
    raise Failure("no free point left for the opponent")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--engine", required=True)
    parser.add_argument("--wrapper", default="")
    parser.add_argument("--games", type=int, default=6)
    parser.add_argument("--moves", type=int, default=120, help="move limit of a game")
    parser.add_argument("--think-ms", type=int, default=40)
    parser.add_argument("--limit-mib", type=float, default=256.0, help="0: report only")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--slowdown", type=float, default=None)
    parser.add_argument("--single", action="store_true", help="one engine, scripted opponent")
    parser.add_argument("--no-full-game", dest="full_game", action="store_false",
                        help="do not play the last game until the board is full")
    args = parser.parse_args()
    try:
        engines, moves, elapsed = run(args)
    except Failure as failure:
        print("memory_check: FAIL %s" % failure, flush=True)
        return 1
    worst = max(e.peak_hwm for e in engines)
    for e in engines:
        print("memory_check: %s peak resident %.1f MiB (VmHWM), highest VmRSS seen %.1f MiB"
              % (e.name, e.peak_hwm / 1024.0, e.peak_rss / 1024.0))
    print("memory_check: %d games, %d engine moves in %.0f s; peak %.1f MiB, limit %s" % (
        args.games, moves, elapsed, worst / 1024.0,
        "%.0f MiB" % args.limit_mib if args.limit_mib else "none"), flush=True)
    if args.limit_mib and worst / 1024.0 >= args.limit_mib:
        print("memory_check: FAIL peak resident memory above the limit")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
