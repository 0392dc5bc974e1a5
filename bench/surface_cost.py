#!/usr/bin/python3
"""What the control surface costs the player while a page watches it.

Plays the same show twice for SECONDS at its rate, on SDL's dummy driver:
once alone, once with the page open in headless Chromium (pictures
streaming). Prints the player's processor time for each, and in the run
with the page the share of one core taken by the surface's own threads
(the server's, the page's writers, the JPEG encoder), read from /proc.

    bench/surface_cost.py [BUILD_DIR] [SECONDS] [WxH]
"""
import os
import re
import subprocess
import sys
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 20
size = sys.argv[3] if len(sys.argv) > 3 else "1280x720"
data = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")
tick = os.sysconf("SC_CLK_TCK")
SURFACE = ("civetweb", "kolvex-ws", "kolvex-jpeg")


def threads(pid):
    """Processor seconds of each thread of `pid`, by the thread's name."""
    out = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2:].split()
        out[(tid, name)] = (int(fields[11]) + int(fields[12])) / tick
    return out


def play(with_page):
    env = dict(os.environ, SDL_VIDEODRIVER="dummy")
    cmd = [f"{build}/player/kolvex", "--http", "0", "--size", size, "--fps", "24",
           "layer_gen", f"{data}/ant.png", "--blit", "ADD", f"{data}/code.png", "--alpha", "120"]
    player = subprocess.Popen(cmd, env=env, stderr=subprocess.PIPE, text=True)
    url = re.search(r"http://\S+", player.stderr.readline()).group(0)
    browser = None
    if with_page:
        o = webdriver.ChromeOptions()
        for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage"):
            o.add_argument(a)
        browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=o)
        browser.set_window_size(1024, 768)
        browser.get(url)
    time.sleep(3)  # settled: the page has its state and its first pictures
    before, t0 = threads(player.pid), time.monotonic()
    time.sleep(seconds)
    after, wall = threads(player.pid), time.monotonic() - t0
    if browser:
        browser.quit()
    player.terminate()
    player.wait()
    used = {k: after[k] - before.get(k, 0) for k in after}
    whole = sum(used.values()) / wall
    surface = sum(v for (tid, name), v in used.items() if name.startswith(SURFACE)) / wall
    return whole, surface


alone, _ = play(False)
watched, surface = play(True)
print(f"{size} at 24 fps, {seconds} s: the player alone {100 * alone:.1f}% of a core, "
      f"with a page {100 * watched:.1f}%; the surface's threads {100 * surface:.1f}%")
