"""The board page in a real browser: headless Chromium driven by Selenium,
against the board server running the real engine.

It starts a 15x15 Renju game, plays a move and waits for the engine's stone,
takes the pair back, loads a position and has a click on black's forbidden
point refused, and checks the forbidden marks of random positions against the
referee. With the engine's per-depth lines it watches a think show its depth,
value and line (as faint stones) and ends it with Move now, asks for a hint,
steps through the game with the keys and continues from an earlier move. It
watches an engine-against-engine game at 100 ms per move to its result and
checks its evaluation graph, then saves a screenshot of a game in progress
(analysis, line and graph) and fails if the page logged any error. Every wait
is bounded.

The steps with the analysis need an engine that prints per-depth lines and
knows YXSTOP (INFO show_detail, YXSTOP, YXSHOWFORBID).

usage: /usr/bin/python3 tests/web/test_browser.py [--engine build/pbrain-zorvan]
                                                  [--screenshot build/webboard-e2e.png]
(Debian's python3 with python3-selenium, chromium and chromium-driver.)
"""

import argparse
import os
import random
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time
import traceback

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException, TimeoutException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools"))

from referee import BLACK, EMPTY, WHITE, Board, forbidden_points, foul, wins  # noqa: E402
CHROMEDRIVER = "/usr/bin/chromedriver"
CHROMIUM = "/usr/bin/chromium"
SHORT_S = 15
GAME_S = 180
WATCHDOG_S = 480
DOUBLE_THREE = "7,5\n0,0\n7,6\n0,2\n5,7\n0,4\n6,7\n0,6\n"

# Errors thrown on the page or rejected promises, kept from the first script on.
CATCH_ERRORS = """
window.__errors = [];
window.addEventListener('error', e => window.__errors.push(String(e.message)));
window.addEventListener('unhandledrejection', e => window.__errors.push('rejection: ' + e.reason));
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_server(engine, port):
    server = subprocess.Popen([sys.executable, os.path.join(ROOT, "webboard", "server.py"),
                               "--engine", engine, "--port", str(port),
                               # A loaded machine must not turn a slow move into a failure here.
                               "--tolerance", "1500"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    line = []
    reader = threading.Thread(target=lambda: line.append(server.stdout.readline()), daemon=True)
    reader.start()
    reader.join(SHORT_S)
    if not line or "http://127.0.0.1:%d/" % port not in line[0]:
        server.kill()
        raise RuntimeError("the board server did not start: %r" % (line or "no output"))
    threading.Thread(target=server.stdout.read, daemon=True).start()
    return server


def start_browser(profile):
    options = webdriver.ChromeOptions()
    if os.path.exists(CHROMIUM):
        options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=1200,1000",
                 "--user-data-dir=" + profile):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.set_page_load_timeout(SHORT_S)
    driver.set_script_timeout(SHORT_S)
    driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": CATCH_ERRORS})
    return driver


class Page:
    def __init__(self, driver, url):
        self.driver = driver
        self.url = url

    def wait(self, what, predicate, seconds=SHORT_S):
        try:
            return WebDriverWait(self.driver, seconds, poll_frequency=0.1).until(
                lambda d: predicate())
        except TimeoutException:
            raise AssertionError("waited %d s for %s; status: %r, notice: %r" % (
                seconds, what, self.text("status"), self.text("notice")))

    def by_id(self, name):
        return self.driver.find_element(By.ID, name)

    def text(self, name):
        return self.by_id(name).text

    def stones(self):
        """(x, y, colour) of every stone drawn, in move order (read in one go:
        the board may be redrawn at any time)."""
        return [tuple(s) for s in self.driver.execute_script(
            "return Array.from(document.querySelectorAll('circle.stone'), s => "
            "[Number(s.dataset.x), Number(s.dataset.y), "
            "s.classList.contains('black') ? 'black' : 'white']);")]

    def click_point(self, x, y):
        selector = 'rect.hit[data-x="%d"][data-y="%d"]' % (x, y)
        for attempt in range(3):
            try:
                self.driver.find_element(By.CSS_SELECTOR, selector).click()
                return
            except StaleElementReferenceException:
                if attempt == 2:
                    raise

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def marks(self, selector):
        """(x, y) of the board's marks matching the selector, read in one go."""
        return [tuple(m) for m in self.js(
            "return Array.from(document.querySelectorAll(arguments[0]), m => "
            "[Number(m.dataset.x), Number(m.dataset.y)]);", selector)]

    def move_rows(self):
        """(number, value text) of each row of the move list."""
        return [tuple(r) for r in self.js(
            "return Array.from(document.querySelectorAll('#moves li'), r => "
            "[Number(r.dataset.move), r.querySelector('.mv-value').textContent]);")]

    def key(self, name):
        self.driver.find_element(By.TAG_NAME, "body").send_keys(name)

    def choose(self, name, value):
        self.driver.execute_script(
            "document.getElementById(arguments[0]).value = arguments[1];", name, str(value))

    def new_game(self, black="human", white="engine", timeout_turn=300, record=None):
        old = self.driver.execute_script("return gameId;")
        self.choose("rule", "renju")
        self.choose("width", 15)
        self.choose("height", 15)
        self.choose("black", black)
        self.choose("white", white)
        self.choose("timeout-turn", timeout_turn)
        self.choose("time-left", 0)
        if record is None:
            self.by_id("new-game").click()
        else:
            self.by_id("record").clear()
            self.by_id("record").send_keys(record)
            self.by_id("load").click()
        self.wait("the new game", lambda: self.driver.execute_script(
            "return current !== null && gameId !== arguments[0];", old))


def test_a_move_and_the_engines_answer(page):
    page.new_game()
    page.wait("black's turn", lambda: "your turn" in page.text("status"))
    page.click_point(7, 7)
    page.wait("the engine's stone", lambda: len(page.stones()) == 2)
    stones = page.stones()
    assert stones[0] == (7, 7, "black"), stones
    assert stones[1][2] == "white" and stones[1][:2] != (7, 7), stones
    page.wait("the person's turn again", lambda: "your turn" in page.text("status"))
    assert re.search(r"white \(engine\) played [A-O]\d+ \(\d+,\d+\) in \d+ ms",
                     page.text("log")), page.text("log")
    assert "MESSAGE" in page.text("log")
    assert page.driver.find_elements(By.ID, "last-move"), "the last move is not marked"


def test_undo_takes_back_the_pair(page):
    assert len(page.stones()) == 2, page.stones()
    page.by_id("undo").click()
    page.wait("an empty board", lambda: page.stones() == [])
    page.wait("black's turn", lambda: "your turn" in page.text("status"))


def test_a_forbidden_point_is_marked_and_refused(page):
    page.by_id("record").clear()
    page.by_id("record").send_keys(DOUBLE_THREE)
    page.by_id("load").click()
    page.wait("the loaded position", lambda: len(page.stones()) == 8)
    marks = page.driver.find_elements(By.CSS_SELECTOR, "g.forbidden")
    assert [(m.get_attribute("data-x"), m.get_attribute("data-y")) for m in marks] == \
        [("7", "7")], "forbidden marks: %r" % marks
    page.click_point(7, 7)
    page.wait("the refusal", lambda: "double three" in page.text("notice"))
    assert "forbidden for black" in page.text("notice"), page.text("notice")
    time.sleep(0.5)
    assert len(page.stones()) == 8, page.stones()
    # A legal move is still taken, and the engine answers it.
    page.click_point(9, 9)
    page.wait("the engine's answer", lambda: len(page.stones()) == 10)


def random_renju_position(rng, pairs):
    """Moves of a legal Renju game in the middle of the board, black to move:
    no five, and no black move on a point forbidden at the time."""
    board = Board(15, 15)
    moves = []
    for i in range(2 * pairs):
        colour = BLACK if i % 2 == 0 else WHITE
        points = [(x, y) for x in range(4, 11) for y in range(4, 11) if board.at(x, y) == EMPTY]
        rng.shuffle(points)
        for x, y in points:
            if colour == BLACK and foul(board, x, y):
                continue
            board.put(x, y, colour)
            if not wins(board, x, y, colour, "renju"):
                moves.append((x, y))
                break
            board.put(x, y, EMPTY)
    return moves, board


def test_the_forbidden_marks_agree_with_the_referee(page):
    rng = random.Random(22)
    with_marks = without = 0
    for _ in range(200):
        if with_marks >= 4 and without >= 1:
            break
        moves, board = random_renju_position(rng, rng.randint(8, 14))
        expected = forbidden_points(board)
        if (with_marks if expected else without) >= (4 if expected else 1):
            continue
        page.new_game(record="".join("%d,%d\n" % m for m in moves))
        page.wait("the loaded position", lambda: len(page.stones()) == len(moves))
        shown = page.js("return Array.from(document.querySelectorAll('g.forbidden'), m => "
                        "[Number(m.dataset.x), Number(m.dataset.y), "
                        "m.querySelector('title').textContent]);")
        assert sorted(tuple(m) for m in shown) == \
            sorted((x, y, "forbidden for black: " + r) for x, y, r in expected), (moves, shown)
        if expected:
            with_marks += 1
        else:
            without += 1
    assert (with_marks, without) == (4, 1), (with_marks, without)


def wait_for_a_line(page):
    """Waits until the think shows a depth and its line as faint stones;
    returns the line's points."""
    page.wait("a depth in the analysis panel",
              lambda: re.match(r"depth \d+", page.text("analysis-depth")))
    page.wait("the line on the board", lambda: page.marks("g.pv"))
    return page.marks("g.pv")


def move_now(page, stones):
    page.wait("Move now", lambda: page.by_id("move-now").is_enabled())
    page.by_id("move-now").click()
    page.wait("the engine's move", lambda: len(page.stones()) == stones)


def test_a_think_shows_depth_value_and_line(page):
    page.new_game(timeout_turn=10000)
    page.wait("black's turn", lambda: "your turn" in page.text("status"))
    page.click_point(7, 7)
    line = wait_for_a_line(page)
    assert "is thinking" in page.text("analysis-head"), page.text("analysis-head")
    assert re.match(r"value ([+-]\d+|0|\+win \d+|-loss \d+)$", page.text("analysis-value")), \
        page.text("analysis-value")
    assert (7, 7) not in line and len(set(line)) == len(line), line
    assert page.text("analysis-pv").startswith("line: "), page.text("analysis-pv")
    # Move now: the engine answers at once instead of thinking for seconds.
    move_now(page, 2)
    page.wait("the line cleared", lambda: page.marks("g.pv") == [])
    log = page.text("log")
    assert "white < YXSTOP" in log, log
    ms = int(re.search(r"white \(engine\) played \S+ \(\d+,\d+\) in (\d+) ms", log).group(1))
    assert ms < 10000 / 3, "Move now answered after %d ms" % ms
    page.wait("the value in the move list", lambda: page.move_rows()[1][1] != "")
    rows = page.move_rows()
    assert rows[0] == (1, "") and re.match(r"[+-]?\d+$|\+win \d+$|-loss \d+$", rows[1][1]), rows


def test_the_hint_marks_a_point_without_playing_it(page):
    before = page.stones()
    page.by_id("hint").click()
    page.wait("the hint's mark", lambda: page.marks("#hint-mark"), 20)
    (x, y), = page.marks("#hint-mark")
    assert (x, y) not in [s[:2] for s in before], (x, y, before)
    assert page.stones() == before, page.stones()
    assert "your turn" in page.text("status"), page.text("status")
    assert page.text("analysis-head").startswith("Hint for black:"), page.text("analysis-head")
    # Played, the hint's point is a stone and the mark is gone.
    page.click_point(x, y)
    page.wait("the person's stone", lambda: len(page.stones()) == 3)
    assert page.stones()[2] == (x, y, "black"), page.stones()
    assert page.marks("#hint-mark") == []
    wait_for_a_line(page)
    move_now(page, 4)


def test_review_steps_with_the_keys_and_continues(page):
    page.wait("the person's turn", lambda: "your turn" in page.text("status"))
    game = page.stones()
    assert len(game) == 4, game
    shown = []
    for key, count in ((Keys.ARROW_LEFT, 3), (Keys.ARROW_LEFT, 2), (Keys.HOME, 0),
                       (Keys.ARROW_RIGHT, 1), (Keys.ARROW_RIGHT, 2), (Keys.END, 4),
                       (Keys.ARROW_RIGHT, 4), (Keys.ARROW_LEFT, 3)):
        page.key(key)
        page.wait("%d stones shown" % count, lambda: len(page.stones()) == count)
        assert page.stones() == game[:count], (page.stones(), game)
        shown.append(page.text("review-text"))
    assert shown[0] == "reviewing move 3 of 4" and shown[5] == "4 moves", shown
    # A click while reviewing plays nothing.
    page.click_point(1, 1)
    page.wait("the reminder", lambda: "looking at move 3" in page.text("notice"))
    assert len(page.stones()) == 3
    page.key(Keys.ARROW_LEFT)
    page.wait("move 2", lambda: len(page.stones()) == 2)
    page.by_id("continue-here").click()
    page.wait("the confirmation", lambda: page.by_id("continue-confirm").is_displayed())
    assert "2 later moves are dropped" in page.text("continue-question")
    page.by_id("continue-yes").click()
    page.wait("the game from move 2", lambda: page.text("review-text") == "2 moves")
    assert page.stones() == game[:2] and len(page.move_rows()) == 2
    page.wait("black's turn", lambda: "your turn" in page.text("status"))
    assert "continued from move 2" in page.text("log")


def test_engines_play_a_game_to_its_result(page):
    page.new_game(black="engine", white="engine", timeout_turn=100)
    page.wait("the game's result", lambda: page.by_id("result").is_displayed(), GAME_S)
    result = page.text("result")
    assert re.match(r"(Black wins|White wins|Draw)", result), result
    assert page.by_id("failure").is_displayed() is False, page.text("failure")
    if "wins" in result:
        assert page.driver.find_elements(By.ID, "win-line"), "no winning line drawn"
    print("     %s after %d moves" % (result, len(page.stones())))


def test_the_graph_has_a_point_per_engine_move(page):
    rows = page.move_rows()
    points = page.js("return Array.from(document.querySelectorAll('#graph .graph-point'), p => "
                     "[Number(p.dataset.move), Number(p.dataset.value)]);")
    valued = [(n, text) for n, text in rows if text]
    # An engine that moves without a search (its first move, a forced
    # answer) prints no depth line, so such a move has no value to draw.
    assert len(valued) >= len(rows) // 2, \
        "%d of %d moves came with a value (no depth lines?)" % (len(valued), len(rows))
    assert [n for n, _ in points] == [n for n, _ in valued], (points, valued)
    for (n, number), (_, text) in zip(points, valued):
        black = 1 if n % 2 else -1
        if "win" in text or "loss" in text:
            expected = black * (2000 if "win" in text else -2000)
        else:
            expected = black * max(-2000, min(2000, int(text)))
        assert number == expected, (n, text, number)


def test_a_screenshot_of_a_game_in_progress(page, screenshot):
    page.driver.set_window_size(1200, 1160)
    os.makedirs(os.path.dirname(os.path.abspath(screenshot)), exist_ok=True)
    over = lambda: page.by_id("result").is_displayed()  # noqa: E731
    # A game may end before a dozen moves: then another one.
    for _ in range(3):
        page.new_game(black="engine", white="engine", timeout_turn=800)
        page.wait("a dozen moves", lambda: len(page.move_rows()) >= 12 or over(), GAME_S)
        for _ in range(20):
            page.wait("a line on the board", lambda: page.marks("g.pv") or over())
            if over():
                break
            line, moves = page.marks("g.pv"), len(page.stones())
            page.driver.execute_script("window.scrollTo(0, 0);")
            page.driver.save_screenshot(screenshot)
            # The picture is good if the line was still on the board after it.
            if page.marks("g.pv") == line and len(page.stones()) == moves:
                points = len(page.driver.find_elements(By.CSS_SELECTOR, "#graph .graph-point"))
                assert points > 0
                print("     screenshot %s: %d moves, a line of %d, %d graph points" % (
                    screenshot, moves, len(line), points))
                return
    raise AssertionError("no think stayed on the board long enough for its picture")


def test_no_errors_were_logged(page):
    errors = page.driver.execute_script("return window.__errors;")
    assert errors == [], errors
    severe = [e for e in page.driver.get_log("browser") if e["level"] == "SEVERE"]
    assert severe == [], severe


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--engine", default=os.path.join(ROOT, "build", "pbrain-zorvan"))
    parser.add_argument("--screenshot", default=os.path.join(ROOT, "build", "webboard-e2e.png"))
    args = parser.parse_args()

    # Whatever hangs, the run ends: the watchdog kills everything it started.
    started = []

    def watchdog():
        print("FAIL: the browser test ran past %d s" % WATCHDOG_S, flush=True)
        for proc in started:
            proc.kill()
        os._exit(1)

    timer = threading.Timer(WATCHDOG_S, watchdog)
    timer.daemon = True
    timer.start()

    passed = failed = 0
    profile = tempfile.TemporaryDirectory()
    server = driver = None
    try:
        port = free_port()
        server = start_server(os.path.abspath(args.engine), port)
        started.append(server)
        driver = start_browser(profile.name)
        page = Page(driver, "http://127.0.0.1:%d/" % port)
        driver.get(page.url)
        page.wait("the page's first game", lambda: driver.execute_script(
            "return typeof current !== 'undefined' && current !== null;"))
    except Exception as e:
        failed += 1
        print("FAIL starting the server and the browser: %s" % e, flush=True)
        traceback.print_exc()
        page = None
    try:
        steps = [
            ("a move and the engine's answer", test_a_move_and_the_engines_answer),
            ("undo takes back the pair", test_undo_takes_back_the_pair),
            ("a forbidden point is marked and refused",
             test_a_forbidden_point_is_marked_and_refused),
            ("the forbidden marks agree with the referee",
             test_the_forbidden_marks_agree_with_the_referee),
            ("a think shows its depth, value and line", test_a_think_shows_depth_value_and_line),
            ("the hint marks a point without playing it",
             test_the_hint_marks_a_point_without_playing_it),
            ("review steps with the keys and continues",
             test_review_steps_with_the_keys_and_continues),
            ("engines play a game to its result", test_engines_play_a_game_to_its_result),
            ("the graph has a point per engine move", test_the_graph_has_a_point_per_engine_move),
            ("a screenshot of a game in progress",
             lambda p: test_a_screenshot_of_a_game_in_progress(p, args.screenshot)),
            ("no errors were logged", test_no_errors_were_logged),
        ]
        for name, step in steps if page else []:
            try:
                step(page)
                passed += 1
                print("ok   %s" % name, flush=True)
            except Exception as e:  # one step's failure is reported, the rest still run
                failed += 1
                print("FAIL %s: %s" % (name, e), flush=True)
                if not isinstance(e, AssertionError):
                    traceback.print_exc()
    finally:
        if driver:
            driver.quit()
        if server:
            server.terminate()
            try:
                server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                server.kill()
        profile.cleanup()
        timer.cancel()
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
