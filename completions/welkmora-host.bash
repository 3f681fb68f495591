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

_welkmora_host() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion -n : || return
  else
    words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
    cur=${words[cword]} prev=${words[cword - 1]}
  fi
  COMPREPLY=()
  local commands=(serve join ls attach send-keys remote resume forget stop help)
  local host_options=(--socket --state --presets --settle --max-wait --web --web-key-file --log --resume
    --no-save-screens)

  case $prev in
    --socket | --state | --presets | --web-key-file | --log)
      if declare -F _filedir >/dev/null; then
        _filedir
      else
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      fi
      return
      ;;
    --settle | --max-wait | --web) return ;;
  esac

  # The command, the operands before the cursor and a --socket to ask.
  local i command= operands=0
  local -a socket=()
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      --socket)
        socket=(--socket "${words[i + 1]/#\~/$HOME}")
        ((i++))
        ;;
      --state | --presets | --settle | --max-wait | --web | --web-key-file | --log) ((i++)) ;;
      -?*) ;;
      *)
        if [[ -z $command ]]; then command=${words[i]}; else ((operands++)); fi
        ;;
    esac
  done

  case $command in
    '')
      if [[ $cur == -* ]]; then
        _welkmora_host_words "${host_options[@]}" --version --help
      else
        _welkmora_host_words "${commands[@]}"
      fi
      ;;
    serve) _welkmora_host_words "${host_options[@]}" --help ;;
    join) [[ $cur == -* ]] && _welkmora_host_words --socket --pid --help ;;
    ls) _welkmora_host_words --json --socket --help ;;
    attach)
      if [[ $cur == -* ]]; then
        _welkmora_host_words --read-only --socket --help
      elif ((operands == 0)); then
        _welkmora_host_offer_terminals 'running|exited|held' "${socket[@]}"
      fi
      ;;
    send-keys)
      if [[ $cur == -* ]]; then
        _welkmora_host_words -l --socket --help
      elif ((operands == 0)); then
        _welkmora_host_offer_terminals 'running|exited|held' "${socket[@]}"
      else
        _welkmora_host_words Enter Escape Tab BTab BSpace Space Up Down Left Right Home End IC DC PageUp PageDown \
          F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 F11 F12 C-c C-d C-z
      fi
      ;;
    remote)
      # ssh's options are ssh's; the destination is a host ssh knows.
      if ((operands == 0)) && [[ $cur != -* ]] && declare -F _known_hosts_real >/dev/null; then
        _known_hosts_real -- "$cur"
      fi
      ;;
    resume | forget)
      if [[ $cur == -* ]]; then
        _welkmora_host_words --socket --help
        [[ $command == resume ]] && _welkmora_host_words --all
      elif ((operands == 0)); then
        _welkmora_host_offer_terminals held "${socket[@]}"
      fi
      ;;
    stop) _welkmora_host_words --socket --help ;;
    help) ((operands == 0)) && _welkmora_host_words "${commands[@]}" ;;
  esac
  declare -F __ltrim_colon_completions >/dev/null && __ltrim_colon_completions "$cur"
  return 0
}

complete -F _welkmora_host welkmora-host
