"""The board page in a real browser: headless Chromium driven by Selenium,
against the board server running the real engine.

It starts a 15x15 Renju game, plays a move and waits for the engine's stone,
takes the pair back, loads a position and has a click on black's forbidden
point refused, then watches an engine-against-engine game at 100 ms per move
to its result. It saves a screenshot of the final board and fails if the page
logged any error. Every wait is bounded.

usage: /usr/bin/python3 tests/web/test_browser.py [--engine build/pbrain-zorvan]
                                                  [--screenshot build/webboard-e2e.png]
(Debian's python3 with python3-selenium, chromium and chromium-driver.)
"""

import argparse
import os
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
from selenium.webdriver.support.ui import WebDriverWait

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
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

    def choose(self, name, value):
        self.driver.execute_script(
            "document.getElementById(arguments[0]).value = arguments[1];", name, str(value))

    def new_game(self, black="human", white="engine", timeout_turn=300):
        old = self.driver.execute_script("return gameId;")
        self.choose("rule", "renju")
        self.choose("width", 15)
        self.choose("height", 15)
        self.choose("black", black)
        self.choose("white", white)
        self.choose("timeout-turn", timeout_turn)
        self.choose("time-left", 0)
        self.by_id("new-game").click()
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


def test_engines_play_a_game_to_its_result(page, screenshot):
    page.new_game(black="engine", white="engine", timeout_turn=100)
    page.wait("the game's result", lambda: page.by_id("result").is_displayed(), GAME_S)
    result = page.text("result")
    assert re.match(r"(Black wins|White wins|Draw)", result), result
    assert page.by_id("failure").is_displayed() is False, page.text("failure")
    if "wins" in result:
        assert page.driver.find_elements(By.ID, "win-line"), "no winning line drawn"
    # Move numbers for the record picture.
    page.by_id("numbers").click()
    page.driver.execute_script("window.scrollTo(0, 0);")
    time.sleep(0.3)
    os.makedirs(os.path.dirname(os.path.abspath(screenshot)), exist_ok=True)
    page.driver.save_screenshot(screenshot)
    print("     %s after %d moves; screenshot %s" % (result, len(page.stones()), screenshot))


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
            ("engines play a game to its result",
             lambda p: test_engines_play_a_game_to_its_result(p, args.screenshot)),
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
