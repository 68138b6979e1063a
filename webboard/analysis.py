"""What an engine says about its thinking, and the strengths offered to people.

With `INFO show_detail 1` the engine prints one line per completed depth:

    MESSAGE depth 9-14 value +35 nodes 1204332 nps 1308k time 921 pv 7,8 8,9 6,7

The value is from the point of view of the side to move: evaluation units
(`+35`, `-120`, `0`) or a forced result (`+win 7`, `-loss 4`, in moves). The
line is read tolerantly: the keys may come in any order, `-S` after the
depth may be missing, and a token the board does not know is passed over, so
an engine that adds a field later still shows what it has.
"""

# The graph's range in evaluation units: a larger value, and every forced
# win or loss, is drawn at the edge.
GRAPH_CLIP = 2000
# Enough of the principal variation to read; the rest is not drawn.
MAX_PV = 16

# Named strengths for an engine side: a depth limit, a node limit (0: none)
# and the most time per move in ms (None: the game's time per move). A limit
# ends the think before the clock does, so these play the same way on a fast
# machine and a slow one. Kept in the order the page lists them.
LEVELS = {
    "beginner": {"max_depth": 2, "max_node": 3000, "ms": 300},
    "casual": {"max_depth": 4, "max_node": 30000, "ms": 1000},
    "club": {"max_depth": 8, "max_node": 400000, "ms": 3000},
    "full": {"max_depth": 0, "max_node": 0, "ms": None},
}
DEFAULT_LEVEL = "full"


def _int(text):
    """A whole number with an optional sign, else None."""
    body = text[1:] if text[:1] in "+-" else text
    return int(text) if body.isdigit() and len(body) <= 15 else None


def _move(text):
    parts = text.split(",")
    if len(parts) != 2 or not all(p.isdigit() and len(p) <= 3 for p in parts):
        return None
    return [int(parts[0]), int(parts[1])]


def _nps(text):
    """Nodes per second: a number, perhaps with k or M after it."""
    scale = {"k": 1000, "m": 1000000}.get(text[-1:].lower(), 1)
    number = _int(text[:-1] if scale > 1 else text)
    return None if number is None or number < 0 else number * scale


def parse_value(tokens, i):
    """The value starting at tokens[i]: (value, tokens used) or (None, 0).
    A value is {"kind": "eval", "score": n}, or {"kind": "win"|"loss", "in": n}
    for a forced result in n moves; "text" keeps what a person reads."""
    if i >= len(tokens):
        return None, 0
    token = tokens[i].lower()
    score = _int(token)
    if score is not None:
        return {"kind": "eval", "score": score, "text": "%+d" % score if score else "0"}, 1
    word = token.lstrip("+-")
    if word in ("win", "loss"):
        # A forced result wins or loses whatever the sign says; "-win" would
        # be a contradiction, so the word decides.
        moves = _int(tokens[i + 1]) if i + 1 < len(tokens) else None
        if moves is None or moves < 0:
            return None, 0
        text = ("+win %d" if word == "win" else "-loss %d") % moves
        return {"kind": word, "in": moves, "text": text}, 2
    return None, 0


def parse_detail(line):
    """The fields of a depth line, or None when the line is not one.

    Returns {"depth", "seldepth", "value", "nodes", "nps", "time", "pv"}, each
    None (pv: []) when the line leaves it out or garbles it."""
    tokens = line.split()
    if tokens[:1] == ["MESSAGE"]:
        tokens = tokens[1:]
    if not tokens or tokens[0].lower() != "depth":
        return None
    found = {"depth": None, "seldepth": None, "value": None, "nodes": None, "nps": None,
             "time": None, "pv": []}
    i = 0
    while i < len(tokens):
        key = tokens[i].lower()
        i += 1
        if i >= len(tokens):
            break
        if key == "depth":
            depth, _, sel = tokens[i].partition("-")
            found["depth"] = _int(depth)
            found["seldepth"] = _int(sel) if sel else None
            i += 1
        elif key == "value":
            value, used = parse_value(tokens, i)
            found["value"] = value
            i += used or 1
        elif key in ("nodes", "time"):
            number = _int(tokens[i])
            found[key] = number if number is not None and number >= 0 else None
            i += 1
        elif key == "nps":
            found["nps"] = _nps(tokens[i])
            i += 1
        elif key == "pv":
            pv = []
            while i < len(tokens) and _move(tokens[i]) is not None:
                pv.append(_move(tokens[i]))
                i += 1
            found["pv"] = pv[:MAX_PV]
    if found["depth"] is None:
        return None
    return found


def black_view(value, mover_is_black):
    """A value from the mover's point of view, as a number from black's point
    of view for the graph; forced results and large values are clipped."""
    if value is None:
        return None
    if value["kind"] == "eval":
        number = max(-GRAPH_CLIP, min(GRAPH_CLIP, value["score"]))
    else:
        number = GRAPH_CLIP if value["kind"] == "win" else -GRAPH_CLIP
    return number if mover_is_black else -number


def level_info(name):
    """The INFO lines of a level's limits."""
    level = LEVELS[name]
    return "INFO max_depth %d\nINFO max_node %d\n" % (level["max_depth"], level["max_node"])


def level_time(name, timeout_turn):
    """The time per move of an engine side at this level."""
    ms = LEVELS[name]["ms"]
    return timeout_turn if ms is None else min(ms, timeout_turn)
