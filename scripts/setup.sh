#!/usr/bin/env bash
# Installs what building and testing need on Debian 12. Idempotent, and
# quiet when everything is present already. With --build, only what building
# and running the programs needs (scripts/start.sh and scripts/demo.sh use
# that): no test, fuzzing, man page or packaging tools, no browser.
set -euo pipefail

# python3 is a REPL the host's tests ask; the sixth line holds the other real
# programs the turn suite drives (shells, REPLs, a pager, an editor, a
# monitor, `man`). The third line is for the man pages
# (scdoc, groff to check them), the completions (the three shells they serve)
# and the package (dpkg-shlibdeps). libwebsockets serves the canvas page on a
# libuv loop (its evlib plugin), which the host nests in its own; chromium,
# its driver and selenium run the canvas tests in a headless browser. The
# last line is for `welkmora-host remote`: libcrypto hashes the client it
# copies, ssh carries it, and its test starts a private sshd.
packages=(cmake ninja-build g++ pkg-config nlohmann-json3-dev libgtest-dev libvterm-dev
          clang libclang-rt-14-dev clang-format python3
          scdoc groff-base bash-completion zsh fish dpkg-dev file
          libwebsockets-dev libwebsockets-evlib-uv libuv1-dev
          python3-selenium chromium chromium-driver
          dash nodejs sqlite3 bc gdb ed less vim htop man-db lua5.4 procps
          libssl-dev openssh-client openssh-server)

if [ "${1:-}" = --build ]; then
  packages=(cmake ninja-build g++ pkg-config nlohmann-json3-dev libvterm-dev
            libwebsockets-dev libwebsockets-evlib-uv libuv1-dev libssl-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "setup: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  as_root=(sudo)
fi
echo "setup: installing ${missing[*]}" >&2
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
