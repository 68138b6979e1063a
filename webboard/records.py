"""Game records: SGF and the plain move list, written and read back.

The move list is one "x,y" per line in the brain's own coordinates, with
"#" comment lines; its header names the rule and the board the way the match
runner's game files do, so those load too. In SGF a point is two letters,
the column (y) first and the row (x) second, and a rectangular board is
SZ[width:height].
"""

import re

from referee import RULE_NAMES

MAX_SIDE = 24
MIN_SIDE = 5

SGF_RULE_NAMES = {"freestyle": "Freestyle", "standard": "Standard", "renju": "Renju"}
_HEADER = re.compile(r"#\s*rule\s+(\w+),\s*board\s+(\d+)x(\d+)")
_MOVE = re.compile(r"^\s*(\d{1,2})\s*,\s*(\d{1,2})\s*$")
_SGF_PROPERTY = re.compile(r"([A-Z]{1,2})((?:\s*\[[^\]]*\])+)")
_SGF_VALUE = re.compile(r"\[([^\]]*)\]")


class RecordError(ValueError):
    pass


def result_text(result):
    """"B+", "W+" or "0" for SGF's RE; "" while the game goes on."""
    if not result:
        return ""
    return {"black": "B+", "white": "W+"}.get(result["winner"], "0")


def to_move_list(rule, width, height, moves, result=None):
    lines = ["# rule %s, board %dx%d (x below %d, y below %d)" % (rule, width, height, height,
                                                                  width)]
    if result:
        lines.append("# result %s (%s)" % (result_text(result), result["reason"]))
    lines += ["%d,%d" % move for move in moves]
    return "\n".join(lines) + "\n"


def parse_move_list(text):
    """(rule or None, (width, height) or None, moves). Moves may be on lines of
    their own or separated by blanks or semicolons."""
    rule = size = None
    moves = []
    for number, line in enumerate(text.splitlines(), 1):
        comment = line.find("#")
        if comment >= 0:
            header = _HEADER.match(line[comment:])
            if header and header.group(1) in RULE_NAMES:
                rule = header.group(1)
                size = (int(header.group(2)), int(header.group(3)))
            line = line[:comment]
        for item in re.split(r"[\s;]+", line.strip()):
            if not item:
                continue
            move = _MOVE.match(item)
            if not move:
                raise RecordError("line %d: %r is not a move x,y" % (number, item[:20]))
            moves.append((int(move.group(1)), int(move.group(2))))
    return rule, size, moves


def to_sgf(rule, width, height, moves, result=None, names=("", ""), comments=None,
           game_comment="", application="Zorvan board"):
    """`comments`, when given, holds one text per move (empty for none), kept
    as the move's C property; `game_comment` goes into GC."""
    size = "%d" % width if width == height else "%d:%d" % (width, height)
    head = "FF[4]GM[4]CA[UTF-8]AP[%s]SZ[%s]RU[%s]" % (_sgf_escape(application), size,
                                                      SGF_RULE_NAMES[rule])
    if names[0]:
        head += "PB[%s]" % _sgf_escape(names[0])
    if names[1]:
        head += "PW[%s]" % _sgf_escape(names[1])
    if result:
        head += "RE[%s]" % result_text(result)
    if game_comment:
        head += "GC[%s]" % _sgf_escape(game_comment)
    nodes = ["%s[%s%s]" % ("B" if i % 2 == 0 else "W", chr(97 + y), chr(97 + x))
             for i, (x, y) in enumerate(moves)]
    if comments:
        nodes = [node + ("C[%s]" % _sgf_escape(text) if text else "")
                 for node, text in zip(nodes, list(comments) + [""] * len(nodes))]
    return "(;" + head + "".join(";" + node for node in nodes) + ")\n"


def _sgf_escape(text):
    return text.replace("\\", "\\\\").replace("]", "\\]")


def parse_sgf(text):
    """(rule or None, (width, height) or None, moves) of the main line. Only
    what a game record needs is read: SZ, RU and the B and W moves, which must
    alternate from black."""
    text = text.strip()
    if not text.startswith("(") or ";" not in text:
        raise RecordError("not an SGF game record")
    # Escaped brackets only occur in free text, which is not read.
    text = re.sub(r"\\.", "", text)
    rule = size = None
    moves = []
    for name, values in _SGF_PROPERTY.findall(text):
        value = _SGF_VALUE.findall(values)[0].strip()
        if name == "SZ":
            parts = value.split(":")
            if not all(p.isdigit() for p in parts) or len(parts) > 2:
                raise RecordError("SZ[%s] is not a board size" % value[:20])
            size = (int(parts[0]), int(parts[-1]))
        elif name == "RU":
            rule = value.lower() if value.lower() in RULE_NAMES else None
        elif name in ("B", "W"):
            expected = "B" if len(moves) % 2 == 0 else "W"
            if name != expected:
                raise RecordError("move %d is %s, expected %s" % (len(moves) + 1, name,
                                                                  expected))
            if len(value) != 2 or not value.isalpha() or not value.islower():
                raise RecordError("move %d: %s[%s] is not a point" % (len(moves) + 1, name,
                                                                      value[:20]))
            moves.append((ord(value[1]) - 97, ord(value[0]) - 97))
    return rule, size, moves


def parse_record(text):
    """An SGF record or a move list, told apart by SGF's opening parenthesis."""
    if text.lstrip().startswith("("):
        return parse_sgf(text)
    return parse_move_list(text)
