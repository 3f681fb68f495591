#!/usr/bin/env bash
# What keeping terminals over a restart costs.
#
# Restore: 30 terminals of 120x40, each with 2,000 lines of coloured
# scrollback, are saved by a host that stops; then, RUNS times (default 5;
# -n RUNS), a host starts on them and the time is taken from its start
#   - until its socket lists all 30 held (`welkmora-host ls`), with the
#     host's CPU time until then, and
#   - until a page's WebSocket has its snapshot and the screens of all 30
#     (the data the page draws; the browser's own drawing is not counted).
#
# Saves under a flood: 8 terminals print without pause for SECONDS (default
# 20; -s SECONDS), once with screen saves (every 3 s per terminal that
# changed) and once with --no-save-screens; the host's CPU time over the
# wall time, and per MB printed, for each, alternately, RUNS times.
#
# It is not part of the test suite; figures go to doc/benchmarks.md.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=5
seconds=20
while getopts n:s: flag; do
  case $flag in
    n) runs=$OPTARG ;;
    s) seconds=$OPTARG ;;
    *) echo "usage: $0 [-n RUNS] [-s SECONDS]" >&2; exit 2 ;;
  esac
done
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target welkmora welkmora-host >/dev/null

work=$(mktemp -d)
trap 'kill -TERM $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT
export PATH="$PWD/build:$PATH"

/usr/bin/python3 - "$runs" "$seconds" "$work" <<'PY'
import base64, json, os, re, socket, statistics, struct, subprocess, sys, time

runs, seconds, work = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
tick = os.sysconf("SC_CLK_TCK")
TERMINALS, LINES = 30, 2000


def host(state, *options):
    """Starts welkmora-host serve on `state`; returns the process and its socket."""
    sock = f"{work}/host.sock"
    log = open(f"{work}/host.log", "w")
    process = subprocess.Popen(["welkmora-host", "serve", "--socket", sock, "--state", state, *options],
                               stdin=subprocess.DEVNULL, stderr=log)
    return process, sock


def wait_for(predicate, limit=120):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.002)
    raise RuntimeError("timed out")


def listed(sock):
    run = subprocess.run(["welkmora-host", "ls", "--json", "--socket", sock], capture_output=True, text=True)
    return json.loads(run.stdout)["terminals"] if run.returncode == 0 else []


def join(sock):
    out = subprocess.run(["welkmora-host", "join", "Lead", "--socket", sock], capture_output=True, text=True,
                         check=True).stdout
    return dict(os.environ, **dict(re.findall(r"export (\w+)='?([^'\n]*)'?", out)))


def stop(process):
    process.terminate()
    process.wait(timeout=60)


def cpu(pid, task=None):
    fields = open(f"/proc/{pid}/{'task/' + task + '/' if task else ''}stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick


def writer(pid):
    """The CPU time of the host's thread that writes the screens."""
    for task in os.listdir(f"/proc/{pid}/task"):
        if open(f"/proc/{pid}/task/{task}/comm").read().strip() == "screen-saves":
            return cpu(pid, task)
    return 0.0


def sized_state(path, names):
    """A state file whose layout gives `names` 120x40 windows, as recruits of the page keep them."""
    layout = [{"kind": "terminal", "name": n, "x": 0, "y": 0, "w": 120, "h": 40} for n in names]
    json.dump({"version": 1, "notes": [], "roles": [], "ropes": [], "layout": layout}, open(path, "w"))


class Page:
    """A page's WebSocket, as the browser opens it: it reads messages and acknowledges screens."""

    def __init__(self, url):
        base, key = url.split("#key=")
        port = int(base.split(":")[2].strip("/"))
        self.conn = socket.create_connection(("127.0.0.1", port), timeout=60)
        authority = f"127.0.0.1:{port}"
        self.conn.sendall((f"GET /ws HTTP/1.1\r\nHost: {authority}\r\nOrigin: http://{authority}\r\n"
                           f"Sec-WebSocket-Protocol: welkmora-canvas, welkmora-key.{key}\r\n"
                           "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                           f"Sec-WebSocket-Key: {base64.b64encode(os.urandom(16)).decode()}\r\n\r\n").encode())
        self.buf = b""
        while b"\r\n\r\n" not in self.buf:
            self.buf += self.conn.recv(65536)
        self.buf = self.buf.split(b"\r\n\r\n", 1)[1]

    def read(self, n):
        while len(self.buf) < n:
            chunk = self.conn.recv(1 << 20)
            if not chunk:
                raise RuntimeError("the page's connection closed")
            self.buf += chunk
        out, self.buf = self.buf[:n], self.buf[n:]
        return out

    def message(self):
        data = b""
        while True:
            head = self.read(2)
            length = head[1] & 0x7F
            if length == 126:
                length = struct.unpack(">H", self.read(2))[0]
            elif length == 127:
                length = struct.unpack(">Q", self.read(8))[0]
            data += self.read(length)
            if head[0] & 0x80:
                return json.loads(data)

    def send(self, message):
        payload = json.dumps(message).encode()
        mask = os.urandom(4)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.conn.sendall(bytes([0x81, 0x80 | len(payload)]) + mask + masked)

    def screens(self, names):
        """Reads until the snapshot and a screen of each of `names` have come."""
        snapshot, waiting = False, {"t:" + n for n in names}
        while not snapshot or waiting:
            m = self.message()
            snapshot = snapshot or m.get("t") == "snapshot"
            if m.get("t") == "screen":
                waiting.discard(m["id"])
                self.send({"op": "ack", "screens": 1})


# --- restore ------------------------------------------------------------------

state = f"{work}/restore.json"
names = [f"T{n}" for n in range(1, TERMINALS + 1)]
sized_state(state, names)
process, sock = host(state)
wait_for(lambda: os.path.exists(sock))
lead = join(sock)
with open(f"{work}/lines.py", "w") as f:
    f.write(f"for i in range({LINES + 100}):\n"
            "    print('\\033[1;3%dm%05d\\033[0m the quick brown fox jumps over the lazy dog, "
            "line %d of a long and busy scrollback' % (i % 7 + 1, i, i))\n")
lines = f"/usr/bin/python3 {work}/lines.py; sleep 100000"
for name in names:
    subprocess.run(["welkmora", "recruit", name, "--command", lines], env=lead, check=True,
                   stdout=subprocess.DEVNULL)
wait_for(lambda: all(f"{LINES + 99:05d}" in subprocess.run(["welkmora", "check", n], env=lead, capture_output=True,
                                                            text=True).stdout for n in names))
stop(process)
kept = sum(os.path.getsize(os.path.join(state + ".terminals", f)) for f in os.listdir(state + ".terminals"))
print(f"restore: {TERMINALS} terminals, {LINES} lines of scrollback each, {kept / 1e6:.1f} MB kept")

ready, paged, spent = [], [], []
for _ in range(runs):
    start = time.perf_counter()
    process, sock = host(state, "--web", "127.0.0.1:0")
    wait_for(lambda: len([t for t in listed(sock) if t["state"] == "held"]) == TERMINALS)
    ready.append(time.perf_counter() - start)
    spent.append(cpu(process.pid))
    url = None
    def canvas():
        global url
        found = re.search(r"canvas: (http://\S+)", open(f"{work}/host.log").read())
        url = found and found.group(1)
        return url
    wait_for(canvas)
    Page(url).screens(names)
    paged.append(time.perf_counter() - start)
    stop(process)
print("  host start to all listed held: min %.3f s, median %.3f s" % (min(ready), statistics.median(ready)))
print("  host start to page data ready: min %.3f s, median %.3f s" % (min(paged), statistics.median(paged)))
print("  the host's CPU time until listed: min %.3f s, median %.3f s" % (min(spent), statistics.median(spent)))

# --- saves under a flood ---------------------------------------------------------

FLOODS = 8
blob = f"{work}/lines96"
subprocess.run(f"base64 -w 96 < /dev/urandom | head -c 8000000 > {blob}", shell=True, check=True)
mb = os.path.getsize(blob) / 1e6


def flood(save):
    state = f"{work}/flood-{'save' if save else 'nosave'}.json"
    for leftover in (state, state + ".terminals"):
        subprocess.run(["rm", "-rf", leftover], check=True)
    flooders = [f"F{n}" for n in range(FLOODS)]
    sized_state(state, flooders)
    process, sock = host(state, *([] if save else ["--no-save-screens"]))
    wait_for(lambda: os.path.exists(sock))
    lead = join(sock)
    counts = f"{work}/counts"
    os.makedirs(counts, exist_ok=True)
    before, start = cpu(process.pid), time.perf_counter()
    for name in flooders:
        loop = f"n=0; end=$(($(date +%s) + {seconds})); while [ $(date +%s) -lt $end ]; do cat {blob}; " \
               f"n=$((n+1)); done; echo $n > {counts}/{name}; sleep 100000"
        subprocess.run(["welkmora", "recruit", name, "--command", loop], env=lead, check=True,
                       stdout=subprocess.DEVNULL)
    wait_for(lambda: all(os.path.exists(f"{counts}/{n}") for n in flooders), limit=seconds + 120)
    used, wall = cpu(process.pid) - before, time.perf_counter() - start
    writing = writer(process.pid)
    printed = sum(int(open(f"{counts}/{n}").read()) for n in flooders) * mb
    for n in flooders:
        os.remove(f"{counts}/{n}")
    saved = len(os.listdir(state + ".terminals")) - 1 if os.path.isdir(state + ".terminals") else 0
    stop(process)
    return used / wall, used / printed, saved, writing / used


print(f"saves under a flood: {FLOODS} terminals printing 96-character lines for {seconds} s, {runs} runs each")
results = {True: [], False: []}
for _ in range(runs):
    for save in (False, True):
        results[save].append(flood(save))
for save in (False, True):
    share = [r[0] for r in results[save]]
    per_mb = [r[1] for r in results[save]]
    label = "with screen saves" if save else "--no-save-screens "
    print(f"  {label}: host CPU {100 * statistics.median(share):.1f}% of a core (median), "
          f"{1000 * statistics.median(per_mb):.2f} ms per MB; screens on disk: {results[save][0][2]}; "
          f"the writing thread: {100 * statistics.median(r[3] for r in results[save]):.2f}% of the host's CPU")
cost = statistics.median(r[1] for r in results[True]) / statistics.median(r[1] for r in results[False]) - 1
print(f"  saving costs {100 * cost:+.1f}% host CPU per MB printed")
PY
