#!/usr/bin/env bash
# The canvas page with thirty terminals, in headless Chromium at 1920x1080:
#   - loading: from the start of the page's navigation to the frame in
#     which every terminal's screen is drawn and placed, over RUNS loads
#     (default 5; -n RUNS): median and max;
#   - panning: the view moved 4 pixels every frame for 3 s, in the overview
#     and near a window, as a drag of the background does; the frame rate
#     and the 95th percentile of frame times, from the page's
#     requestAnimationFrame times (the median of three runs, after one to
#     warm up);
#   - the main thread's cost of that, from the DevTools protocol's
#     performance metrics (script, layout and all tasks per frame).
# Each terminal shows a full screen of text (a listing), the lead is roped
# to all. It is not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=5
while getopts n: flag; do
  case $flag in
    n) runs=$OPTARG ;;
    *) echo "usage: $0 [-n RUNS]" >&2; exit 2 ;;
  esac
done
source scripts/bench-host.sh
for i in $(seq -w 1 29); do
  welkmora recruit "T$i" --command "bash -c 'ls -l --color=always /usr/lib | head -40; exec bash --norc --noprofile -i'" \
    >/dev/null
done
sleep 2

/usr/bin/python3 - "$runs" "$work" <<'PY'
import re, statistics, sys, tempfile, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service

runs, work = int(sys.argv[1]), sys.argv[2]
url = re.search(r"canvas: (\S+)", open(f"{work}/host.log").read()).group(1)
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + tempfile.mkdtemp(dir=work)):
    options.add_argument(flag)
browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
browser.set_script_timeout(60)
try:
    browser.set_window_size(1920, 1080)
    inner = browser.execute_script("return [window.innerWidth, window.innerHeight]")
    browser.set_window_size(3840 - inner[0], 2160 - inner[1])
    # From the first frame on, each frame looks whether every screen is drawn.
    browser.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": """
      window.drawnAt = null;
      const look = () => {
        const b = window.welkmora && window.welkmora.board;
        const all = b && b.items.size === 30 && [...b.items.values()].every(i => !i.unplaced &&
          (!i.sizedByScreen() || (i.screen.size[0] > 0 && i.screen.text().trim().split('\\n').length >= 20)));
        if (all) window.drawnAt = performance.now(); else requestAnimationFrame(look);
      };
      requestAnimationFrame(look);"""})
    loads = []
    for _ in range(runs):
        browser.get("about:blank")
        browser.get(url)
        deadline = time.monotonic() + 30
        while browser.execute_script("return window.drawnAt") is None and time.monotonic() < deadline:
            time.sleep(0.05)
        loads.append(browser.execute_script("return window.drawnAt"))
    print(f"30 terminals, every screen drawn after load ({runs} loads): "
          f"median {statistics.median(loads):.0f} ms, max {max(loads):.0f} ms")
    time.sleep(1)
    browser.execute_cdp_cmd("Performance.enable", {})

    def pan():
        before = {m["name"]: m["value"] for m in browser.execute_cdp_cmd("Performance.getMetrics", {})["metrics"]}
        frames = browser.execute_async_script("""
          const done = arguments[0], v = window.welkmora.board.viewport, times = [];
          const start = performance.now();
          const step = (now) => {
            times.push(now);
            v.set({...v.view, x: v.view.x + (times.length % 240 < 120 ? 4 : -4)});
            if (now - start < 3000) requestAnimationFrame(step); else done(times);
          };
          requestAnimationFrame(step);""")
        after = {m["name"]: m["value"] for m in browser.execute_cdp_cmd("Performance.getMetrics", {})["metrics"]}
        gaps = sorted(b - a for a, b in zip(frames, frames[1:]))
        n = len(frames) - 1
        per = lambda key: (after[key] - before[key]) * 1000 / n
        return (n / ((frames[-1] - frames[0]) / 1000), gaps[int(len(gaps) * 0.95)], per("ScriptDuration"),
                per("LayoutDuration"), per("TaskDuration"))

    def report(where):
        pan()  # warm up
        fps, p95, script, layout, tasks = sorted(pan() for _ in range(3))[1]
        print(f"panning {where}, median of 3 runs of 3 s: {fps:.1f} frames/s, frame p95 {p95:.1f} ms; "
              f"main thread per frame: script {script:.2f} ms, layout {layout:.2f} ms, all tasks {tasks:.2f} ms")

    browser.execute_script("window.welkmora.board.overview()")
    report("in the overview (all 30 in view)")
    browser.execute_script("const b = window.welkmora.board; b.activate(b.items.get('t:T15'))")
    report("near one window (100%)")
finally:
    browser.quit()
PY
