"""A scripted brain for the board's tests: plays the first free point in scan
order (or its --moves first), keeps its own record through every command the
board sends, and fails on purpose when asked.

  --misbehave crash|stall|error|illegal|late|garbage   on its --at'th move request
  --once FILE   fail only if FILE does not exist yet (it is then created), so the
                fresh brain started after the failure plays normally
  --start-ms N  sleeps this long before answering START
"""
import os
import sys
import time

args = sys.argv[1:]


def option(name, default=""):
    return args[args.index(name) + 1] if name in args else default


misbehave = option("--misbehave")
at = int(option("--at", "1"))
once = option("--once")
script = [tuple(map(int, m.split(","))) for m in option("--moves").split()]
width = height = 15
taken = []
requests = 0


def out(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


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
    m = script.pop(0) if script else next(
        (x, y) for x in range(height) for y in range(width) if (x, y) not in taken)
    taken.append(m)
    out("MESSAGE Speed=7")
    out("%d,%d" % m)


for line in sys.stdin:
    line = line.strip()
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
        for stone in sys.stdin:
            if stone.strip().upper() == "DONE":
                break
            x, y, _ = map(int, stone.split(","))
            taken.append((x, y))
        move()
    elif word == "END":
        sys.exit(0)
