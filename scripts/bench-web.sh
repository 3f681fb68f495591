#!/usr/bin/env bash
# The canvas page under load: 20 terminals print as fast as they can (`yes`
# with colours) while a page is open in headless Chromium. Measures
#   - `welkmora list` wall time (RUNS runs, default 300; -n RUNS), without and
#     with the page open: median, p99, max;
#   - the page's responsiveness: key to echo on a quiet terminal (a `cat`),
#     and how late the page's own timers fire (main-thread lag);
#   - the screen updates the page receives per second;
#   - the host's resident memory: before the page, with it, and with a page
#     that stalls (a WebSocket that is never read).
# It is not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=300
while getopts n: flag; do
  case $flag in
    n) runs=$OPTARG ;;
    *) echo "usage: $0 [-n RUNS]" >&2; exit 2 ;;
  esac
done
source scripts/bench-host.sh
line=$(printf '\033[32mgreen\033[0m \033[1;34mbold blue\033[0m plain text to fill the line %.0s' 1 2)
for i in $(seq 20); do
  welkmora recruit "P$i" --command "yes '$line'" >/dev/null
done
welkmora recruit Quiet --command cat >/dev/null

/usr/bin/python3 - "$runs" "$host_pid" "$work" <<'PY'
import base64, os, re, socket, statistics, subprocess, sys, tempfile, time
from selenium import webdriver
from selenium.webdriver.chrome.service import Service

runs, pid, work = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
url = re.search(r"canvas: (\S+)", open(f"{work}/host.log").read()).group(1)

def rss_mib():
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) / 1024

def list_times():
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(["welkmora", "list"], stdout=subprocess.DEVNULL, check=True)
        times.append((time.perf_counter() - start) * 1000)
    times.sort()
    return f"median {statistics.median(times):5.1f}  p99 {times[int(len(times) * 0.99) - 1]:5.1f}  max {times[-1]:5.1f} ms"

time.sleep(2)
print(f"host memory, 21 terminals, no page: {rss_mib():.1f} MiB")
print(f"welkmora list, no page ({runs} runs):   {list_times()}")

options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--window-size=1600,1000", "--user-data-dir=" + tempfile.mkdtemp(dir=work)):
    options.add_argument(flag)
browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
browser.set_script_timeout(300)
try:
    browser.get(url)
    time.sleep(3)
    browser.execute_script("""
      const board = window.welkmora.board, screen = board.screen.bind(board);
      window.bench = {screens: 0, lags: []};
      board.screen = (m) => { window.bench.screens++; screen(m); };
      let last = performance.now();
      setInterval(() => { const now = performance.now(); window.bench.lags.push(now - last - 50); last = now; }, 50);""")
    print(f"welkmora list, page open ({runs} runs): {list_times()}")
    rates = browser.execute_script("return window.bench.screens") 
    time.sleep(5)
    rates = (browser.execute_script("return window.bench.screens") - rates) / 5
    print(f"screen updates received by the page: {rates:.0f}/s (20 busy terminals)")
    echo = browser.execute_async_script("""
      const done = arguments[0], board = window.welkmora.board, times = [];
      const screen = () => board.items.get('t:Quiet').screen.text();
      (async () => {
        for (let i = 0; i < 11; i++) {
          const mark = 'k' + i + 'x', start = performance.now();
          board.act({op: 'text', id: 't:Quiet', text: mark + '\\r'});
          while (!screen().includes(mark)) await new Promise((r) => setTimeout(r, 2));
          times.push(performance.now() - start);
        }
        times.sort((a, b) => a - b);
        done([times[5], times[10]]);
      })();""")
    lags = sorted(browser.execute_script("return window.bench.lags"))
    print(f"page: key to echo median {echo[0]:.0f} ms, max {echo[1]:.0f} ms; "
          f"timer lag median {statistics.median(lags):.0f} ms, p99 {lags[int(len(lags) * 0.99) - 1]:.0f} ms")
    print(f"host memory with the page open: {rss_mib():.1f} MiB")

    # A page that stops reading: the host keeps marks, not a queue.
    port = int(url.split(":")[2].split("/")[0]); key = url.split("key=")[1]
    stalled = socket.create_connection(("127.0.0.1", port))
    stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    stalled.sendall((f"GET /ws HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nOrigin: http://127.0.0.1:{port}\r\n"
                     f"Sec-WebSocket-Protocol: welkmora-canvas, welkmora-key.{key}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     f"Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: {base64.b64encode(os.urandom(16)).decode()}"
                     "\r\n\r\n").encode())
    for seconds in (10, 30):
        time.sleep(seconds - (10 if seconds == 30 else 0))
        print(f"host memory with a stalled page besides, after {seconds} s: {rss_mib():.1f} MiB")
    print(f"welkmora list, with both ({runs} runs):  {list_times()}")
    stalled.close()
finally:
    browser.quit()
PY
