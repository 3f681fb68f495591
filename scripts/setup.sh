#!/usr/bin/env bash
# Installs what building and testing need on Debian 12. Idempotent, and
# quiet when everything is present already.
set -euo pipefail

# python3 is a REPL the host's tests ask. The third line is for the man pages
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
          libssl-dev openssh-client openssh-server)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
