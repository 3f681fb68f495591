# Sourced by the canvas page's benchmarks (bench-web.sh, bench-page.sh):
# sets the machine up, builds the client and the host, starts welkmora-host
# serving the page on a free port in the temporary directory $work (gone,
# with the host, when the script exits), waits for its canvas line in
# $work/host.log and joins as Lead.
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target welkmora welkmora-host >/dev/null

work=$(mktemp -d)
host_pid=
trap '[ -n "$host_pid" ] && kill -TERM "$host_pid" 2>/dev/null; wait; rm -rf "$work"' EXIT
export PATH="$PWD/build:$PATH"
welkmora-host serve --socket "$work/host.sock" --state "$work/state.json" --web 127.0.0.1:0 \
  </dev/null 2>"$work/host.log" &
host_pid=$!
until grep -q 'canvas: ' "$work/host.log"; do sleep 0.05; done
eval "$(welkmora-host join Lead --socket "$work/host.sock" 2>/dev/null)"
