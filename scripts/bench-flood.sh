#!/usr/bin/env bash
# Terminal output as fast as it comes: a program prints a file and then
# touches DONE (`cat FILE; touch DONE`) in a 120x40 terminal, and the time
# until DONE is taken. A pty's buffer is small, so cat ends only when the
# terminal's owner has read nearly everything. Each output shape runs in
# one go, RUNS times each (default 5; -n RUNS), as
#   - a bare pty whose reader parses nothing,
#   - tmux (installed by this script if it is missing),
#   - welkmora-host, without and then with the canvas page open,
# and prints min and median, with the host's CPU seconds per MB. Then the
# page's key echo (median and p90): idle, and while another terminal floods.
# With -p, everything measured runs on CPU 0 and the browser alone on CPU 1,
# so that the page's figures show what the page costs the host rather than
# what the browser takes from the same cores (a person's browser has cores
# of its own).
# It is not part of the test suite; figures go to doc/benchmarks.md.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=5
pin=
while getopts n:p flag; do
  case $flag in
    n) runs=$OPTARG ;;
    p) pin="taskset -c 0" ;;
    *) echo "usage: $0 [-n RUNS] [-p]" >&2; exit 2 ;;
  esac
done
bash scripts/setup.sh
command -v tmux >/dev/null || apt-get install -y tmux >/dev/null
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target welkmora welkmora-host >/dev/null

work=$(mktemp -d)
host_pid=
trap '[ -n "$host_pid" ] && kill -TERM "$host_pid" 2>/dev/null; tmux -L flood kill-server 2>/dev/null; wait; rm -rf "$work"' EXIT
seq 1 300000 >"$work/seq"
head -c 6000000 /dev/urandom | base64 -w 96 >"$work/lines96"
head -c 6000000 /dev/urandom | base64 -w 200 >"$work/base64"
{ yes || true; } | head -c 10M >"$work/yes"

# The host's terminals get the size the others have, 120x40, not a
# recruit's 80x24: the state file keeps that size for their names.
/usr/bin/python3 - "$runs" >"$work/state.json" <<'PY'
import json, sys
names = [f"F{n}" for n in range(1, 16 * int(sys.argv[1]) + 1)] + ["Quiet", "Flood"]
layout = [{"kind": "terminal", "name": n, "x": 0, "y": 0, "w": 120, "h": 40} for n in names]
print(json.dumps({"version": 1, "notes": [], "roles": [], "ropes": [], "layout": layout}))
PY

export PATH="$PWD/build:$PATH"
$pin welkmora-host serve --socket "$work/host.sock" --state "$work/state.json" --web 127.0.0.1:0 \
  </dev/null 2>"$work/host.log" &
host_pid=$!
until grep -q 'canvas: ' "$work/host.log"; do sleep 0.05; done
eval "$(welkmora-host join Lead --socket "$work/host.sock" 2>/dev/null)"
$pin tmux -L flood -f /dev/null new-session -d -s flood -x 120 -y 40 'sleep 100000'

/usr/bin/python3 - "$runs" "$host_pid" "$work" "${pin:+pin}" <<'PY'
import os, pty, re, statistics, struct, subprocess, sys, tempfile, time, fcntl, termios

runs, host, work, pin = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4] == "pin"
if pin:
    os.sched_setaffinity(0, {0})
shapes = [("seq 1 300000", "seq"), ("8 MB of 96-char lines", "lines96"),
          ("8 MB of 200-char base64", "base64"), ("yes | head -c 10M", "yes")]
tick = os.sysconf("SC_CLK_TCK")

def host_cpu():
    fields = open(f"/proc/{host}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick

def wait_done(done, start, limit=300):
    while not os.path.exists(done):
        if time.perf_counter() - start > limit:
            raise RuntimeError("no DONE after %d s" % limit)
        time.sleep(0.001)
    return time.perf_counter() - start

def command(path, done):
    return f"cat {path}; touch {done}"

def bare(path, done):
    start = time.perf_counter()
    pid, fd = pty.fork()
    if pid == 0:
        os.execv("/bin/sh", ["sh", "-c", command(path, done)])
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 40, 120, 0, 0))
    while True:
        try:
            if not os.read(fd, 65536):
                break
        except OSError:
            break
    os.waitpid(pid, 0)
    os.close(fd)
    return wait_done(done, start)

def tmux(path, done):
    start = time.perf_counter()
    subprocess.run(["tmux", "-L", "flood", "new-window", "-d", "-t", "flood", command(path, done)], check=True)
    return wait_done(done, start)

count = 0
def welkmora(path, done):
    global count
    count += 1
    name = f"F{count}"
    start = time.perf_counter()
    subprocess.run(["welkmora", "recruit", name, "--command", command(path, done)],
                   stdout=subprocess.DEVNULL, check=True)
    elapsed = wait_done(done, start)
    subprocess.run(["welkmora", "dismiss", name], stdout=subprocess.DEVNULL, check=True)
    return elapsed

def measure(runner, path):
    times, cpu = [], 0.0
    for i in range(runs):
        done = f"{work}/DONE"
        if os.path.exists(done):
            os.remove(done)
        before = host_cpu()
        times.append(runner(path, done))
        cpu += host_cpu() - before
    return min(times), statistics.median(times), cpu / runs

def table(title, with_page):
    print(f"\n{title}")
    print(f"{'output':26} {'bare pty':>15} {'tmux':>15} {'welkmora-host':>15} {'host/tmux':>9} "
          f"{'host/bare':>9} {'host CPU s/MB':>13}")
    results = {}
    for label, name in shapes:
        path = f"{work}/{name}"
        mb = os.path.getsize(path) / 1e6
        b, t, h = measure(bare, path), measure(tmux, path), measure(welkmora, path)
        results[name] = h
        cell = lambda r: f"{r[0]:.2f} / {r[1]:.2f}"
        print(f"{label:26} {cell(b):>15} {cell(t):>15} {cell(h):>15} {h[1] / t[1]:9.2f} {h[1] / b[1]:9.2f} "
              f"{h[2] / mb:13.3f}", flush=True)
    return results

print(f"time until DONE in seconds, min / median of {runs}; 120x40 terminals" +
      ("; measured on CPU 0, the browser on CPU 1" if pin else ""))
alone = table("no page open:", False)

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
url = re.search(r"canvas: (\S+)", open(f"{work}/host.log").read()).group(1)
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--window-size=1600,1000",
             "--user-data-dir=" + tempfile.mkdtemp(dir=work)):
    options.add_argument(flag)
if pin:
    os.sched_setaffinity(0, {1})  # the browser, and only it, on CPU 1
browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
if pin:
    os.sched_setaffinity(0, {0})
browser.set_script_timeout(300)
try:
    browser.get(url)
    time.sleep(2)
    paged = table("with the canvas page open (bare pty and tmux again, for the same moment):", True)
    print("\nwith the page / without: " + ", ".join(
        f"{name} {paged[name][1] / alone[name][1]:.2f}" for _, name in shapes))

    # The two tables are minutes apart, and a short run's time drifts with
    # the machine more than the page changes it: so again, each run with
    # the page closed (the browser on an empty page) right before one with
    # it open, and the medians compared.
    print("\npage closed / open, run by run, medians:", flush=True)
    for label, name in shapes:
        closed, opened = [], []
        for _ in range(runs):
            browser.get("about:blank")
            time.sleep(0.5)
            closed.append(welkmora(f"{work}/{name}", f"{work}/DONE"))
            os.remove(f"{work}/DONE")
            browser.get(url)
            time.sleep(1.5)
            opened.append(welkmora(f"{work}/{name}", f"{work}/DONE"))
            os.remove(f"{work}/DONE")
        c, o = statistics.median(closed), statistics.median(opened)
        print(f"  {label:26} closed {c:.2f}  open {o:.2f}  open/closed {o / c:.2f}", flush=True)

    subprocess.run(["welkmora", "recruit", "Quiet", "--command", "cat"], stdout=subprocess.DEVNULL, check=True)
    time.sleep(1)
    echo = """
      const done = arguments[0], board = window.welkmora.board, times = [];
      const screen = () => board.items.get('t:Quiet').screen.text();
      (async () => {
        for (let i = 0; i < 21; i++) {
          const mark = 'k' + i + 'x', start = performance.now();
          board.act({op: 'text', id: 't:Quiet', text: mark});
          while (!screen().includes(mark)) await new Promise((r) => requestAnimationFrame(r));
          times.push(performance.now() - start);
          board.act({op: 'text', id: 't:Quiet', text: '\\r'});
          await new Promise((r) => setTimeout(r, 30));
        }
        times.sort((a, b) => a - b);
        done([times[10], times[18]]);
      })();"""
    idle = browser.execute_async_script(echo)
    subprocess.run(["welkmora", "recruit", "Flood", "--command", f"while :; do cat {work}/lines96; done"],
                   stdout=subprocess.DEVNULL, check=True)
    time.sleep(1)
    flooding = browser.execute_async_script(echo)
    print(f"\nkey echo on the page: idle median {idle[0]:.1f} ms, p90 {idle[1]:.1f} ms; "
          f"while another terminal floods median {flooding[0]:.1f} ms, p90 {flooding[1]:.1f} ms")
finally:
    browser.quit()
PY
