#!/usr/bin/python3
# The control surface in a real browser, against the real player.
#
# usage: browser_test.py PLAYER DATA_DIR [unittest arguments]
#
# Selenium drives Debian's headless Chromium through chromedriver: both are
# Debian packages, so nothing is downloaded when the tests run. Each test
# starts the player with --http 0 (its port read from its stderr) and kills
# it at the end whatever happens. With KOLVEX_SCREENSHOTS=DIR set, the layout
# test saves the page at phone and tablet sizes into DIR.
import http.server
import os
import re
import shlex
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By

PLAYER, DATA = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])

# The page's socket and its messages, and the controls' events, as the page
# sees them, timed by its own clock.
SPY = """
window.__log = []; window.__events = []; window.__pictures = []; window.__NativeWebSocket = WebSocket;
window.WebSocket = class extends WebSocket {
  constructor(url, protocols) {
    super(url, protocols);
    window.__ws = this;
    this.addEventListener('message', (e) => {
      if (typeof e.data === 'string') __log.push([performance.now(), JSON.parse(e.data)]);
      else __pictures.push(performance.now());
    });
  }
};
for (const t of ['pointerdown', 'input', 'change', 'click', 'keydown'])
  addEventListener(t, (e) => {
    const c = e.target.closest && e.target.closest('[data-path]');
    if (c) __events.push([performance.now(), c.dataset.path, t]);
  }, true);
"""


def wait_for(what, seconds=10, step=0.05):
    end = time.monotonic() + seconds
    while True:
        got = what()
        if got or time.monotonic() > end:
            return got
        time.sleep(step)


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# The player with a control surface, killed on close.
class Player:
    def __init__(self, *args, cwd=None):
        self.proc = subprocess.Popen([PLAYER, "--http", "0", *args], cwd=cwd, stderr=subprocess.PIPE,
                                     stdout=subprocess.DEVNULL, text=True)
        self.lines = []
        self.url = None
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        wait_for(lambda: self.url or self.proc.poll() is not None, 20)
        if not self.url:
            self.close()
            raise AssertionError("no control surface: " + " | ".join(self.lines))

    def _read(self):
        for line in self.proc.stderr:
            self.lines.append(line.rstrip("\n"))
            m = re.search(r"control surface at http://[^/]*:(\d+)/", line)
            if m:
                self.port = int(m.group(1))
                self.url = f"http://127.0.0.1:{self.port}/"

    def close(self):
        self.proc.terminate()
        try:
            self.proc.wait(15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.reader.join(5)
        self.proc.stderr.close()


# One browser window on the page, with the page's messages kept.
class Page:
    def __init__(self, url, width=1024, height=768):
        opts = webdriver.ChromeOptions()
        for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", f"--window-size={width},{height}"):
            opts.add_argument(a)
        opts.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        self.d = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=opts)
        self.d.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": SPY})
        self.log = []
        self.d.get(url)

    def ready(self, seconds=15):
        return wait_for(lambda: self.d.find_elements(By.CSS_SELECTOR, ".strip [data-path]"), seconds)

    def q(self, css):
        return self.d.find_element(By.CSS_SELECTOR, css)

    def js(self, script, *args):
        return self.d.execute_script(script, *args)

    def messages(self):
        self.log += self.js("return window.__log.splice(0)")
        return self.log

    def find(self, kind, after=0.0, match=lambda m: True):
        return [(t, m) for t, m in self.messages() if m["type"] == kind and t >= after and match(m)]

    # The page's time of the first "changes" for `path` after `after`
    # (a trigger has no value: the "done" of its set).
    def echoed(self, path, after, trigger=False):
        got = self.find("done", after) if trigger else \
            self.find("changes", after, lambda m: any(i["path"] == path for i in m["items"]))
        return got[0][0] if got else None

    # The frame of the last "live" before `at`, or of the first after, and its time.
    def frame_near(self, at, before=True):
        near = [(m["frame"], t) for t, m in self.find("live") if (t <= at if before else t >= at)]
        return (near[-1] if before else near[0]) if near else None

    def send(self, text):
        self.js("window.__ws.send(arguments[0])", text)

    def script_errors(self):
        return [e["message"] for e in self.d.get_log("browser") if e["source"] == "javascript"]

    def close(self):
        self.d.quit()


# A show file's changes: (frame, path, [values]).
def record_lines(path):
    with open(path) as f:
        words = [shlex.split(line) for line in f if line[:1].isdigit()]
    return [(int(w[0]), w[1], w[2:]) for w in words if len(w) >= 2 and w[1].startswith("/")]


# How much redder than blue the middle of the page's preview is: the ant
# is orange, the code behind it green on black. Null before a picture has
# loaded.
PREVIEW_RED = """
const img = document.querySelector('#programme'), c = document.createElement('canvas');
if (!img.complete || !img.naturalWidth) return null;
[c.width, c.height] = [img.naturalWidth, img.naturalHeight];
const g = c.getContext('2d');
g.drawImage(img, 0, 0);
const d = g.getImageData(c.width * 3 / 8, c.height * 3 / 8, c.width / 4, c.height / 4).data;
let red = 0;
for (let i = 0; i < d.length; i += 4) red += d[i] - d[i + 2];
return red / (d.length / 4);
"""


# A player and its pages, closed whatever happens.
class Surface(unittest.TestCase):
    def start(self, *args, pages=1, **kw):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.player = Player(*args, cwd=self.tmp.name, **kw)
        # A sanitizer's build tells what it found on the player's stderr.
        self.addCleanup(lambda: self.assertEqual(
            [l for l in self.player.lines if "Sanitizer" in l or "runtime error" in l], []))
        self.addCleanup(self.player.close)
        self.pages = []
        for _ in range(pages):
            p = Page(self.player.url)
            self.addCleanup(p.close)
            self.addCleanup(lambda p=p: self.assertEqual(p.script_errors(), []))
            self.assertTrue(p.ready(), "no controls in the page")
            self.pages.append(p)
        return self.pages[0]

    def stop_and_read(self, record):
        self.player.close()
        return record_lines(os.path.join(self.tmp.name, record))


class ChangesReachTheFrame(Surface):
    def test_each_row_type_is_recorded_at_the_frame_it_was_made(self):
        page = self.start("--record", "set.show", os.path.join(DATA, "ant.png"), "layer_gen")

        def drag_alpha():
            s = page.q('[data-path="/layer/1/alpha"]')
            ActionChains(page.d).move_to_element_with_offset(s, -s.size["width"] // 4, 0).click_and_hold() \
                .move_by_offset(-8, 0).release().perform()
            return float(s.get_attribute("value"))

        def choose_blit():
            page.js("const s = arguments[0]; s.value = 'ADD'; s.dispatchEvent(new Event('change'))",
                    page.q('[data-path="/layer/1/blit"]'))
            return "ADD"

        def osd_text():
            page.q('[data-path="/osd/top"]').send_keys("on stage\n")
            return "on stage"

        def fade_out():
            for name, v in (("target", "0.5"), ("seconds", "2")):
                page.q(f'input[data-path="/layer/2/fade/out"][data-arg="{name}"]').send_keys(v)
            page.q('button[data-path="/layer/2/fade/out"]').click()
            return ["0.5", "2"]

        rows = [("/layer/1/alpha", drag_alpha), ("/layer/1/blit", choose_blit),
                ("/layer/2/shown", lambda: page.q('[data-path="/layer/2/shown"]').click() or "0"),
                ("/osd/top", osd_text), ("/layer/2/fade/out", fade_out)]
        made = []
        for path, act in rows:
            wait_for(lambda: page.find("live"))
            t0 = page.js("return performance.now()")
            want = act()
            # The frame the change was made at lies between the last "live"
            # before the input and the first after its echo.
            echo = wait_for(lambda: page.echoed(path, t0, path.endswith("/out")), 5)
            self.assertIsNotNone(echo, f"{path}: no echo")
            # The user's last action on it before the echo: a release, Enter, a click.
            t_in = max(e[0] for e in page.js("return __events") if e[1] == path and t0 <= e[0] <= echo)
            after = wait_for(lambda: page.frame_near(echo, before=False), 5)[0]
            made.append((path, want, t_in, echo, page.frame_near(t0), after))

        # A burst within the page's rate is spread over frames, all of it taken.
        page.js("for (let i = 0; i < 100; i++) window.__ws.send(JSON.stringify("
                "{type: 'set', path: '/osd/middle', value: ['ab'[i % 2]]}))")
        time.sleep(1.5)
        record = self.stop_and_read("set.show")
        burst = [f for f, p, v in record if p == "/osd/middle"]
        per_frame = [burst.count(f) for f in set(burst)]
        self.assertEqual(sum(per_frame), 100)
        self.assertLessEqual(max(per_frame), 64)
        latencies, frames = [], []
        for path, want, t_in, echo, (before, t_before), after in made:
            with self.subTest(path=path):
                lines = [(f, v) for f, p, v in record if p == path]
                self.assertTrue(lines, f"{path} not recorded")
                frame, value = lines[-1]
                if isinstance(want, float):
                    self.assertAlmostEqual(float(value[0]), want, delta=0.5 / 255 + 1e-6)
                else:
                    self.assertEqual(value, want if isinstance(want, list) else [want])
                self.assertLessEqual(before, frame)
                self.assertLessEqual(frame, after)
                latencies.append(echo - t_in)
                frames.append(frame - (before + (t_in - t_before) / 1000 * 24))  # the frame at the input
        print(f"\npage input -> its echo: median {statistics.median(latencies):.1f} ms, worst {max(latencies):.1f} ms;"
              f" frames from the input to the recorded one: median {statistics.median(frames):.1f},"
              f" worst {max(frames):.1f}", file=sys.stderr)


def osc(path, tag, value):
    pad = lambda b: b + b"\0" * (4 - len(b) % 4)
    arg = {"f": lambda v: struct.pack(">f", v), "i": lambda v: struct.pack(">i", v),
           "s": lambda v: pad(v.encode())}[tag](value)
    return pad(path.encode()) + pad(("," + tag).encode()) + arg


class OscReachesEveryPage(Surface):
    def test_an_osc_change_shows_in_two_pages(self):
        port = free_udp_port()
        self.start("--osc", str(port), os.path.join(DATA, "ant.png"), pages=2)
        read = {"value": lambda e: float(e.get_attribute("value")),
                "aria-pressed": lambda e: e.get_attribute("aria-pressed"),
                "text": lambda e: e.get_attribute("value")}
        rows = [("/layer/1/alpha", "f", 0.25, "value", lambda v: abs(v - 0.25) < 0.01),
                ("/layer/1/shown", "i", 0, "aria-pressed", lambda v: v == "false"),
                ("/osd/middle", "s", "from the desk", "text", lambda v: v == "from the desk")]
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            for path, tag, value, attr, ok in rows:
                with self.subTest(path=path):
                    s.sendto(osc(path, tag, value), ("127.0.0.1", port))
                    deadline = time.monotonic() + 1.0
                    for p in self.pages:
                        shown = wait_for(lambda: ok(read[attr](p.q(f'[data-path="{path}"]'))),
                                         deadline - time.monotonic())
                        self.assertTrue(shown, f"{path} not shown within a second")


class BankToScreen(Surface):
    def test_a_tile_dropped_on_new_layer_is_a_strip_and_on_screen(self):
        page = self.start("--record", "set.show", "--bank", DATA, os.path.join(DATA, "code.png"))

        def tap(name):
            page.q(f'[data-bank="{name}"]').click()
            page.q('.drop[data-path="/layer/add"]').click()

        def drag(name):
            ActionChains(page.d).drag_and_drop(page.q(f'[data-bank="{name}"]'),
                                               page.q('.drop[data-path="/layer/add"]')).perform()

        before = wait_for(lambda: [v for v in [page.js(PREVIEW_RED)] if v is not None], 15)
        self.assertTrue(before, "no picture in the preview")
        before = before[0]
        for n, (how, act) in enumerate((("tap", tap), ("drag", drag)), start=2):
            with self.subTest(how=how):
                act("ant.png")
                strips = wait_for(lambda: len(page.d.find_elements(By.CSS_SELECTOR, ".strip")) == n, 10)
                self.assertTrue(strips, f"no strip {n} after a {how}")
                self.assertIn("ant.png", page.q(".strip .title").text)  # on top
        # On screen: the programme's preview shows the ant over the code.
        self.assertTrue(wait_for(lambda: (page.js(PREVIEW_RED) or before) > before + 20, 5),
                        f"red - blue in the middle {before:.0f} -> {page.js(PREVIEW_RED):.0f}")
        record = self.stop_and_read("set.show")
        adds = [f for f, p, v in record if p == "/layer/add" and v == ["ant.png"]]
        self.assertEqual(len(adds), 2, record)


class Token(Surface):
    def test_the_page_asks_and_a_wrong_token_is_refused(self):
        self.player = Player("--http-token", "sesame", "layer_gen")
        self.addCleanup(self.player.close)
        page = Page(self.player.url)
        self.addCleanup(page.close)
        form = page.q("#token")
        self.assertTrue(wait_for(form.is_displayed, 10), "no token asked")
        for token, refused in (("wrong", True), ("sesame", False)):
            with self.subTest(token=token):
                page.q("#token-input").send_keys(token + "\n")
                if refused:
                    self.assertTrue(wait_for(page.q("#token-refused").is_displayed, 10))
                else:
                    self.assertTrue(page.ready(), "no controls with the right token")
                    self.assertFalse(form.is_displayed())


# Opens the player's socket and tells in the title whether it opened.
KNOCK = """
const ws = new WebSocket('ws://127.0.0.1:%d/ws');
ws.onopen = () => document.title = 'open';
ws.onclose = () => document.title = document.title || 'refused';
"""


class BadInput(Surface):
    def test_foreign_pages_and_bad_messages_are_refused_and_the_show_goes_on(self):
        page = self.start("--fps", "24", os.path.join(DATA, "ant.png"), "layer_gen")
        with self.subTest(what="a socket from another origin"):
            knock = KNOCK % self.player.port
            body = f"<!doctype html><title></title><script>{knock}</script>".encode()

            class Elsewhere(http.server.BaseHTTPRequestHandler):
                def do_GET(self):
                    self.send_response(200)
                    self.end_headers()
                    self.wfile.write(body)

                def log_message(self, *a):
                    pass

            other = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Elsewhere)
            threading.Thread(target=other.serve_forever, daemon=True).start()
            self.addCleanup(other.server_close)
            self.addCleanup(other.shutdown)
            p = Page(f"http://127.0.0.1:{other.server_port}/")
            self.addCleanup(p.close)
            self.assertEqual(wait_for(lambda: p.d.title, 10), "refused")
            # The same from the page's own origin opens.
            page.js("document.title = '';" + knock.replace("new WebSocket", "new __NativeWebSocket"))
            self.assertEqual(wait_for(lambda: page.d.title, 10), "open")

        set_ = '{"type":"set","id":%d,"path":"%s","value":["%s"]}'
        for what, text, id_ in (("malformed", "{type: set", None),
                                ("unknown path", set_ % (901, "/nothing", "1"), 901),
                                ("no path", '{"type":"set","id":904}', 904),
                                ("not a kind of message", '{"type":"launch","id":906}', 906),
                                ("oversized", set_ % (902, "/osd/top", "x" * 40000), None)):
            with self.subTest(what=what):
                t0 = page.js("return performance.now()")
                page.send(text)
                errors = wait_for(lambda: page.find("error", t0), 5)
                self.assertTrue(errors, f"{what}: no error")
                if id_:
                    self.assertEqual(errors[0][1].get("id"), id_)
                page.send(set_ % (903, "/osd/low", what))
                self.assertTrue(wait_for(lambda: page.find("done", t0, lambda m: m["id"] == 903), 5),
                                f"{what}: the page no longer works")

        with self.subTest(what="a flood"):
            # The rate it keeps without one (a sanitizer's build may not make 24).
            time.sleep(2)
            calm = page.find("live", page.js("return performance.now()") - 2000)
            fps = min(24, (calm[-1][1]["frame"] - calm[0][1]["frame"]) / ((calm[-1][0] - calm[0][0]) / 1000))
            t0 = page.js("return performance.now()")
            page.js("for (let i = 0; i < 10000; i++) window.__ws.send(JSON.stringify("
                    "{type: 'set', id: 10000 + i, path: '/layer/1/alpha', value: [(i % 100) / 100]}))")
            time.sleep(4)
            told = page.find("error", t0)
            self.assertEqual(len(told), 1, [m for _, m in told])
            lives = page.find("live", t0)
            (ta, fa), (tb, fb) = (lives[0][0], lives[0][1]["frame"]), (lives[-1][0], lives[-1][1]["frame"])
            rate = (fb - fa) / ((tb - ta) / 1000)
            print(f"\nframes during the flood: {fb - fa} in {(tb - ta) / 1000:.2f} s = {rate:.1f} fps"
                  f" (before it: {fps:.1f})", file=sys.stderr)
            self.assertGreaterEqual(rate, 0.9 * fps)


# How the page sits: sideways scrolling, the smallest control shown,
# whether the strips stand beside the preview, and the preview's picture's
# width against its width on the screen.
LAYOUT = """
const shown = [...document.querySelectorAll('button, input, select, .tile')].filter((e) => e.offsetParent);
const preview = document.querySelector('#programme');
return {scroll: document.documentElement.scrollWidth, picture: [preview.naturalWidth, preview.clientWidth],
        smallest: Math.min(...shown.map((e) => e.getBoundingClientRect().height)),
        beside: document.querySelector('#stack').getBoundingClientRect().left >=
                document.querySelector('#view').getBoundingClientRect().right};
"""


class Layout(Surface):
    def test_phone_and_tablets_fit_and_take_a_thumb(self):
        page = self.start("--bank", DATA, "layer_gen", os.path.join(DATA, "ant.png"), "--alpha", "200",
                          "--set", "scale=0.6")
        shots = os.environ.get("KOLVEX_SCREENSHOTS")  # tools/surface-screenshots.sh
        for name, w, h, beside in (("phone", 390, 844, False), ("tablet", 1024, 768, True),
                                   ("tablet-portrait", 768, 1024, True)):
            with self.subTest(size=name):
                page.d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                       {"width": w, "height": h, "deviceScaleFactor": 1, "mobile": True})
                time.sleep(1.5)  # the preview at its new width
                got = page.js(LAYOUT)
                self.assertLessEqual(got["scroll"], w)
                self.assertGreaterEqual(got["smallest"], 44)
                self.assertEqual(got["beside"], beside)
                # Asked for at its width (the programme's 640 at most) and drawn again since.
                self.assertAlmostEqual(got["picture"][0], min(got["picture"][1], 640), delta=2)
                if shots and name in ("phone", "tablet"):
                    page.d.save_screenshot(os.path.join(shots, f"surface-{name}.png"))
        # Every row the player's tables have for this stack has its control.
        state = page.find("state")[-1][1]
        objects = state["groups"] + [o for l in state["layers"] for o in [l] + l["effects"] + [l["blend"] or {}]]
        rows = {r["path"] for o in objects for r in o.get("params", [])}
        rows -= {"/learn", "/map/remove"}  # the learn toggle, each map's own button
        shown = set(page.js("return [...document.querySelectorAll('[data-path]')].map((e) => e.dataset.path)"))
        self.assertEqual(rows - shown, set())
        # A page that has not drawn its pictures gets no more, until it is
        # thought lost (two seconds).
        page.js("const ws = window.__ws, send = ws.send.bind(ws);"
                "ws.send = (m) => m.includes('ack') || send(m)")
        time.sleep(0.5)  # the batch under way
        t0 = page.js("return performance.now()")
        time.sleep(1.4)
        self.assertEqual(page.js("return __pictures.filter((t) => t > arguments[0]).length", t0), 0)
        self.assertTrue(wait_for(lambda: page.js("return __pictures.filter((t) => t > arguments[0]).length", t0), 3))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
