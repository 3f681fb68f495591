#!/usr/bin/python3
"""Runs every block of README.md's Quick start and tour that is fenced as
```sh, in order, in a shell on the canvas as Lead with the demo agents
Alice and Bob roped to it (the workspace scripts/start.sh sets up), so that
the README's examples keep working. Blocks fenced otherwise need a person
and are left out. Every command must succeed.

Usage: readme_test.py BUILD_DIR
"""

import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.abspath(sys.argv[1])
SECTIONS = ("## Quick start", "## A five-minute tour")

# The workspace of the tour: a host, this shell joined as Lead, and the two
# demo agents recruited by it once they show their prompt.
PROLOGUE = r"""
set -euo pipefail
welkmora-host serve --socket "$DIR/host.sock" --state "$DIR/state.json" 2>"$DIR/host.log" </dev/null &
host=$!
trap 'kill $host; wait $host' EXIT
for _ in $(seq 300); do [ -S "$DIR/host.sock" ] && break; sleep 0.1; done
eval "$(welkmora-host join Lead --socket "$DIR/host.sock")"
for name in Alice Bob; do
  welkmora recruit $name --command welkmora-demo-agent >/dev/null
  for _ in $(seq 300); do welkmora check $name | grep -q 'demo>' && break; sleep 0.1; done
done
set -x
"""


def blocks():
    text = open(os.path.join(ROOT, "README.md"), encoding="utf-8").read()
    found = []
    for part in re.split(r"^(?=## )", text, flags=re.M):
        if part.startswith(SECTIONS):
            found += re.findall(r"^```sh\n(.*?)^```$", part, flags=re.M | re.S)
    return found


def main():
    code = blocks()
    assert len(code) >= 4, "too few runnable blocks found in README.md: %d" % len(code)
    with tempfile.TemporaryDirectory() as work:
        env = {"DIR": work, "HOME": work, "PATH": BUILD + ":/usr/bin:/bin", "LANG": "C.UTF-8", "SHELL": "/bin/sh",
               "WELKMORA_DEMO_DELAY": "0.2"}
        run = subprocess.run(["bash", "-c", PROLOGUE + "\n".join(code)], env=env, capture_output=True, text=True,
                             timeout=300)
        if run.returncode != 0:
            log = open(os.path.join(work, "host.log")).read()
            sys.exit("a README command failed (status %d):\n%s\n%s\nthe host's log:\n%s" %
                     (run.returncode, run.stdout, run.stderr, log))
    # What the tour promises to show.
    for shown in ("Answer: What should we build first?", "Release on Friday."):
        assert shown in run.stdout, "%r not in:\n%s" % (shown, run.stdout)
    print("%d README blocks ran" % len(code))


if __name__ == "__main__":
    main()
