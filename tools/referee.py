"""The referee: a board and the rules, judged independently of any brain.

Fives and overlines by rule, and Renju's forbidden moves for black (overline,
double four, double three with the real-three test) are worked out here from
the stones alone, so the match runner, the board server and the tests can
check what a brain plays without trusting it.

Coordinates follow the brains' own convention: a point is (x, y) with x below
the board height (the second number of RECTSTART w,h) and y below the width.
"""

EMPTY, BLACK, WHITE, WALL = 0, 1, 2, 3
DIRECTIONS = ((0, 1), (1, 0), (1, -1), (1, 1))
RULE_NAMES = ("freestyle", "standard", "renju")
# Rule numbers sent with INFO rule, as managers send them.
RULES = {"freestyle": 0, "standard": 1, "renju": 4}

OVERLINE, DOUBLE_FOUR, DOUBLE_THREE = "overline", "double four", "double three"


class Board:
    def __init__(self, height, width):
        self.height = height
        self.width = width
        self.cells = [[EMPTY] * width for _ in range(height)]

    def on_board(self, x, y):
        return 0 <= x < self.height and 0 <= y < self.width

    def at(self, x, y):
        return self.cells[x][y] if self.on_board(x, y) else WALL

    def put(self, x, y, colour):
        self.cells[x][y] = colour

    def run_length(self, x, y, dx, dy, colour):
        """Length of the unbroken run of `colour` through (x, y), which holds it."""
        n = 1
        for sign in (1, -1):
            k = 1
            while self.at(x + sign * k * dx, y + sign * k * dy) == colour:
                n += 1
                k += 1
        return n

    def full(self):
        return all(c != EMPTY for row in self.cells for c in row)


def colour_of(move_index):
    """The colour of the move with this zero-based index: black moves first."""
    return BLACK if move_index % 2 == 0 else WHITE


def wins(board, x, y, colour, rule):
    """True when the stone of `colour` just placed at (x, y) completes a winning line."""
    runs = [board.run_length(x, y, dx, dy, colour) for dx, dy in DIRECTIONS]
    if rule == "freestyle" or (rule == "renju" and colour == WHITE):
        return max(runs) >= 5
    return 5 in runs


def winning_line(board, x, y, colour, rule):
    """The points of the line that the stone at (x, y) wins with, in order along
    the line; [] when it does not win."""
    for dx, dy in DIRECTIONS:
        n = board.run_length(x, y, dx, dy, colour)
        if n == 5 or (n > 5 and (rule == "freestyle" or (rule == "renju" and colour == WHITE))):
            k = 0
            while board.at(x - (k + 1) * dx, y - (k + 1) * dy) == colour:
                k += 1
            return [(x + (i - k) * dx, y + (i - k) * dy) for i in range(n)]
    return []


def _four_count(board, x, y, dx, dy):
    """Fours made by black's stone at (x, y) along one line.

    A four is four black stones of a five-cell window with one empty cell, the
    window holding (x, y), whose completion makes exactly five. The two windows
    of a straight four hold the same stones and count once; a line like
    X.XXX.X played in the middle holds two different fours.
    """
    stone_sets = set()
    for start in range(-4, 1):
        cells = [(x + (start + i) * dx, y + (start + i) * dy) for i in range(5)]
        values = [board.at(cx, cy) for cx, cy in cells]
        if values.count(BLACK) != 4 or values.count(EMPTY) != 1:
            continue
        before = board.at(x + (start - 1) * dx, y + (start - 1) * dy)
        after = board.at(x + (start + 5) * dx, y + (start + 5) * dy)
        if before == BLACK or after == BLACK:
            continue  # completing it would make an overline
        stone_sets.add(frozenset(c for c, v in zip(cells, values) if v == BLACK))
    return len(stone_sets)


def _straight_four_through(board, x, y, dx, dy):
    """True when the black run through (x, y) is a straight four: four stones,
    both ends empty, and each end completing exactly five."""
    if board.run_length(x, y, dx, dy, BLACK) != 4:
        return False
    ends = []
    for sign in (1, -1):
        k = 1
        while board.at(x + sign * k * dx, y + sign * k * dy) == BLACK:
            k += 1
        ends.append((sign, k))
    for sign, k in ends:
        if board.at(x + sign * k * dx, y + sign * k * dy) != EMPTY:
            return False
        if board.at(x + sign * (k + 1) * dx, y + sign * (k + 1) * dy) == BLACK:
            return False
    return True


def _makes_real_three(board, x, y, dx, dy):
    """True when black's stone at (x, y) makes a three along the line: some
    empty point of the line, itself not forbidden, turns it into a straight
    four holding (x, y)."""
    for k in range(-4, 5):
        if k == 0:
            continue
        qx, qy = x + k * dx, y + k * dy
        if board.at(qx, qy) != EMPTY:
            continue
        board.put(qx, qy, BLACK)
        straight = _straight_four_through(board, x, y, dx, dy) and \
            board.run_length(qx, qy, dx, dy, BLACK) == 4 and \
            _same_run(board, x, y, qx, qy, dx, dy)
        board.put(qx, qy, EMPTY)
        if straight and not is_forbidden(board, qx, qy):
            return True
    return False


def _same_run(board, x, y, qx, qy, dx, dy):
    """True when (qx, qy) lies in the unbroken black run through (x, y)."""
    for sign in (1, -1):
        k = 1
        while board.at(x + sign * k * dx, y + sign * k * dy) == BLACK:
            if (x + sign * k * dx, y + sign * k * dy) == (qx, qy):
                return True
            k += 1
    return False


def foul(board, x, y):
    """Renju: why black may not play the empty point (x, y), or None.

    An exact five always wins. Otherwise an overline, two or more fours, or
    two or more real threes (in different lines, a line holding a four not
    counting as a three) are forbidden.
    """
    board.put(x, y, BLACK)
    try:
        runs = [board.run_length(x, y, dx, dy, BLACK) for dx, dy in DIRECTIONS]
        if 5 in runs:
            return None
        if max(runs) >= 6:
            return OVERLINE
        fours = [_four_count(board, x, y, dx, dy) for dx, dy in DIRECTIONS]
        if sum(fours) >= 2:
            return DOUBLE_FOUR
        threes = 0
        for (dx, dy), f in zip(DIRECTIONS, fours):
            if f == 0 and _makes_real_three(board, x, y, dx, dy):
                threes += 1
        return DOUBLE_THREE if threes >= 2 else None
    finally:
        board.put(x, y, EMPTY)


def is_forbidden(board, x, y):
    """Renju: True when black may not play the empty point (x, y)."""
    return foul(board, x, y) is not None


def _may_be_forbidden(board, x, y):
    """Cheap pre-test: a foul at (x, y) needs black stones in two lines near
    it (double three or four), or four of them in one line (overline, or the
    two fours of X.XXX.X). Points failing it need no full test."""
    lines_with_two = 0
    for dx, dy in DIRECTIONS:
        n = 0
        for k in range(-5, 6):
            if k and board.at(x + k * dx, y + k * dy) == BLACK:
                n += 1
        if n >= 4:
            return True
        if n >= 2:
            lines_with_two += 1
    return lines_with_two >= 2


def black_has_five_point(board):
    """True when some empty point would give black an exact five in Renju: an
    unanswered black four is on the board."""
    for x in range(board.height):
        for y in range(board.width):
            if board.cells[x][y] == EMPTY:
                board.put(x, y, BLACK)
                five = wins(board, x, y, BLACK, "renju")
                board.put(x, y, EMPTY)
                if five:
                    return True
    return False


def black_is_shut_out(board, rule):
    """Renju: True when empty points remain but every one is forbidden to
    black. Black cannot move and has nothing to pass with, so a referee ends
    the game there as a draw, as on a full board."""
    if rule != "renju":
        return False
    empty_seen = False
    for x in range(board.height):
        for y in range(board.width):
            if board.cells[x][y] == EMPTY:
                if not is_forbidden(board, x, y):
                    return False
                empty_seen = True
    return empty_seen


def forbidden_points(board):
    """Renju: every empty point black may not play, as (x, y, reason)."""
    found = []
    for x in range(board.height):
        for y in range(board.width):
            if board.cells[x][y] == EMPTY and _may_be_forbidden(board, x, y):
                reason = foul(board, x, y)
                if reason:
                    found.append((x, y, reason))
    return found


def parse_move(text):
    """(x, y) from "x,y", None when the text is not two integers."""
    parts = text.split(",")
    if len(parts) != 2:
        return None
    try:
        return int(parts[0]), int(parts[1])
    except ValueError:
        return None


def parse_rule_number(value):
    """A rule number read as managers send it: bit 4 (or 2) Renju, else odd
    standard, even freestyle."""
    if value & 4 or value == 2:
        return "renju"
    return "standard" if value & 1 else "freestyle"
