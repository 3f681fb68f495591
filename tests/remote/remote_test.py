#!/usr/bin/env python3
"""Recruits on another machine: `welkmora-host remote` against a real sshd.

The test starts Debian's sshd on 127.0.0.1 (a free port, a throwaway host
key, config, PID file and authorized key) and a second one that refuses to
forward Unix sockets; the "remote" side gets its own HOME and runtime
folder and a PATH without welkmora, so the client is copied. Recruits that
share one connection log in as a throwaway user, made for the test and
removed after it where the test may make one (as root), else as root like
the others. The host runs
on a private socket and runtime folder; Lead recruits there.

Usage: remote_test.py BUILD_DIR. Exits 77 (skipped) only when sshd cannot
start at all."""

import glob
import json
import os
import pty
import select
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

BUILD = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "build")
SSHD = "/usr/sbin/sshd"
WAIT = 60  # seconds; generous, for a loaded machine


def wait_for(what, predicate, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError(f"timed out waiting for {what}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Sshd:
    """One sshd -D on 127.0.0.1, stopped by stop()."""

    def __init__(self, top, name, forwarding, home="rhome", path="/usr/bin:/bin", runtime="rrun"):
        self.dir = os.path.join(top, name)
        os.makedirs(self.dir)
        self.port = free_port()
        config = os.path.join(self.dir, "sshd_config")
        with open(config, "w") as f:
            f.write(f"""Port {self.port}
ListenAddress 127.0.0.1
HostKey {top}/hostkey
PidFile {self.dir}/sshd.pid
AuthorizedKeysFile {top}/userkey.pub
PermitRootLogin prohibit-password
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
AllowStreamLocalForwarding {forwarding}
SetEnv HOME={top}/{home} XDG_RUNTIME_DIR={top}/{runtime} PATH={path}
""")
        self.log = os.path.join(self.dir, "log")
        os.makedirs("/run/sshd", exist_ok=True)
        self.process = subprocess.Popen([SSHD, "-D", "-f", config, "-E", self.log])
        wait_for("sshd listening", self.listening, timeout=30)

    def listening(self):
        if self.process.poll() is not None:
            with open(self.log) as f:
                raise OSError("sshd ended: " + f.read())
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=5).close()
            return True
        except OSError:
            return False

    def logins(self):
        with open(self.log) as f:
            return f.read().count("Accepted publickey")

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)


class Host:
    """welkmora-host serve on a private socket, with Lead joined."""

    def __init__(self, top, ssh_config):
        self.dir = top
        self.runtime = os.path.join(top, "hrun")
        os.makedirs(self.runtime, mode=0o700)
        self.socket = os.path.join(top, "host.sock")
        self.logfile = os.path.join(top, "activity.log")
        self.env = dict(os.environ, PATH=BUILD + ":" + os.environ["PATH"], XDG_RUNTIME_DIR=self.runtime)
        self.process = subprocess.Popen(
            [os.path.join(BUILD, "welkmora-host"), "serve", "--socket", self.socket, "--state",
             os.path.join(top, "state.json"), "--settle", "1s", "--log", self.logfile],
            env=self.env, stdin=subprocess.DEVNULL)
        wait_for("the host's socket", lambda: os.path.exists(self.socket))
        joined = subprocess.run([os.path.join(BUILD, "welkmora-host"), "join", "Lead", "--socket", self.socket],
                                env=self.env, capture_output=True, text=True, check=True).stdout
        self.lead = dict(self.env, **dict(re.findall(r"export (\w+)='?([^'\n]*)'?", joined)))
        self.remote = f"welkmora-host remote -F {ssh_config}"

    def client(self, *args):
        return subprocess.run(["welkmora", *args], env=self.lead, capture_output=True, text=True, timeout=240)

    def ask(self, name, text, expected):
        """Asks `name` to run `text`; its screen, once it shows `expected`
        (a turn over ssh may end on quiet time before the output is all
        there)."""
        done = self.client("ask", name, text)
        assert done.returncode == 0, done.stderr
        return wait_for(f"{expected} on {name}", lambda: expected in self.screen(name) and self.screen(name))

    def screen(self, name):
        return self.client("check", name).stdout

    def log(self):
        with open(self.logfile) as f:
            return f.read()

    def stop(self):
        """Stops the host; returns what its recruits left in its runtime
        folder (ended, should there be any)."""
        self.process.terminate()
        self.process.wait(timeout=60)
        left = glob.glob(os.path.join(self.runtime, "welkmora", "ssh-*"))
        for control in left:
            subprocess.run(["ssh", "-o", "ControlPath=" + control, "-O", "exit", "box"], capture_output=True)
        return left


def throwaway_user(top):
    """A user of this machine for the test alone, its home and runtime
    folder `top`/shome and `top`/srun; None where none can be made (not
    root), and the remote user is root then."""
    name = "wkr" + os.urandom(3).hex()
    made = subprocess.run(["useradd", "-M", "-U", "-d", f"{top}/shome", "-s", "/bin/sh", "-p", "*", name],
                          capture_output=True)
    if made.returncode != 0:
        return None
    os.chmod(top, 0o711)
    for d in ("shome", "srun"):
        os.makedirs(os.path.join(top, d), mode=0o700)
        shutil.chown(os.path.join(top, d), name, name)
    return name


def exchange(path, request):
    """One request line to the socket at `path`, and its reply."""
    with socket.socket(socket.AF_UNIX) as s:
        s.settimeout(WAIT)
        s.connect(path)
        s.sendall(json.dumps(request).encode() + b"\n")
        reply = b""
        while not reply.endswith(b"\n"):
            chunk = s.recv(65536)
            if not chunk:
                break
            reply += chunk
    return json.loads(reply)


def prompt_marks(argv, env):
    """The OSC 133 marks a shell writes in a pty for a prompt, `false`
    and the next prompt."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execvpe(argv[0], argv, dict(os.environ, TERM="xterm", **env))
    out = b""

    def read_until(prompts):
        nonlocal out
        deadline = time.monotonic() + WAIT
        while out.count(b"\x1b]133;B") < prompts and time.monotonic() < deadline:
            if select.select([fd], [], [], 0.2)[0]:
                out += os.read(fd, 65536)

    read_until(1)
    os.write(fd, b"false\r")
    read_until(2)
    os.write(fd, b"exit\r")
    os.close(fd)
    os.waitpid(pid, 0)
    return re.findall(rb"\x1b]133;([^\x07]*)\x07", out)[:6]


class Remote(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.top = tempfile.mkdtemp(prefix="wr-")
        for d in ("rhome", "rrun"):
            os.makedirs(os.path.join(cls.top, d), mode=0o700)
        for key in ("hostkey", "userkey"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(cls.top, key)],
                           check=True)
        try:
            cls.sshd = Sshd(cls.top, "box", "yes")
            cls.refuser = Sshd(cls.top, "refuser", "no")
            # A home whose cache is a file, and a machine that says it is arm64.
            os.makedirs(os.path.join(cls.top, "nocache"))
            open(os.path.join(cls.top, "nocache", ".cache"), "w").close()
            cls.nocache = Sshd(cls.top, "nocachebox", "yes", home="nocache")
            fake = os.path.join(cls.top, "fakebin")
            os.makedirs(fake)
            with open(os.path.join(fake, "uname"), "w") as f:
                f.write("#!/bin/sh\necho aarch64\n")
            os.chmod(os.path.join(fake, "uname"), 0o755)
            cls.arm = Sshd(cls.top, "armbox", "yes", path=fake + ":/usr/bin:/bin")
            # Recruits that share a connection log in as a user of their own.
            cls.user = throwaway_user(cls.top)
            cls.shared = Sshd(cls.top, "sharedbox", "yes", home="shome" if cls.user else "rhome",
                              runtime="srun" if cls.user else "rrun")
        except OSError as e:
            print(f"sshd cannot start: {e}: skipped")
            shutil.rmtree(cls.top, ignore_errors=True)
            sys.exit(77)
        config = os.path.join(cls.top, "ssh_config")
        with open(config, "w") as f:
            for name, port in (("box", cls.sshd.port), ("refuser", cls.refuser.port), ("nowhere", free_port()),
                               ("nocachebox", cls.nocache.port), ("armbox", cls.arm.port),
                               ("sharedbox", cls.shared.port)):
                user = cls.user if name == "sharedbox" and cls.user else "root"
                f.write(f"Host {name}\n  HostName 127.0.0.1\n  Port {port}\n  User {user}\n"
                        f"  IdentityFile {cls.top}/userkey\n  IdentitiesOnly yes\n  BatchMode yes\n"
                        "  StrictHostKeyChecking no\n  UserKnownHostsFile /dev/null\n  LogLevel ERROR\n")
        cls.host = Host(cls.top, config)

    @classmethod
    def tearDownClass(cls):
        left = cls.host.stop()
        cls.sshd.stop()
        cls.refuser.stop()
        cls.nocache.stop()
        cls.arm.stop()
        cls.shared.stop()
        if cls.user:
            subprocess.run(["userdel", "-f", cls.user], capture_output=True)
        shutil.rmtree(cls.top, ignore_errors=True)
        # Stopping ended the recruits still running, the last one on each
        # destination its ssh connection, which left no socket behind.
        assert not left, left

    def recruit(self, name, rest):
        done = self.host.client("recruit", name, "--command", f"{self.host.remote} {rest}")
        self.assertEqual(done.returncode, 0, done.stderr)

    def client_file(self):
        found = glob.glob(os.path.join(self.top, "rhome/.cache/welkmora/*/bin/welkmora"))
        return found[0] if found else None

    def test_remote_recruits(self):
        host = self.host
        self.recruit("Far", "box -- bash")
        wait_for("Far's prompt", lambda: host.screen("Far").rstrip().endswith(("#", "$")))
        copied = self.client_file()
        self.assertIsNotNone(copied)
        first = os.stat(copied)

        # It sees its peers, with the copied client first on its PATH.
        seen = host.ask("Far", "command -v welkmora; welkmora list", "Lead")
        self.assertIn(copied, seen)

        # Its turns end on the shell's prompt marks, not on quiet time (1 s
        # here): the answer of a quiet command is whole, its status logged.
        done = host.client("ask", "Far", "sleep 3; echo slept-$((6*7)); false")
        self.assertEqual(done.stdout, "slept-42\n", host.log() + host.screen("Far"))
        self.assertRegex(host.log(), r"answer name=Far by=Lead duration=\S+ end=prompt status=1\n")

        # It asks a local peer.
        host.client("recruit", "Bob", "--command", "/bin/bash --norc --noprofile -i").check_returncode()
        host.client("connect", "Far", "Bob").check_returncode()
        host.ask("Far", "welkmora ask Bob 'echo from-bob-$((6*7))'", "from-bob-42")

        # A second recruit there shares the connection and the copy.
        self.recruit("Near", "box")
        host.ask("Near", "welkmora list", "Lead")
        self.assertEqual(self.sshd.logins(), 1)
        again = os.stat(copied)
        self.assertEqual((again.st_ino, again.st_mtime_ns), (first.st_ino, first.st_mtime_ns))

        # The token is on no command line, the socket is the user's alone.
        seen = host.ask("Far", "printenv WELKMORA_TOKEN WELKMORA_SOCKET", ".sock\n")
        token, sock = re.search(r"^([0-9a-f]{16,})\s*\n(/\S+\.sock)\s*$", seen, re.M).groups()
        for cmdline in glob.glob("/proc/[0-9]*/cmdline"):
            try:
                with open(cmdline, "rb") as f:
                    words = f.read()
            except OSError:
                continue  # ended meanwhile
            self.assertNotIn(token.encode(), words, cmdline)
        self.assertEqual(os.stat(sock).st_mode & 0o777, 0o600)
        self.assertEqual(os.listdir(os.path.dirname(sock)).count(os.path.basename(sock)[:-5] + ".env"), 0)

        # The key of the marks reaches the shell alone, not its commands.
        done = host.client("ask", "Far", "echo key=${WELKMORA_MARK_KEY:-none}")
        self.assertEqual(done.stdout, "key=none\n", host.screen("Far"))

        # The shells the bootstrap starts mark their prompts, with the key.
        share = os.path.dirname(os.path.dirname(copied))
        home = {"HOME": os.path.join(self.top, "rhome"), "WELKMORA_MARK_KEY": "k1"}
        marks = [b"A;welkmora=k1", b"B;welkmora=k1", b"C;welkmora=k1", b"D;1;welkmora=k1", b"A;welkmora=k1",
                 b"B;welkmora=k1"]
        self.assertEqual(prompt_marks(["bash", "--rcfile", share + "/bashrc", "-i"], home), marks)
        zdot = {"ZDOTDIR": share + "/zsh", "WELKMORA_ZDOTDIR": home["HOME"]}
        self.assertEqual(prompt_marks(["zsh", "-i"], dict(home, **zdot)), marks)
        fish = {"WELKMORA_FISH_MARKS": share + "/marks.fish"}
        self.assertEqual(prompt_marks(["fish", "-i", "-C", "source $WELKMORA_FISH_MARKS"], dict(home, **fish)), marks)

        # Dismissed, it leaves no socket behind.
        host.client("dismiss", "Far").check_returncode()
        wait_for("the remote socket to go", lambda: not os.path.exists(sock))

    def test_recruits_sharing_a_connection(self):
        host = self.host
        for name in ("Far1", "Far2"):
            self.recruit(name, "sharedbox -- bash")
        seen = host.ask("Far2", "printenv WELKMORA_SOCKET", ".sock\n")
        sock = re.search(r"^(/\S+\.sock)\s*$", seen, re.M).group(1)
        self.assertEqual(self.shared.logins(), 1)
        if self.user:
            with open(self.shared.log) as f:
                self.assertIn(f"Accepted publickey for {self.user} ", f.read())

        # What comes through the forwarded socket comes from the shared ssh
        # connection on the host's side: no person, however it asks.
        for request in ({"command": "ls"}, {"command": "join", "name": "RemoteEvil", "pid": 1},
                        {"command": "send-keys", "name": "Far1", "keys": ["typed-by-remote", "Enter"]}):
            reply = exchange(sock, request)
            self.assertFalse(reply["ok"], request)
            self.assertIn("is for the person at the host, not for", reply["error"])
        self.assertNotIn("RemoteEvil", host.client("list").stdout)

        # Dismissing the recruit that made the connection leaves it to the
        # other: nothing ends Far2 in three times the dismissal's grace (2 s).
        host.client("dismiss", "Far1").check_returncode()
        time.sleep(6)
        self.assertNotIn("exit name=Far2", host.log())
        host.ask("Far2", "echo still-$((6*7))", "still-42")

        # The last recruit there ends the connection: its socket and lock go.
        runtime = os.path.join(host.runtime, "welkmora")
        before = set(os.listdir(runtime))
        host.client("dismiss", "Far2").check_returncode()
        wait_for("the shared connection to end",
                 lambda: len(set(os.listdir(runtime)) - before) == 0 and len(before - set(os.listdir(runtime))) == 2)
        self.assertEqual(len([p for p in before - set(os.listdir(runtime)) if p.startswith("ssh-")]), 2)

    def test_errors_say_why(self):
        for name, dest, text in (("Refused", "refuser", "refuses to forward"), ("Lost", "nowhere", "cannot reach"),
                                 ("Cacheless", "nocachebox", "has no writable cache folder"),
                                 ("Arm", "armbox", "is aarch64 and this welkmora client is")):
            self.recruit(name, dest)
            wait_for(f"{name}'s end", lambda: f"exit name={name}" in self.host.log())
            self.assertIn(text, self.host.screen(name))
            line = [l for l in self.host.log().splitlines() if f"exit name={name}" in l][0]
            self.assertRegex(line, r"status=1 said=.*" + text)
        # A mistake on its command line: the log quotes it, not the usage.
        self.recruit("Bare", "")
        wait_for("Bare's end", lambda: "exit name=Bare" in self.host.log())
        self.assertRegex(self.host.log(), r"exit name=Bare status=2 said=\"welkmora-host: remote needs a DESTINATION\"")


if __name__ == "__main__":
    unittest.main(verbosity=2)
