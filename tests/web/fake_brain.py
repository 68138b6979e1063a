"""A scripted brain for the board's tests: plays the first free point in scan
order (or its --moves first), keeps its own record through every command the
board sends, and fails on purpose when asked.

  --misbehave crash|stall|error|illegal|late|garbage   on its --at'th move request
  --once FILE   fail only if FILE does not exist yet (it is then created), so the
                fresh brain started after the failure plays normally
  --start-ms N  sleeps this long before answering START
  --think-ms N  thinks this long per move (a depth line every N/4 ms with
                show_detail on); YXSTOP ends the think at once
  --values V    the value of each move request in turn, comma-separated
                ("+35,-120,+win 3,-loss 2,0"); the default is +7 times the request
  --no-yx       knows none of the YX commands (UNKNOWN), like an older brain

With INFO show_detail 1 it prints depth lines in the engine's format before
each move, its principal variation starting with the move it plays. It echoes
the INFO keys a level sets (show_detail, max_depth, max_node, timeout_turn) as
MESSAGE lines, so a test sees what reached the brain.
"""
import collections
import os
import select
import sys
import time

args = sys.argv[1:]


def option(name, default=""):
    return args[args.index(name) + 1] if name in args else default


misbehave = option("--misbehave")
at = int(option("--at", "1"))
once = option("--once")
script = [tuple(map(int, m.split(","))) for m in option("--moves").split()]
think_ms = int(option("--think-ms", "0"))
values = [v.strip() for v in option("--values").split(",") if v.strip()]
knows_yx = "--no-yx" not in args
width = height = 15
taken = []
requests = 0
detail = False

# Input is read straight from the descriptor, so a think can wait for YXSTOP
# with select; lines that arrive during a think and are not YXSTOP wait here.
pending = collections.deque()
buffered = b""


def read_line(deadline=None):
    """The next input line; None at the deadline; "" at the end of input.
    A think reads with a deadline and sees only new lines."""
    global buffered
    if pending and deadline is None:
        return pending.popleft()
    while b"\n" not in buffered:
        if deadline is not None:
            ready, _, _ = select.select([0], [], [], max(0.0, deadline - time.monotonic()))
            if not ready:
                return None
        chunk = os.read(0, 4096)
        if not chunk:
            rest, buffered = buffered, b""
            return rest.decode().strip() or ""
        buffered += chunk
    line, buffered = buffered.split(b"\n", 1)
    return line.decode().strip() or " "


def out(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def free_points():
    return [(x, y) for x in range(height) for y in range(width) if (x, y) not in taken]


def depth_line(depth, move):
    value = values[requests - 1] if requests <= len(values) else "+%d" % (7 * requests)
    pv = [move] + [p for p in free_points() if p != move][:2]
    out("MESSAGE depth %d-%d value %s nodes %d nps %dk time %d pv %s" % (
        depth, depth + 3, value, 1000 * depth, 50 + depth, 10 * depth,
        " ".join("%d,%d" % p for p in pv)))


def think(move):
    """Depth lines for the move about to be played; with --think-ms the think
    takes that long unless YXSTOP comes first."""
    if not think_ms:
        if detail:
            for depth in (1, 2):
                depth_line(depth, move)
        return
    start = time.monotonic()
    for depth in range(1, 5):
        deadline = start + think_ms * depth / 4000.0
        while True:
            line = read_line(deadline)
            if line is None:
                break
            if line == "":  # input closed: the think runs its course
                time.sleep(max(0.0, deadline - time.monotonic()))
                break
            if line.upper().startswith("YXSTOP") and knows_yx:
                return
            pending.append(line)
        if detail:
            depth_line(depth, move)


def move():
    global requests, misbehave
    requests += 1
    if misbehave and requests == at and once:
        if os.path.exists(once):
            misbehave = ""
        else:
            open(once, "w").close()
    if requests == at and misbehave:
        out("MESSAGE about to %s" % misbehave)
        sys.stderr.write("fake brain: %s on request %d\n" % (misbehave, requests))
        sys.stderr.flush()
        if misbehave == "crash":
            sys.exit(3)
        if misbehave == "stall":
            time.sleep(3600)
        if misbehave == "error":
            out("ERROR something went wrong")
            return
        if misbehave == "garbage":
            out("hello")
            return
        if misbehave == "illegal":
            out("%d,%d" % taken[-1] if taken else "99,99")
            return
        if misbehave == "late":
            time.sleep(1.5)
    while script and script[0] in taken:
        script.pop(0)
    m = script.pop(0) if script else free_points()[0]
    think(m)
    taken.append(m)
    out("MESSAGE Speed=7")
    out("%d,%d" % m)


def read_stones():
    for stone in iter(read_line, ""):
        if stone.upper() == "DONE":
            break
        x, y, _ = map(int, stone.split(","))
        taken.append((x, y))


for line in iter(read_line, ""):
    word = line.split(" ")[0].upper()
    if word == "START":
        if option("--start-ms"):
            time.sleep(int(option("--start-ms")) / 1000.0)
        width = height = int(line.split()[1])
        taken = []
        out("MESSAGE fake brain")
        out("OK")
    elif word == "RECTSTART":
        width, height = map(int, line.split()[1].split(","))
        taken = []
        out("OK")
    elif word == "RESTART":
        taken = []
        out("OK")
    elif word == "BEGIN":
        move()
    elif word == "TURN":
        taken.append(tuple(map(int, line.split()[1].split(","))))
        move()
    elif word == "TAKEBACK":
        point = tuple(map(int, line.split()[1].split(",")))
        if taken and taken[-1] == point:
            taken.pop()
            out("OK")
        else:
            out("ERROR bad coordinates")
    elif word == "BOARD":
        read_stones()
        move()
    elif word == "INFO":
        key, _, value = line[5:].partition(" ")
        if key.lower() == "show_detail":
            detail = value.strip() == "1"
        if key.lower() in ("show_detail", "max_depth", "max_node", "timeout_turn"):
            out("MESSAGE fake: %s %s" % (key.lower(), value.strip()))
    elif word.startswith("YX") and knows_yx:
        if word == "YXBOARD":
            taken = []
            read_stones()
        elif word == "YXSHOWFORBID":
            out("FORBID .")
        # YXSTOP with no think running: nothing to stop, nothing to say.
    elif word == "END":
        sys.exit(0)
    else:
        out("UNKNOWN command")
