#!/usr/bin/env python3
"""The canvas page in a real browser: headless Chromium, driven through
chromedriver by Selenium, against a real welkmora-host serving --web.

Each class runs its own host; each case starts from a fresh page.
 - Canvas: a demo agent "Alice", a shell "Bob", a joined shell "Lead" and a
   note "plan": what a person does on the page, and a screenshot of four
   terminals with an ask in flight (build/canvas-4.png, and one close up,
   build/canvas-ask.png).
 - Restart: the host stops and starts again under an open page; a terminal
   comes back held, with its resume button (build/canvas-held.png).
 - Team: twelve terminals and two notes in a 1920x1080 window, as a team
   works: everything in view, who awaits the person, ropes, search; and
   its screenshot (build/canvas-12.png).
 - Crowd: thirty terminals, all in view (build/canvas-30.png).

Usage: canvas_test.py BUILD_DIR. Exits 77 (skipped) when Chromium,
chromedriver or Selenium are not installed."""

import base64
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.actions.wheel_input import ScrollOrigin
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("selenium is not installed: skipped")
    sys.exit(77)

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    print("chromium or chromedriver is not installed: skipped")
    sys.exit(77)

BUILD = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "build")
WAIT = 20  # seconds; generous, for a loaded machine


def wait_for(what, predicate, timeout=WAIT):
    """Polls `predicate` until it is true; fails with `what` after `timeout`."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")


class Host:
    """welkmora-host serve --web on a private socket and state file."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="welkmora-canvas-")
        self.socket = os.path.join(self.dir, "host.sock")
        self.env = dict(os.environ, PATH=BUILD + ":" + os.environ["PATH"], WELKMORA_DEMO_DELAY="0.3")
        self.start("127.0.0.1:0")
        joined = subprocess.run([os.path.join(BUILD, "welkmora-host"), "join", "Lead", "--socket", self.socket],
                                env=self.env, capture_output=True, text=True, check=True).stdout
        self.lead = dict(self.env, **dict(re.findall(r"export (\w+)='?([^'\n]*)'?", joined)))

    def start(self, address):
        """Starts the host on this socket and state file (again, after a stop)."""
        if getattr(self, "errors", None):
            self.errors.close()
        self.errors = open(os.path.join(self.dir, "stderr"), "w+")
        self.process = subprocess.Popen(
            [os.path.join(BUILD, "welkmora-host"), "serve", "--socket", self.socket, "--state",
             os.path.join(self.dir, "state.json"), "--settle", "500ms", "--web", address],
            env=self.env, stderr=self.errors, stdin=subprocess.DEVNULL)
        self.url = wait_for("the canvas line", self.canvas_url)

    def canvas_url(self):
        self.errors.seek(0)
        found = re.search(r"canvas: (http://\S+)", self.errors.read())
        return found and found.group(1)

    def client(self, *args, **kwargs):
        return subprocess.run(["welkmora", *args], env=self.lead, capture_output=True, text=True, timeout=60,
                              **kwargs)

    def stop(self):
        """Stops the host, with a page still open; its exit status."""
        self.process.terminate()
        status = self.process.wait(timeout=30)
        self.errors.seek(0)
        log = self.errors.read()
        shutil.rmtree(self.dir, ignore_errors=True)
        return status, log


def http_answer(port, request):
    """Sends a raw request; the answer's status line and headers."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(request.encode())
        answer = b""
        while b"\r\n" not in answer:
            chunk = s.recv(4096)
            if not chunk:
                break
            answer += chunk
    return answer.split(b"\r\n\r\n")[0].decode()


def http_head(port, request):
    """Sends a raw request; the status line of the answer."""
    return http_answer(port, request).split("\r\n")[0]


class Page(unittest.TestCase):
    """A host of the class's own and one browser; each case starts from a fresh page."""

    WINDOW = (1600, 1000)

    @classmethod
    def setUpClass(cls):
        cls.host = Host()
        try:
            cls.populate()
            options = webdriver.ChromeOptions()
            options.binary_location = CHROMIUM
            for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                         "--disable-background-networking", "--disable-component-update", "--disable-sync",
                         "--user-data-dir=" + os.path.join(cls.host.dir, "chromium")):
                options.add_argument(flag)
            cls.browser = webdriver.Chrome(service=Service(DRIVER), options=options)
        except BaseException:
            cls.host.stop()
            raise
        # The page's own size, whatever the browser's window around it takes.
        width, height = cls.WINDOW
        cls.browser.set_window_size(width, height)
        inner = cls.browser.execute_script("return [window.innerWidth, window.innerHeight]")
        cls.browser.set_window_size(2 * width - inner[0], 2 * height - inner[1])

    @classmethod
    def populate(cls):
        """Puts on the canvas what the class's cases need."""

    @classmethod
    def tearDownClass(cls):
        try:
            status, log = cls.host.stop()
        finally:
            cls.browser.quit()
        if status != 0:  # also what a sanitizer found
            raise AssertionError(f"the host ended with status {status}:\n{log}")

    def setUp(self):
        self.browser.get("about:blank")
        self.browser.get(self.host.url)
        wait_for("the page live", lambda: self.browser.execute_script(
            "return document.getElementById('link').textContent === 'live' && window.welkmora.board.items.size > 0"))
        # Every terminal's first screen drawn, every item placed.
        wait_for("the canvas drawn", lambda: self.browser.execute_script(
            "return [...window.welkmora.board.items.values()].every(i => !i.unplaced &&"
            " (!i.sizedByScreen() || i.screen.size[0] > 0))"))

    # --- helpers ---------------------------------------------------------

    def run_js(self, script, *args):
        return self.browser.execute_script(script, *args)

    def screen(self, name):
        return self.run_js(
            "const item = window.welkmora.board.items.get(arguments[0]);"
            "return item && item.screen ? item.screen.text() : '';", "t:" + name)

    def styles(self, name):
        """Each span of a terminal's screen: its text, colour and classes."""
        return self.run_js(
            f"return [...document.querySelectorAll('[data-id=\"t:{name}\"] .screen span')]"
            ".map(s => [s.textContent, s.style.color, s.className])")

    def wait_screen(self, name, pattern):
        return wait_for(f"{pattern!r} on {name}'s screen", lambda: re.search(pattern, self.screen(name)))

    def item(self, item_id):
        """The item's window."""
        return WebDriverWait(self.browser, WAIT).until(
            lambda b: b.find_element(By.CSS_SELECTOR, f'[data-id="{item_id}"]'))

    def near(self, item_id):
        """Brings the item's window near, as a click on it does from the overview, and gives it the keys."""
        self.run_js("const b = window.welkmora.board; b.activate(b.items.get(arguments[0]))", item_id)
        return self.item(item_id)

    def type_into(self, name, *keys):
        self.near("t:" + name).find_element(By.CLASS_NAME, "screen").click()
        ActionChains(self.browser).send_keys(*keys).perform()

    def boxes(self):
        """Each window on the screen: [id, left, top, right, bottom]."""
        return self.run_js(
            "return [...window.welkmora.board.items.values()].map(i => { const r = i.node.getBoundingClientRect();"
            " return [i.id, r.left, r.top, r.right, r.bottom]; })")

    def overlap(self):
        """The first two windows that overlap, as a sentence; None when none do."""
        boxes = self.boxes()
        for i, a in enumerate(boxes):
            for b in boxes[i + 1:]:
                if not (a[3] <= b[1] or b[3] <= a[1] or a[4] <= b[2] or b[4] <= a[2]):
                    return f"{a[0]} and {b[0]} overlap"
        return None

    def assert_no_overlap(self, when):
        problem = self.overlap()
        self.assertIsNone(problem, f"{problem} {when}")

    def overview_problem(self, least_share):
        """What keeps the view from being an overview, as a sentence; None when nothing does."""
        viewport = self.run_js("const r = document.getElementById('viewport').getBoundingClientRect();"
                               " return [r.left, r.top, r.right, r.bottom]")
        width, height = self.WINDOW
        for item_id, left, top, right, bottom in self.boxes():
            if not (left >= viewport[0] and top >= viewport[1] and right <= viewport[2] and bottom <= viewport[3]):
                return f"{item_id} out of view: {[left, top, right, bottom]}"
            if (right - left) * (bottom - top) < least_share * width * height:
                return f"{item_id} too small"
        return self.overlap()

    def assert_overview(self, when, least_share):
        """Every window in view, none over another, each at least `least_share` of the window's area, once
        the view has settled (it fits the windows on the frame after they take their sizes)."""
        deadline = time.monotonic() + 5
        problem = self.overview_problem(least_share)
        while problem and time.monotonic() < deadline:
            time.sleep(0.1)
            problem = self.overview_problem(least_share)
        self.assertIsNone(problem, f"{problem} {when}")

    def screenshot(self, name):
        """Saves the page as it is to the build directory."""
        time.sleep(0.5)
        self.browser.save_screenshot(os.path.join(BUILD, name))


class Canvas(Page):
    @classmethod
    def populate(cls):
        cls.host.client("role", "create", "Coder", "Write the code.").check_returncode()
        cls.host.client("recruit", "Alice", "--role", "Coder", "--command", "welkmora-demo-agent").check_returncode()
        cls.host.client("recruit", "Bob", "--command", "/bin/bash --norc --noprofile -i").check_returncode()
        cls.host.client("recruit", "Block", "--command", "sleep 600").check_returncode()
        cls.host.client("note", "create", "plan", input="the plan\n").check_returncode()

    def test_1_refusals(self):
        port = int(self.host.url.split(":")[2].split("/")[0])
        key = self.host.url.split("#key=")[1]
        authority = f"127.0.0.1:{port}"
        cookie = f"Cookie: welkmora-key-{port}={key}\r\n"
        offer = f"Sec-WebSocket-Protocol: welkmora-canvas, welkmora-key.{key}\r\n"
        upgrade = ("Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                   f"Sec-WebSocket-Key: {base64.b64encode(os.urandom(16)).decode()}\r\n")
        forbidden = {
            "WebSocket with a wrong key": f"GET /ws HTTP/1.1\r\nHost: {authority}\r\nOrigin: http://{authority}\r\n"
                                          f"Sec-WebSocket-Protocol: welkmora-canvas, welkmora-key.{'0' * 32}\r\n"
                                          f"{upgrade}\r\n",
            "foreign Host": f"GET /?key={key} HTTP/1.1\r\nHost: attacker.example:{port}\r\n\r\n",
            "foreign Host, for the page": f"GET / HTTP/1.1\r\nHost: attacker.example:{port}\r\n\r\n",
            "foreign Origin": f"GET /ws HTTP/1.1\r\nHost: {authority}\r\nOrigin: http://attacker.example\r\n"
                              f"{offer}{upgrade}\r\n",
            # A browser sends cookies to every port of a host: a key there would reach any local server.
            "WebSocket with a cookie": f"GET /ws HTTP/1.1\r\nHost: {authority}\r\nOrigin: http://{authority}\r\n"
                                       f"{cookie}{upgrade}\r\n",
            "WebSocket without key": f"GET /ws HTTP/1.1\r\nHost: {authority}\r\nOrigin: http://{authority}\r\n"
                                     f"{upgrade}\r\n",
        }
        for case, request in forbidden.items():
            self.assertRegex(http_head(port, request), r"^HTTP/1\.[01] 403 ", case)
        allowed = f"GET /ws HTTP/1.1\r\nHost: {authority}\r\nOrigin: http://{authority}\r\n{offer}{upgrade}\r\n"
        self.assertRegex(http_head(port, allowed), r"^HTTP/1\.1 101 ")
        # The page itself holds no data and sets nothing in the browser.
        page = http_answer(port, f"GET /?key={key} HTTP/1.1\r\nHost: {authority}\r\n\r\n")
        self.assertRegex(page, r"^HTTP/1\.1 200 ")
        self.assertNotIn("set-cookie", page.lower())
        self.assertIsNone(self.host.process.poll(), "the host survives them all")

    def test_2_page_shows_terminals_and_notes(self):
        self.assertNotIn("?", self.browser.current_url, "the key is never sent to a server")
        self.assertIn("#key=", self.browser.current_url, "a bookmark keeps the key")
        for item_id in ("t:Alice", "t:Bob", "t:Lead", "n:plan"):
            self.item(item_id)
        self.wait_screen("Alice", r"(?m)^demo>$")
        self.assertIn("joined", self.item("t:Lead").text)
        self.assertIn("Coder", self.item("t:Alice").text)
        self.assertEqual(self.item("n:plan").find_element(By.TAG_NAME, "textarea").get_attribute("value"),
                         "the plan\n")

    def test_3_keys_reach_the_program(self):
        self.type_into("Alice", "hello there", Keys.ENTER)
        self.type_into("Bob", "clear", Keys.ENTER)
        self.wait_screen("Alice", r"Answer: hello there")
        # Ctrl-C interrupts the shell's command, the arrows recall history.
        self.type_into("Bob", "echo one$((1+1))", Keys.ENTER)
        self.wait_screen("Bob", r"one2")
        self.type_into("Bob", "sleep 100", Keys.ENTER)
        self.wait_screen("Bob", r"sleep 100\n(\n|$)")
        ActionChains(self.browser).key_down(Keys.CONTROL).send_keys("c").key_up(Keys.CONTROL).perform()
        self.wait_screen("Bob", r"\^C\n[^\n]*#")  # the prompt is back
        ActionChains(self.browser).send_keys(Keys.ARROW_UP, Keys.ARROW_UP, Keys.ENTER).perform()
        wait_for("the recalled command's output", lambda: len(re.findall(r"^one2", self.screen("Bob"), re.M)) == 2)

    def test_3b_colours_and_the_alternate_screen(self):
        self.type_into("Bob", "clear; echo before", Keys.ENTER)
        self.type_into("Bob", r"printf '\033[31mred\033[0m \033[1mbold\033[0m\n'", Keys.ENTER)
        self.wait_screen("Bob", r"(?m)^red bold$")
        styles = self.styles("Bob")
        self.assertIn(["red", "rgb(224, 108, 117)", ""], styles)
        self.assertIn(["bold", "", "b"], styles)
        # Dim is drawn; the 2s of a 24-bit colour are no dim.
        self.type_into("Bob", r"printf '\033[2mdim\033[22m \033[38;2;2;2;2mrgb\033[0m\n'", Keys.ENTER)
        self.wait_screen("Bob", r"(?m)^dim rgb$")
        styles = self.styles("Bob")
        self.assertIn(["dim", "", "d"], styles)
        self.assertIn(["rgb", "rgb(2, 2, 2)", ""], styles)
        # A full-screen program draws on the alternate screen; leaving it brings the old one back.
        self.type_into("Bob", r"printf '\033[?1049h\033[2J\033[5;3HFULL SCREEN'; sleep 3; printf '\033[?1049l'",
                       Keys.ENTER)
        self.wait_screen("Bob", r"^\n{4}  FULL SCREEN")
        self.assertNotIn("before", self.screen("Bob"))
        self.wait_screen("Bob", r"before[\s\S]*red bold")

    def test_3c_links(self):
        port = self.host.url.split(":")[2].split("/")[0]
        local = f"http://127.0.0.1:{port}/favicon.svg"
        self.type_into("Bob", f"clear; echo 'see https://example.com/x. or ({local})'", Keys.ENTER)
        # The row's text stays as the program wrote it; the addresses in it, without the sentence's marks, link.
        self.wait_screen("Bob", rf"(?m)^see https://example\.com/x\. or \({re.escape(local)}\)$")
        links = self.browser.execute_script(
            "return [...document.querySelectorAll('[data-id=\"t:Bob\"] .screen a')]"
            ".map(a => [a.getAttribute('href'), a.target, a.rel, a.textContent])")
        self.assertEqual({tuple(link) for link in links},
                         {("https://example.com/x", "_blank", "noopener noreferrer", "https://example.com/x"),
                          (local, "_blank", "noopener noreferrer", local)})
        # An address that would not read as where it leads (a look-alike host,
        # a right-to-left override) shows its target instead.
        self.type_into("Bob", r"clear; printf 'go https://b\xc3\xbccher.example/\xe2\x80\xaeexe.txt\n'", Keys.ENTER)
        target = "https://xn--bcher-kva.example/%E2%80%AEexe.txt"
        self.wait_screen("Bob", rf"(?m)^go {re.escape(target)}$")
        links = self.browser.execute_script(
            "return [...document.querySelectorAll('[data-id=\"t:Bob\"] .screen a')]"
            ".map(a => [a.getAttribute('href'), a.textContent])")
        self.assertIn([target, target], links)
        self.type_into("Bob", f"clear; echo '({local})'", Keys.ENTER)
        self.wait_screen("Bob", rf"(?m)^\({re.escape(local)}\)$")
        page = self.browser.current_window_handle
        self.assertEqual(self.browser.window_handles, [page], "nothing opens by itself")
        # A click opens the link in a tab of its own, which cannot reach the page.
        self.browser.find_elements(By.CSS_SELECTOR, f'[data-id="t:Bob"] .screen a[href="{local}"]')[-1].click()
        opened = wait_for("the link's tab", lambda: [h for h in self.browser.window_handles if h != page])
        self.browser.switch_to.window(opened[0])
        try:
            wait_for("the link's address", lambda: self.browser.current_url == local)
            self.assertIsNone(self.browser.execute_script("return window.opener"))
        finally:
            self.browser.close()
            self.browser.switch_to.window(page)
        self.assertIn("#key=", self.browser.current_url)

    def test_3d_mouse_for_programs(self):
        # A program that asks for mouse reports (SGR) gets a click and the wheel as the cell they hit.
        # Echo goes off before the program asks for the mouse, so that a click cannot be echoed
        # onto the screen before the first read has started.
        self.type_into("Bob", "clear; stty -echo; printf '\\e[?1000h\\e[?1006h'; read -rsn99 -dM a; "
                       "read -rsn99 -dm b; read -rsn99 -dM c; printf '\\e[?1000l\\e[?1006l'; "
                       "read -rst1 -n9999 -d '' _; stty echo; echo \"got ${a#?}M ${b#?}m ${c#?}M\"", Keys.ENTER)
        mode = "return window.welkmora.board.items.get('t:Bob').screen.mouse"
        wait_for("the program reading the mouse", lambda: self.browser.execute_script(mode) == 1)
        screen = self.item("t:Bob").find_element(By.CLASS_NAME, "screen")
        self.assertIn("mouse", screen.get_attribute("class"))
        zoom = "return window.welkmora.board.view.scale"
        before = self.browser.execute_script(zoom)
        x, y = self.browser.execute_script(  # from the centre of the screen to that of row 2, column 10
            "const s = window.welkmora.board.items.get('t:Bob').screen, r = s.el.getBoundingClientRect();"
            "return [Math.round((10.5 / s.size[1] - 0.5) * r.width), Math.round((2.5 / s.size[0] - 0.5) * r.height)]")
        ActionChains(self.browser).move_to_element_with_offset(screen, x, y).click().perform()
        ActionChains(self.browser).scroll_from_origin(ScrollOrigin.from_element(screen, x, y), 0, -100).perform()
        self.wait_screen("Bob", r"(?m)^got \[<0;11;3M \[<0;11;3m \[<64;11;3M$")
        wait_for("the mouse back to the page", lambda: self.browser.execute_script(mode) == 0)
        # The wheel went to the program, not to the scrollback or the zoom; no text was selected.
        self.assertEqual(self.browser.execute_script(zoom), before)
        self.assertFalse(self.item("t:Bob").find_element(By.CLASS_NAME, "scrolled").is_displayed())
        self.assertEqual(self.browser.execute_script("return String(window.getSelection())"), "")

    def test_3e_wide_characters_line_up(self):
        # Ten CJK characters, two cells each, over a ruler of single cells, both ending in "|".
        self.type_into("Bob", "clear; printf 'C:" + "\\xe6\\xbc\\xa2\\xe5\\xad\\x97" * 5 + "|\\nR:" + "0123456789" * 2 +
                       "|\\n'", Keys.ENTER)
        self.wait_screen("Bob", "(?m)^C:\u6f22\u5b57.*\\|\nR:0123456789")
        self.run_js("const b = window.welkmora.board; b.viewport.set({...b.view, scale: 1}); b.show(['t:Bob'])")
        left = self.browser.execute_script(
            "const rows = [...document.querySelectorAll('[data-id=\"t:Bob\"] .row')];"
            "const x = (start, index) => { const row = rows.filter(r => r.textContent.startsWith(start)).pop();"
            " const walk = document.createTreeWalker(row, NodeFilter.SHOW_TEXT); let node, at = 0;"
            " while ((node = walk.nextNode())) { if (index < at + node.length) { const r = document.createRange();"
            "  r.setStart(node, index - at); r.setEnd(node, index - at + 1); return r.getBoundingClientRect().left; }"
            "  at += node.length; } return null; };"
            "return {cjk5: x('C:', 6), ruler8: x('R:', 10), cjkEnd: x('C:', 12), rulerEnd: x('R:', 22),"
            " ruler0: x('R:', 2), ruler1: x('R:', 3)}")
        cell = left["ruler1"] - left["ruler0"]
        self.assertGreater(cell, 3, left)
        # The fifth character starts at column 8 of the ruler; the line ends where the ruler does.
        self.assertAlmostEqual(left["cjk5"], left["ruler8"], delta=1, msg=left)
        self.assertAlmostEqual(left["cjkEnd"], left["rulerEnd"], delta=1, msg=left)

    def test_4_rope_drawn_on_the_page(self):
        # Both in view, as at first.
        handle = self.browser.find_element(By.CSS_SELECTOR, '[data-id="t:Bob"] .handle')
        note = self.browser.find_element(By.CSS_SELECTOR, '[data-id="n:plan"]')
        ActionChains(self.browser).click_and_hold(handle).move_by_offset(20, 20) \
            .move_to_element(note).release().perform()
        # The host has the rope once the page hears it back.
        wait_for("the rope", lambda: self.run_js(
            "return window.welkmora.board.ropes.list.some(r => r.includes('t:Bob') && r.includes('n:plan'))"))
        self.type_into("Bob", "welkmora list", Keys.ENTER)
        self.wait_screen("Bob", r"plan \(verbunden\)")

    def test_4b_resizing_a_window_resizes_its_terminal(self):
        size = "return window.welkmora.board.items.get('t:Bob').screen.size"
        self.assertEqual(self.browser.execute_script(size), [24, 80], "a recruit's size reads at 100%")
        window = self.item("t:Bob")
        corner = window.find_element(By.CLASS_NAME, "resize")
        # A quarter smaller, at whatever zoom.
        w, h = self.browser.execute_script("const r = arguments[0].getBoundingClientRect(); return [r.width, r.height]",
                                           window)
        ActionChains(self.browser).click_and_hold(corner).move_by_offset(-round(w / 4), -round(h / 4)).release().perform()
        rows, cols = wait_for("the screen in a new size",
                              lambda: self.browser.execute_script(size) != [24, 80] and
                              self.browser.execute_script(size))
        self.assertLess(rows, 24)
        self.assertLess(cols, 80)
        self.type_into("Bob", "stty size", Keys.ENTER)
        self.wait_screen("Bob", rf"(?m)^{rows} {cols}$")

    def test_4c_ropes_go_around_windows(self):
        self.host.client("connect", "Alice", "Bob").check_returncode()
        wait_for("three placed windows", lambda: self.browser.execute_script(
            "return ['t:Alice', 't:Block', 't:Bob'].every(id => { const i = window.welkmora.board.items.get(id);"
            " return i && i.screen.size[0] && !i.unplaced; })"))
        # Alice, Block and Bob in a row, far from the rest: Block is in the way of Alice's rope to Bob.
        self.browser.execute_script(
            "const b = window.welkmora.board; let x = 20000;"
            "for (const id of ['t:Alice', 't:Block', 't:Bob']) { const i = b.items.get(id);"
            " i.place({x, y: 20000}); b.sendPlace(i); x += i.node.offsetWidth + 60; }"
            "b.ropes.draw()")
        route = ("const b = window.welkmora.board, p = document.querySelector("
                 "'#rope-lines path.rope[data-a=\"t:Alice\"][data-b=\"t:Bob\"],"
                 " #rope-lines path.rope[data-a=\"t:Bob\"][data-b=\"t:Alice\"]');"
                 "if (!p) return null; const n = p.getTotalLength(), points = [];"
                 "for (let i = 0; i <= 200; i++) {"
                 " const q = p.getPointAtLength(n * i / 200); points.push([q.x, q.y]); }"
                 "return {d: p.getAttribute('d'), points,"
                 " boxes: ['t:Alice', 't:Block', 't:Bob'].map(id => b.items.get(id).bounds())}")
        def around(r):
            """The route once it is worked out for the new places (in between, a moved window's ropes run straight)."""
            bends = r and all(x > 19000 and y > 19000 for x, y in r["points"]) and r["d"].count("L") > 1
            return r if bends else None

        drawn = wait_for("the rope from Alice to Bob around Block", lambda: around(self.browser.execute_script(route)))
        a, b, c = drawn["boxes"]
        for x, y in drawn["points"]:
            self.assertFalse(b[0] + 1 < x < b[2] - 1 and b[1] + 1 < y < b[3] - 1,
                             f"the rope crosses Block at {x:.0f},{y:.0f}: {drawn['d']}")
            for box in (a, c):  # nor the windows it joins, but at their edges
                self.assertFalse(box[0] + 1 < x < box[2] - 1 and box[1] + 1 < y < box[3] - 1,
                                 f"the rope runs inside its own window at {x:.0f},{y:.0f}")

        def on_edge(point, box):
            x, y = point
            inside = box[0] - 1 <= x <= box[2] + 1 and box[1] - 1 <= y <= box[3] + 1
            return inside and min(abs(x - box[0]), abs(x - box[2]), abs(y - box[1]), abs(y - box[3])) <= 1

        start, end = drawn["points"][0], drawn["points"][-1]
        self.assertTrue(on_edge(start, a) and on_edge(end, c) or on_edge(start, c) and on_edge(end, a),
                        f"the rope joins the edges of Alice and Bob: {drawn['d']}")
        # With Block out of the way the rope runs straight again.
        self.browser.execute_script(
            "const b = window.welkmora.board, i = b.items.get('t:Block'); i.place({x: 20000, y: 24000});"
            " b.sendPlace(i); b.ropes.draw()")
        wait_for("a straight rope", lambda: self.browser.execute_script(route)["d"].count("L") == 1)
        self.run_js("const b = window.welkmora.board; b.act({op: 'cut', a: 't:Alice', b: 't:Bob'}); b.tidy()")

    def test_5_note_edited_on_the_page(self):
        text = self.item("n:plan").find_element(By.TAG_NAME, "textarea")
        text.click()
        text.send_keys(Keys.CONTROL, Keys.END)
        text.send_keys("and a line from the page")
        wait_for("the edit read back",
                 lambda: "the plan\nand a line from the page" in self.host.client("note", "read", "plan").stdout)

    def test_6_ask_appears_live(self):
        # The turn is short: a watch on the page sees its busy badge come.
        self.browser.execute_script(
            "window.sawBusy = false; new MutationObserver(() => { if (document.querySelector("
            "'[data-id=\"t:Alice\"] .badge.busy')) window.sawBusy = true; }).observe("
            "document.getElementById('items'), {subtree: true, childList: true})")
        ask = subprocess.Popen(["welkmora", "ask", "Alice", "question from Lead"], env=self.host.lead,
                               stdout=subprocess.PIPE, text=True)
        try:
            wait_for("Alice busy", lambda: self.browser.execute_script("return window.sawBusy"))
            self.wait_screen("Alice", r"Answer: question from Lead")
            self.assertIn("Answer: question from Lead", ask.communicate(timeout=60)[0])
            wait_for("Alice idle", lambda: "busy" not in self.item("t:Alice").text)
        finally:
            ask.kill()
            ask.wait()
        self.assertIn("ask Alice by=Lead", self.browser.find_element(By.ID, "activity").get_attribute("textContent"))
        # An ask in flight runs on its rope, from the asker to the asked, until its turn ends.
        labels = "return [...document.querySelectorAll('#rope-labels .talk-label')].map(t => t.textContent)"
        ask = subprocess.Popen(["welkmora", "ask", "Bob", "sleep 4"], env=self.host.lead, stdout=subprocess.PIPE)
        try:
            wait_for("the ask on its rope",
                     lambda: any(t.startswith("Lead \u2192 Bob: asking") for t in self.browser.execute_script(labels)))
            self.run_js("const b = window.welkmora.board; b.viewport.set({...b.view, scale: 0.6});"
                        "b.show(['t:Lead', 't:Bob']); document.getElementById('activity').hidden = false")
            self.browser.save_screenshot(os.path.join(BUILD, "canvas-ask.png"))
            self.browser.execute_script("document.getElementById('activity').hidden = true")
            ask.communicate(timeout=60)
            wait_for("the ask gone from its rope",
                     lambda: not any("asking" in t for t in self.browser.execute_script(labels)))
        finally:
            ask.kill()
            ask.wait()

    def test_6a_prompt_words_on_the_rope(self):
        labels = "return [...document.querySelectorAll('#rope-labels .talk-label')].map(t => t.textContent)"
        prompt = "sleep 4; echo hi;   echo and the rest of a long prompt"
        self.type_into("Bob", "clear", Keys.ENTER)  # for the screenshot
        ask = subprocess.Popen(["welkmora", "ask", "Bob", prompt], env=self.host.lead, stdout=subprocess.PIPE,
                               text=True)
        try:
            # Its first 32 characters (a run of spaces as one), and an ellipsis for the rest.
            shown = wait_for("the prompt's first words on the rope", lambda: [
                t for t in self.browser.execute_script(labels) if t.startswith("Lead \u2192 Bob: asking")])
            self.assertRegex(shown[0],
                             r"^Lead \u2192 Bob: asking \d+s \u201csleep 4; echo hi; echo and the r\u2026\u201d$")
            self.assertRegex(self.item("t:Bob").find_element(By.CSS_SELECTOR, ".badge.busy").text, r"^busy \d+s$")
            self.run_js("window.welkmora.board.tidy()")
            self.screenshot("canvas-4.png")
            self.assertIn("hi", ask.communicate(timeout=60)[0])
            wait_for("the words gone with the answer",
                     lambda: not any("sleep 4" in t for t in self.browser.execute_script(labels)))
        finally:
            ask.kill()
            ask.wait()
        # The activity log keeps its lines: who asked whom, never what.
        self.host.errors.seek(0)
        log = self.host.errors.read()
        self.assertRegex(log, r"(?m) ask name=Bob by=Lead$")
        self.assertNotIn("echo hi", log)

    def test_6b_scrollback(self):
        self.type_into("Bob", "clear; seq 1 200", Keys.ENTER)
        self.wait_screen("Bob", r"(?m)^200$")
        shown = "return window.welkmora.board.items.get('t:Bob').screen.shown()"
        screen = self.item("t:Bob").find_element(By.CLASS_NAME, "screen")
        zoom = self.browser.execute_script("return window.welkmora.board.view.scale")
        # The wheel over a terminal scrolls its history, not the canvas (by less than a screen a step).
        wait_for("row 1 scrolled into view", lambda: (
            ActionChains(self.browser).scroll_from_origin(ScrollOrigin.from_element(screen), 0, -200).perform(),
            re.search(r"(?m)^1\n2\n3$", self.browser.execute_script(shown)))[1])
        self.assertEqual(self.browser.execute_script("return window.welkmora.board.view.scale"), zoom)
        self.assertIn("back", self.item("t:Bob").find_element(By.CLASS_NAME, "scrolled").text)
        # Typing returns to the live screen.
        self.type_into("Bob", "echo bottom", Keys.ENTER)
        wait_for("the live screen", lambda: re.search(r"(?m)^bottom$", self.browser.execute_script(shown)))
        self.assertFalse(self.item("t:Bob").find_element(By.CLASS_NAME, "scrolled").is_displayed())

    def test_6c_layout(self):
        for i in range(8):
            self.host.client("recruit", f"W{i}", "--command", "sleep 600").check_returncode()
        # Alice, Bob, Block and the eight, each with its screen and its place.
        wait_for("eleven terminals with screens", lambda: self.browser.execute_script(
            "return [...window.welkmora.board.items.values()].filter(i => i.screen && i.screen.size[0] &&"
            " !i.unplaced).length") >= 11)
        self.assert_no_overlap("after recruiting")
        self.browser.find_element(By.ID, "tidy").click()
        self.assert_no_overlap("after Tidy")
        # The focused window comes to the front, over one placed on it.
        on_top = self.browser.execute_script(
            "const b = window.welkmora.board, bob = b.items.get('t:Bob'), w = b.items.get('t:W0');"
            "w.place({x: bob.box.x + 20, y: bob.box.y + 20}); b.raise(w); b.show(['t:Bob']); b.focus(bob);"
            "const r = bob.node.getBoundingClientRect();"
            "return document.elementsFromPoint(r.left + r.width / 2, r.top + r.height / 2)"
            ".find(e => e.closest('.item')).closest('.item').dataset.id")
        self.assertEqual(on_top, "t:Bob")
        for i in range(8):
            self.host.client("dismiss", f"W{i}").check_returncode()
        self.browser.find_element(By.ID, "tidy").click()


class Restart(Page):
    @classmethod
    def populate(cls):
        cls.host.client("recruit", "Alice", "--command", "welkmora-demo-agent").check_returncode()
        cls.host.client("note", "create", "plan", input="the plan\n").check_returncode()

    def test_8_host_restarts(self):
        link = self.browser.find_element(By.ID, "link")
        url, port = self.host.url, self.host.url.split(":")[2].split("/")[0]
        box = "return window.welkmora.board.items.get('t:Alice').box"
        placed = self.browser.execute_script(box)
        self.type_into("Alice", "before the restart", Keys.ENTER)
        self.wait_screen("Alice", r"Answer: before the restart\ndemo>")
        self.host.process.terminate()
        self.assertEqual(self.host.process.wait(timeout=30), 0)
        wait_for("the page to show the host stopped", lambda: "host stopped" in link.text)
        self.assertIn("offline", self.browser.find_element(By.TAG_NAME, "body").get_attribute("class"))
        # The same state file keeps the key: the page (and a bookmark) opens again.
        self.host.start(f"127.0.0.1:{port}")
        self.assertEqual(self.host.url, url)
        wait_for("the page to reconnect", lambda: link.text == "live")
        self.item("n:plan")
        # Alice is back where she was, held: her saved screen under the line that says so, and a button that
        # runs her again.
        alice = self.item("t:Alice")
        self.wait_screen("Alice", r"Answer: before the restart\ndemo>\nrestored and held: welkmora-host resume Alice")
        self.assertEqual(alice.find_element(By.CSS_SELECTOR, ".badge.held").text, "held")
        self.assertEqual(self.browser.execute_script(box), placed)
        self.browser.save_screenshot(os.path.join(BUILD, "canvas-held.png"))
        alice.find_element(By.CLASS_NAME, "resume").click()
        self.wait_screen("Alice", r"runs it\nWelkmora demo agent.*\n(.*\n)?demo>")
        wait_for("the resume button to go", lambda: not alice.find_elements(By.CLASS_NAME, "resume"))
        self.type_into("Alice", "after", Keys.ENTER)
        self.wait_screen("Alice", r"Answer: after")
        self.browser.get("about:blank")
        self.browser.get(url)
        link = self.browser.find_element(By.ID, "link")
        wait_for("the bookmark to open the page", lambda: link.text == "live")
        # A key the host does not have gets a page that says what to do, and no data.
        self.browser.get("about:blank")
        self.browser.get(url.split("#")[0] + "#key=" + "0" * 32)
        notice = self.browser.find_element(By.ID, "notice")
        wait_for("the refused key's notice", lambda: "refused" in notice.text)
        self.assertEqual(self.browser.execute_script("return window.welkmora.board.items.size"), 0)
        self.browser.get(url)


class Team(Page):
    """Twelve terminals and two notes in a 1920x1080 window: a lead (a joined shell) and its team."""

    WINDOW = (1920, 1080)
    PROGRAMS = {"Ada": "welkmora-demo-agent", "Ben": "welkmora-demo-agent", "Cy": "welkmora-demo-agent",
                "Dee": "welkmora-demo-agent", "Top": "htop", "Vim": "vim -u NONE -i NONE", "Less": "less /etc/services",
                "Py": "python3 -q", "Sh": "/bin/bash --norc --noprofile -i", "Sql": "sqlite3", "Bc": "bc -q"}

    @classmethod
    def populate(cls):
        # Recruits of the lead's are roped to it.
        for name, command in cls.PROGRAMS.items():
            cls.host.client("recruit", name, "--command", command).check_returncode()
        for note in ("plan", "ideas"):
            cls.host.client("note", "create", note, input=f"the {note}\n").check_returncode()
        for a, b in (("Ada", "Ben"), ("Ada", "Cy"), ("Ben", "plan"), ("Sh", "Bc"), ("Top", "Sql"), ("Vim", "ideas")):
            cls.host.client("connect", a, b).check_returncode()

    def attention(self, name):
        return self.run_js("return document.querySelector(arguments[0]).textContent",
                           f'[data-id="t:{name}"] .badge.state')

    def test_everything_in_view(self):
        self.assertEqual(self.run_js("return window.welkmora.board.items.size"), 14)
        self.assert_overview("after load", 1 / 40)
        # A click brings a window near enough to read; Escape, before anything is typed, goes back.
        self.item("t:Sql").find_element(By.CLASS_NAME, "screen").click()
        self.assertGreaterEqual(self.run_js("return window.welkmora.board.view.scale"), 0.8)
        ActionChains(self.browser).send_keys(Keys.ESCAPE).perform()
        self.assert_overview("after Escape", 1 / 40)
        self.run_js("window.welkmora.board.viewport.zoomBy(2.5)")
        self.browser.find_element(By.ID, "zoom-fit").click()
        self.assert_overview("after Fit", 1 / 40)
        # The keys move the focus from window to window; Enter brings one near and gives it the keys.
        self.run_js("window.welkmora.board.focus(window.welkmora.board.items.get('t:Ada'))")
        ActionChains(self.browser).send_keys(Keys.ARROW_RIGHT).perform()
        self.assertEqual(self.run_js("return window.welkmora.board.focused.id"), "t:Bc")
        ActionChains(self.browser).send_keys(Keys.TAB, Keys.ENTER, "1+2", Keys.ENTER).perform()
        self.wait_screen("Ben", r"Answer: 1\+2")
        # Nothing the page asked for was refused (its content security policy, a file it lacks).
        self.assertEqual([e["message"] for e in self.browser.get_log("browser") if e["level"] == "SEVERE"], [])

    def test_awaiting_input(self):
        self.assertEqual(self.attention("Py"), "idle")
        self.type_into("Py", 'name = input("Your name? ")', Keys.ENTER)
        wait_for("Py awaiting input", lambda: self.attention("Py") == "awaiting input")
        wait_for("the count in the title", lambda: self.browser.title.startswith("(1) "))
        self.browser.find_element(By.ID, "show-activity").click()
        self.assertEqual(self.browser.find_element(By.CSS_SELECTOR, "#awaiting a").text, "Py")
        # The screenshot: everything, Py waiting, an ask in flight.
        self.browser.find_element(By.ID, "show-activity").click()
        self.browser.find_element(By.ID, "zoom-fit").click()
        ask = subprocess.Popen(["welkmora", "ask", "Sh", "sleep 3; echo done"], env=self.host.lead,
                               stdout=subprocess.DEVNULL)
        try:
            wait_for("the ask on its rope", lambda: self.browser.find_elements(By.CSS_SELECTOR, ".talk-label.ask"))
            self.screenshot("canvas-12.png")
        finally:
            ask.wait(timeout=60)
        self.near("t:Py")
        ActionChains(self.browser).send_keys("Ada", Keys.ENTER).perform()
        wait_for("Py answered", lambda: self.attention("Py") == "idle")
        wait_for("no count in the title", lambda: not self.browser.title.startswith("("))
        self.assertFalse(self.browser.find_element(By.ID, "awaiting").is_displayed())
        # A turn that ends is finished until the person looks at it.
        self.host.client("ask", "Ada", "tell me").check_returncode()
        wait_for("Ada finished", lambda: self.attention("Ada") == "finished")
        self.near("t:Ada")
        wait_for("Ada seen", lambda: self.attention("Ada") == "idle")

    def test_ropes_read(self):
        self.run_js("window.welkmora.board.tidy()")
        wait_for("the ropes routed", lambda: self.run_js("return window.welkmora.board.ropes.settled()"))
        ropes = self.run_js(
            "return [...document.querySelectorAll('#rope-lines path.rope')].map(p => ["
            " p.dataset.a + '-' + p.dataset.b, p.getAttribute('d')])")
        self.assertGreaterEqual(len(ropes), 17)
        bends = []
        for rope, d in ropes:
            points = [tuple(map(float, p.split())) for p in re.findall(r"[ML]([-\d.]+ [-\d.]+)", d)]
            for point in points[1:-1]:
                for other, at in bends:
                    self.assertGreater(abs(point[0] - at[0]) + abs(point[1] - at[1]), 2,
                                       f"{rope} and {other} share the bend {point}")
                bends.append((rope, point))
        # An ask's label sits on its own rope, in view, below the toolbar.
        ask = subprocess.Popen(["welkmora", "ask", "Sh", "sleep 3"], env=self.host.lead, stdout=subprocess.DEVNULL)
        try:
            label = wait_for("the ask's label", lambda: self.run_js(
                "const l = document.querySelector('#rope-labels .talk-label.ask'); if (!l) return null;"
                "const r = l.getBoundingClientRect(), v = document.getElementById('viewport').getBoundingClientRect();"
                "const p = document.querySelector(`#rope-lines path.talk[data-a='${l.dataset.a}'][data-b='${l.dataset.b}']`);"
                "const n = p.getTotalLength(), m = p.getScreenCTM(), x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;"
                "let near = Infinity; for (let i = 0; i <= 400; i++) { const q = p.getPointAtLength(n * i / 400)"
                ".matrixTransform(m); near = Math.min(near, Math.hypot(q.x - x, q.y - y)); }"
                "return {inView: r.top >= v.top && r.bottom <= v.bottom && r.left >= v.left && r.right <= v.right,"
                " near, height: r.height, text: l.textContent}"))
            self.assertTrue(label["inView"], label)
            self.assertLess(label["near"], label["height"] / 2, f"its rope runs through the label: {label}")
            self.assertIn("Lead \u2192 Sh: asking", label["text"])
        finally:
            ask.wait(timeout=60)
        # Hovering a window lights its ropes and dims the others.
        ActionChains(self.browser).move_to_element(self.item("t:Vim")).perform()
        lit = self.run_js("return [...document.querySelectorAll('#rope-lines path.rope')].map(p =>"
                          " [p.dataset.a + '-' + p.dataset.b, p.getAttribute('class')])")
        for rope, cls in lit:
            self.assertIn("lit" if "t:Vim" in rope.split("-") else "dim", cls, rope)

    def test_search_every_terminal(self):
        self.type_into("Sh", "echo needle-$((6*7)); seq 1 100", Keys.ENTER)
        self.wait_screen("Sh", r"(?m)^100$")
        self.assertNotIn("needle-42", self.screen("Sh"), "scrolled off the screen")
        self.browser.find_element(By.ID, "search-open").click()
        ActionChains(self.browser).send_keys("NEEDLE-42", Keys.ENTER).perform()
        found = wait_for("the match", lambda: self.browser.find_elements(By.CSS_SELECTOR, "#search li.terminal"))
        self.assertEqual([f.find_element(By.TAG_NAME, "h3").text for f in found], ["Sh"])
        found[0].find_element(By.CSS_SELECTOR, "li.line").click()
        shown = "return window.welkmora.board.items.get('t:Sh').screen.shown()"
        wait_for("the line shown", lambda: "needle-42" in self.run_js(shown))
        self.assertGreaterEqual(self.run_js("return window.welkmora.board.view.scale"), 0.8)
        # Ctrl+Shift+F opens it from anywhere, a terminal's keys included.
        self.browser.find_element(By.CSS_SELECTOR, "#search .close").click()
        self.type_into("Sh", "")
        ActionChains(self.browser).key_down(Keys.CONTROL).key_down(Keys.SHIFT).send_keys("f") \
            .key_up(Keys.SHIFT).key_up(Keys.CONTROL).perform()
        wait_for("the search open", lambda: self.browser.find_element(By.ID, "search").is_displayed())


class Crowd(Page):
    """Thirty terminals: the overview still shows every one."""

    WINDOW = (1920, 1080)

    @classmethod
    def populate(cls):
        for i in range(29):
            cls.host.client("recruit", f"T{i:02}", "--command", "/bin/bash --norc --noprofile -i").check_returncode()

    def test_thirty_in_view(self):
        self.assertEqual(self.run_js("return window.welkmora.board.items.size"), 30)
        self.assert_overview("with thirty", 1 / 100)
        self.screenshot("canvas-30.png")


if __name__ == "__main__":
    unittest.main(verbosity=2)
