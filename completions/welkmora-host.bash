# bash completion of welkmora-host, the headless host of the Welkmora canvas.
#
# It completes the commands, their options and files, the key names of
# send-keys, and the live terminal names for attach and send-keys (and the
# held ones for resume and forget), read from
# `welkmora-host ls --json` (of the socket given with --socket, if any) with
# at most a second per call and its errors dropped, so Tab stays silent when
# no host runs and never hangs the prompt.

# Prints the names of the host's terminals in the states that the pattern
# $1 matches ("running|exited|held": those that have a screen), one a line.
# The other arguments are passed to `ls` (a --socket option). Each object
# of the "terminals" array of its JSON is matched whole (strings may hold
# braces), and its name unescaped: a name holds no control characters, so
# the only escapes in it are \" and \\.
_welkmora_host_terminals() {
  local states=$1
  shift
  timeout 1 welkmora-host ls --json "$@" </dev/null 2>/dev/null | tr -d '\n' |
    LC_ALL=C sed -e 's/.*"terminals"[[:space:]]*:[[:space:]]*\[//' \
      -e 's/\][[:space:]]*,[[:space:]]*"notes"[[:space:]]*:.*//' |
    LC_ALL=C grep -oE '[{]([^{}"]|"([^"\\]|\\.)*")*[}]' |
    LC_ALL=C grep -E '"state"[[:space:]]*:[[:space:]]*"('"$states"')"' |
    LC_ALL=C grep -oE '"name"[[:space:]]*:[[:space:]]*"([^"\\]|\\.)*"' |
    LC_ALL=C sed -e 's/^"name"[[:space:]]*:[[:space:]]*"//' -e 's/"$//' -e 's/\\"/"/g' -e 's/\\\\/\\/g'
}

# Adds to COMPREPLY the given words that begin with the word being completed.
_welkmora_host_words() {
  local word
  for word in "$@"; do
    [[ $word == "$cur"* ]] && COMPREPLY+=("$word")
  done
}

# True when the word $1 is one of the other arguments.
_welkmora_host_in() {
  local word
  for word in "${@:2}"; do
    [[ $word == "$1" ]] && return 0
  done
  return 1
}

# Adds to COMPREPLY the files that begin with the word being completed.
_welkmora_host_files() {
  if declare -F _filedir >/dev/null; then
    _filedir
  else
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}

# Adds to COMPREPLY the machines ssh knows that begin with the word being
# completed.
_welkmora_host_hosts() {
  declare -F _known_hosts_real >/dev/null && _known_hosts_real -- "$cur"
}

# Adds to COMPREPLY the names of the terminals in the states $1 that begin
# with the word being completed, escaped for the command line unless it
# opened a quote.
_welkmora_host_offer_terminals() {
  local typed=$cur name quoted
  [[ $cur == [\'\"]* ]] && typed=${cur:1}
  while IFS= read -r name; do
    [[ $name == "$typed"* ]] || continue
    if [[ $cur == [\'\"]* ]]; then
      COMPREPLY+=("$name")
    else
      printf -v quoted '%q' "$name"
      COMPREPLY+=("$quoted")
    fi
  done < <(_welkmora_host_terminals "$@")
}

# The command's words come from the table of commands below: the command
# (none: the workspace, whose options may come first), its options, and
# what each operand's place offers. Options may stand anywhere; the words
# after an option with a value are its value, not operands.
_welkmora_host() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion -n : || return
  else
    words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
    cur=${words[cword]} prev=${words[cword - 1]}
  fi
  COMPREPLY=()
  local command= first=1
  local -a flags files values socket
  if ((cword > 1)) && [[ ${words[1]} != -* ]]; then
    command=${words[1]} first=2
  fi
  _welkmora_host_options "$command"
  if _welkmora_host_in "$prev" "${files[@]}"; then
    _welkmora_host_files
    return
  fi
  _welkmora_host_in "$prev" "${values[@]}" && return

  # The operands before the cursor and a --socket to ask.
  local i operands=0
  for ((i = first; i < cword; i++)); do
    [[ ${words[i]} == --socket ]] && socket=(--socket "${words[i + 1]/#\~/$HOME}")
    if _welkmora_host_in "${words[i]}" "${files[@]}" "${values[@]}"; then
      ((i++))
    elif [[ ${words[i]} != -?* ]]; then
      ((operands++))
    fi
  done

  if ((cword == 1)) && [[ $cur != -* ]]; then
    _welkmora_host_words "${_welkmora_host_commands[@]}"
  elif [[ $cur == -* ]]; then
    _welkmora_host_words "${flags[@]}"
  else
    _welkmora_host_operand "$command" "$operands"
  fi
  declare -F __ltrim_colon_completions >/dev/null && __ltrim_colon_completions "$cur"
  return 0
}

# generated from welkmora-host's table of commands (tools/host_files.cpp); do not edit
_welkmora_host_commands=(serve join ls attach send-keys remote resume forget stop help)

# Sets the options of command $1 ('' for none): flags, all of them; files,
# those whose value is a file; values, those with another value.
_welkmora_host_options() {
  case $1 in
    serve)
      flags=(--socket --state --presets --settle --max-wait --web --web-key-file --log --resume --no-save-screens --help)
      files=(--socket --state --presets --web-key-file --log)
      values=(--settle --max-wait --web)
      ;;
    '')
      flags=(--socket --state --presets --settle --max-wait --web --web-key-file --log --resume --no-save-screens --help --version)
      files=(--socket --state --presets --web-key-file --log)
      values=(--settle --max-wait --web)
      ;;
    join)
      flags=(--socket --pid --help)
      files=(--socket)
      values=(--pid)
      ;;
    ls)
      flags=(--json --socket --help)
      files=(--socket)
      values=()
      ;;
    attach)
      flags=(--read-only --socket --help)
      files=(--socket)
      values=()
      ;;
    send-keys)
      flags=(-l --socket --help)
      files=(--socket)
      values=()
      ;;
    remote)
      flags=()
      files=()
      values=()
      ;;
    resume)
      flags=(--all --socket --help)
      files=(--socket)
      values=()
      ;;
    forget)
      flags=(--socket --help)
      files=(--socket)
      values=()
      ;;
    stop)
      flags=(--socket --help)
      files=(--socket)
      values=()
      ;;
    help)
      flags=()
      files=()
      values=()
      ;;
    *) flags=() files=() values=() ;;
  esac
}

# Offers what operand $2 (0 the first) of command $1 wants.
_welkmora_host_operand() {
  case $1:$2 in
    serve:* | '':* | ls:* | stop:*) _welkmora_host_words "${flags[@]}" ;;
    attach:0 | send-keys:0) _welkmora_host_offer_terminals 'running|exited|held' "${socket[@]}" ;;
    remote:0) _welkmora_host_hosts ;;
    resume:0 | forget:0) _welkmora_host_offer_terminals held "${socket[@]}" ;;
    help:0) _welkmora_host_words "${_welkmora_host_commands[@]}" ;;
    send-keys:*) _welkmora_host_words Enter Escape Tab BTab BSpace Space Up Down Left Right Home End IC DC PageUp PageDown F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 F11 F12 C-c C-d C-z ;;
  esac
}
# end of the generated part

complete -F _welkmora_host welkmora-host
