#!/usr/bin/env bash
# Installs a build tree into a temporary prefix and checks what a user gets:
# every file in place and nothing else, man pages that render without
# warnings and cover every command the programs' own help names, completions
# that load in bash, zsh and fish, offer every command word and the live
# names of a running host (bash and fish), stay silent without a host and
# give up on one that does not answer; and a Debian package that holds the
# same files and declares the libraries the binaries need.
#
#   install_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2

work=$(mktemp -d)
host_pid=
cleanup() {
  if [ -n "$host_pid" ]; then
    kill -CONT "$host_pid" 2>/dev/null || true
    kill -TERM "$host_pid" 2>/dev/null || true
    wait "$host_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "install test: $*" >&2
  exit 1
}

# Fails unless the lines of standard input are those of $2, in any order.
same_words() {
  local label=$1 got
  local expected
  got=$(sort -u)
  expected=$(sort -u <<<"$2")
  [ "$got" = "$expected" ] || fail "$label: got [$(echo $got)], expected [$(echo $expected)]"
}

# Fails unless the lines of standard input include those of $2.
has_words() {
  local label=$1 expected=$2 missing
  missing=$(comm -13 <(sort -u) <(sort -u <<<"$expected"))
  [ -z "$missing" ] || fail "$label: lacks [$(echo $missing)]"
}

## The installed tree

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
bash_dir=share/bash-completion/completions
zsh_dir=share/zsh/site-functions
fish_dir=share/fish/vendor_completions.d
files="bin/welkmora
bin/welkmora-host
bin/welkmora-demo-agent
share/man/man1/welkmora.1
share/man/man1/welkmora-host.1
share/man/man1/welkmora-demo-agent.1
$bash_dir/welkmora
$bash_dir/welkmora-host
$zsh_dir/_welkmora
$zsh_dir/_welkmora-host
$fish_dir/welkmora.fish
$fish_dir/welkmora-host.fish"
(cd "$prefix" && find . -type f -printf '%P\n') | same_words "installed files" "$files"
for program in welkmora welkmora-host welkmora-demo-agent; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
done
export PATH="$prefix/bin:$PATH"
[ "$(welkmora-host --version)" = "welkmora-host $version" ] || fail "welkmora-host --version: $(welkmora-host --version)"

## Man pages

man1=$prefix/share/man/man1
for page in "$man1"/*.1; do
  warnings=$(groff -man -ww -Tutf8 -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "$(basename "$page") renders with warnings: $warnings"
done

# The pages follow the programs' own help: each command of `welkmora help`
# ("role create"), each usage line of `welkmora-host help` and each option
# of the host's `serve` have their place in them.
text() { groff -man -Tutf8 -P-cbou "$1" 2>/dev/null; }
client_usages=$(welkmora help | sed -n 's/^  welkmora \([a-z]\+\( [a-z]\+\)\?\).*/\1/p')
host_usages=$(welkmora-host help | sed -n 's/^\(usage:\)\? *\(welkmora-host .*\)/\2/p')
host_commands=$(sed -n 's/^welkmora-host \([a-z][a-z-]*\).*/\1/p' <<<"$host_usages")
host_options=$(welkmora-host help serve | sed -n 's/^  \(--[a-z-]\+\) .*/\1/p')
client_page=$(text "$man1/welkmora.1")
host_page=$(text "$man1/welkmora-host.1")
grep -qF "version $version." <<<"$client_page" || fail "welkmora(1) does not state version $version"
while read -r usage; do
  grep -qF "$usage" <<<"$client_page" || fail "welkmora(1) lacks \"$usage\""
done <<<"$client_usages"
while read -r usage; do
  grep -qF -- "$usage" <<<"$host_page" || fail "welkmora-host(1) lacks \"$usage\""
done <<<"$host_usages"
for option in $host_options; do
  grep -qE -- "^ +$option( |$)" <<<"$host_page" || fail "welkmora-host(1) lacks an entry for $option"
done

## Completions load in each shell

bash_completion=/usr/share/bash-completion/bash_completion
[ -f "$bash_completion" ] || fail "bash-completion is not installed"
# Prints what bash offers for the command line $1, cut where Tab is pressed.
# Each shell gets 30 s, which only a completion that hangs would need.
bash_offers() {
  timeout 30 bash --norc -c 'source "$1" && source "$2" && source "$3" || exit 1
    COMP_LINE=$4 COMP_POINT=${#4}
    read -ra COMP_WORDS <<<"$4"
    [[ $4 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    $(complete -p "${COMP_WORDS[0]}" | sed -n "s/.*-F \([^ ]*\).*/\1/p")
    printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$bash_completion" "$prefix/$bash_dir/welkmora" "$prefix/$bash_dir/welkmora-host" "$1"
}
# Prints the candidates fish offers for the command line $1, without
# their descriptions.
fish_offers() {
  timeout 30 fish --no-config -c 'source $argv[1]; and source $argv[2]; or exit 1
    complete -C$argv[3]' "$prefix/$fish_dir/welkmora.fish" "$prefix/$fish_dir/welkmora-host.fish" "$1" | cut -f1
}
zsh -f -c "fpath=($prefix/$zsh_dir \$fpath); autoload -Uz compinit && compinit -u -D &&
  autoload +X _welkmora _welkmora-host &&
  [[ \$_comps[welkmora] == _welkmora && \$_comps[welkmora-host] == _welkmora-host ]]" ||
  fail "the zsh completions do not load"

client_commands=$(welkmora help | sed -n 's/^  welkmora \([a-z]\+\).*/\1/p')
bash_offers 'welkmora ' | same_words "bash: welkmora commands" "$client_commands"
fish_offers 'welkmora ' | same_words "fish: welkmora commands" "$client_commands"
for command in role note; do
  subcommands=$(sed -n "s/^$command \([a-z]\+\)$/\1/p" <<<"$client_usages")
  bash_offers "welkmora $command " | same_words "bash: welkmora $command" "$subcommands"
  fish_offers "welkmora $command " | same_words "fish: welkmora $command" "$subcommands"
done
bash_offers 'welkmora-host ' | has_words "bash: welkmora-host commands" "$host_commands"
fish_offers 'welkmora-host ' | has_words "fish: welkmora-host commands" "$host_commands"
bash_offers 'welkmora-host serve -' | has_words "bash: welkmora-host serve options" "$host_options"
fish_offers 'welkmora-host serve -' | has_words "fish: welkmora-host serve options" "$host_options"

## Live names from a running host

socket=$work/host.sock
welkmora-host serve --socket "$socket" --state "$work/state.json" </dev/null 2>"$work/host.log" &
host_pid=$!
for _ in $(seq 100); do
  [ -S "$socket" ] && break
  sleep 0.1
done
[ -S "$socket" ] || fail "the host did not start: $(cat "$work/host.log")"
eval "$(welkmora-host join Lead --socket "$socket" 2>/dev/null)"
welkmora recruit "Test Pilot" --command "sleep 100" >/dev/null
welkmora note create plan "tests first" >/dev/null

# Each call for names has a second, which a loaded machine (or a sanitizer
# build) may exceed now and then: three tries.
live() {
  local label=$1 expected=$2 offers=$3 line=$4 got
  for _ in 1 2 3; do
    got=$("$offers" "$line") || true
    [ "$got" = "$expected" ] && return 0
  done
  fail "$label: got [$(echo $got)], expected [$expected]"
}
live "bash: peers" 'Test\ Pilot' bash_offers 'welkmora check '
live "bash: notes" plan bash_offers 'welkmora note read '
live "fish: peers" 'Test Pilot' fish_offers 'welkmora check '
live "fish: notes" plan fish_offers 'welkmora note read '
# The terminals with a screen, not the joined shell.
live "bash: terminals" 'Test\ Pilot' bash_offers 'welkmora-host attach '
live "fish: terminals" 'Test Pilot' fish_offers 'welkmora-host send-keys '

# Silent outside the app, and a second at most on a host that does not answer.
offers=$(WELKMORA_SOCKET=$work/nothing bash_offers 'welkmora check ' 2>&1)
[ -z "$offers" ] || fail "bash without a host offers: $offers"
kill -STOP "$host_pid"
offers=$(bash_offers 'welkmora check ' 2>&1) || fail "bash completion did not give up on a stopped host"
[ -z "$offers" ] || fail "bash with a stopped host offers: $offers"
kill -CONT "$host_pid"

## The Debian package

out=$(cpack --config "$build/CPackConfig.cmake" -B "$work/package" 2>&1) || fail "cpack failed: $out"
deb=$work/package/welkmora_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "cpack made no $(basename "$deb")"
packed=$(sed -e 's|^|usr/|' -e 's|man1/.*|&.gz|' -e 's|zsh/site-functions|zsh/vendor-completions|' <<<"$files")
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub("^\\./", "", $6); print $6 }' | same_words "packed files" "$packed"
dpkg-deb -f "$deb" Depends | tr ',' '\n' | awk '{ print $1 }' | has_words "package dependencies" "libc6
libstdc++6
libvterm0
libwebsockets-evlib-uv"
