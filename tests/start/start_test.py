#!/usr/bin/python3
"""scripts/start.sh as a person meets it, in a pseudo-terminal: it prints the
canvas page's address in its box, the page's WebSocket opens with the key
(and only with it), the Lead shell lists the two demo agents; closing the
terminal leaves the workspace running, a second start attaches to it again,
leaving the shell ends every process the start began, and a start after
that brings the demo agents back held.

It runs the programs of the build under test (WELKMORA_START_BIN), so it
checks the workspace the script starts, not setup and the Release build.
Usage: start_test.py BUILD_DIR
"""

import base64
import os
import pty
import re
import select
import signal
import socket
import sys
import tempfile
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.abspath(sys.argv[1])
TIMEOUT = 60


class Session:
    """start.sh in a pseudo-terminal, with everything it wrote so far."""

    def __init__(self, home):
        env = {
            "PATH": "/usr/bin:/bin",
            "HOME": home,
            "XDG_RUNTIME_DIR": os.path.join(home, "run"),
            "XDG_STATE_HOME": os.path.join(home, "state"),
            "SHELL": "/bin/bash",
            "TERM": "xterm",
            "LANG": "C.UTF-8",
            "WELKMORA_START_BIN": BUILD,
            "WELKMORA_DEMO_DELAY": "0.2",
        }
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(home)
            os.execve("/bin/bash", ["bash", os.path.join(ROOT, "scripts/start.sh"), "--no-open"], env)
        self.out = ""

    def read(self, seconds):
        ready, _, _ = select.select([self.fd], [], [], seconds)
        if not ready:
            return False
        try:
            self.out += os.read(self.fd, 65536).decode("utf-8", "replace")
        except OSError:  # the terminal's other end closed
            return None
        return True

    def expect(self, pattern, start=0):
        """Waits until `pattern` shows after `start`; returns its match."""
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            m = re.compile(pattern).search(self.out, start)
            if m:
                return m
            if self.read(0.5) is None:
                break
        raise AssertionError("no %r in:\n%s" % (pattern, self.out))

    def run(self, line):
        """Types `line` into the shell; returns what it printed up to a mark."""
        start = len(self.out)
        os.write(self.fd, (line + "; echo END-$((40+2))\r").encode())
        end = self.expect(r"END-42", start + len(line))
        return self.out[start : end.start()]

    def wait(self):
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            done, status = os.waitpid(self.pid, os.WNOHANG)
            if done:
                return os.waitstatus_to_exitcode(status)
            self.read(0.2)
        raise AssertionError("start.sh did not end:\n" + self.out)


def descendants(root):
    """The processes below `root`, from /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError, ValueError):
            continue
        children.setdefault(ppid, []).append(int(entry))
    found, todo = [], [root]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def websocket_status(port, key):
    """The status line the page's WebSocket answers when offered `key`."""
    authority = "127.0.0.1:%d" % port
    request = ("GET /ws HTTP/1.1\r\nHost: %s\r\nOrigin: http://%s\r\n"
               "Sec-WebSocket-Protocol: welkmora-canvas, welkmora-key.%s\r\n"
               "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
               "Sec-WebSocket-Key: %s\r\n\r\n") % (authority, authority, key,
                                                     base64.b64encode(os.urandom(16)).decode())
    with socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT) as conn:
        conn.sendall(request.encode())
        return conn.recv(4096).split(b"\r\n", 1)[0].decode()


def check_page(url):
    base, key = url.split("#key=")
    port = int(base.split(":")[2].strip("/"))
    with urllib.request.urlopen(base, timeout=TIMEOUT) as reply:  # the page's files hold no data
        assert reply.status == 200, reply.status
        assert b"<html" in reply.read().lower()
    assert " 403 " in websocket_status(port, "0" * 32)
    assert " 101 " in websocket_status(port, key)


def host_pid(home):
    """The workspace's host, from its state file's lock."""
    with open(os.path.join(home, "state/welkmora/host-state.json.lock")) as f:
        return int(f.read())


def main():
    with tempfile.TemporaryDirectory() as home:
        try:
            run(home)
        finally:
            # A workspace that a failure left running outlives the terminal: it goes.
            try:
                pid = host_pid(home)
                if pid > 0:
                    os.kill(pid, signal.SIGKILL)
            except (OSError, ValueError):
                pass
    print("start.sh: page served with its key, demo agents listed, workspace kept over a closed terminal,"
          " everything stopped, the agents back held after a restart")


def run(home):
    """The person's day with start.sh, in the home `home`."""
    s = Session(home)
    url = s.expect(r"║  (http://127\.0\.0\.1:\d+/#key=[0-9a-f]{32}) +║").group(1)
    s.expect(r"leave the shell \(exit\) to stop everything\.")
    check_page(url)

    listed = s.run("welkmora list")
    for name in ("Alice", "Bob"):
        assert name in listed, listed
    assert s.run("echo $WELKMORA_TERMINAL_ID").strip().endswith("Lead")
    s.run("KEPT=across-terminals")

    # The terminal closes: start.sh ends, the workspace goes on.
    host = host_pid(home)
    os.close(s.fd)
    os.waitpid(s.pid, 0)
    assert alive(host)
    s = Session(home)
    s.expect(r"attaching to the workspace on ")
    check_page(s.expect(r"canvas: (http://\S+)").group(1))
    # Lead's screen comes back with what was typed before.
    s.expect(r"KEPT=across-terminals; echo END-\$\(\(40\+2\)\)\r\nEND-42\r\n[^\r\n]*#")
    assert s.run("echo $KEPT").strip().endswith("across-terminals"), s.out

    below = [host] + descendants(host)
    assert len(below) >= 4, below  # the host, Lead's shell, Alice and Bob at least
    os.write(s.fd, b"exit\r")
    assert s.wait() == 0, s.out
    assert "the workspace has stopped" in s.out, s.out
    deadline = time.monotonic() + TIMEOUT
    while any(alive(p) for p in below) and time.monotonic() < deadline:
        time.sleep(0.2)
    left = [p for p in below if alive(p)]
    assert not left, "still running after the stop: %s" % left

    # A start after the stop brings the demo agents back held, not new ones.
    s = Session(home)
    s.expect(r"the terminals of before are back, held\.")
    listed = s.run("welkmora-host ls")
    for name in ("Alice", "Bob"):
        assert re.search(r"(?m)^%s +held " % name, listed), listed
    os.write(s.fd, b"exit\r")
    assert s.wait() == 0, s.out


if __name__ == "__main__":
    main()
