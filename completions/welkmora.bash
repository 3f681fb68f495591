# bash completion of welkmora, the client of the Welkmora workspace app.
#
# It completes the command words, the subcommands of role, preset and note,
# the flags of recruit and note read, and the live names the operands want:
# peers (from `welkmora list`), notes (`welkmora note list`), roles
# (`welkmora role list`) and presets (`welkmora preset list`). Those are read
# from the client's own output, only when WELKMORA_SOCKET is set, with at
# most a second per call and their errors dropped, so Tab stays silent
# outside the app and never hangs the prompt.

# Prints the names of one kind, one a line: peers, notes, roles or presets.
_welkmora_names() {
  [[ -n ${WELKMORA_SOCKET-} ]] || return 0
  local script
  local -a query
  case $1 in
    peers)
      query=(list)
      script='/^Verbundene Agenten:$/,/^Notizen:$/s/^  - //p'
      ;;
    notes)
      query=(note list)
      script='/^Notizen:$/,$s/^  - //p'
      ;;
    roles)
      query=(role list)
      script='/^Verfügbare Rollen:$/,$s/^  - //p'
      ;;
    presets)
      query=(preset list)
      script='/^Verfügbare Presets:$/,${/^  - /{s///;s/  (.*)$//;p}}'
      ;;
  esac
  timeout 1 welkmora "${query[@]}" </dev/null 2>/dev/null | LC_ALL=C sed -n "$script"
}

# The word being completed as the text it stands for: without an opening
# quote, and with backslash escapes resolved outside quotes.
_welkmora_typed() {
  local word=$1 plain= i
  case $word in
    \'* | \"*)
      printf '%s' "${word:1}"
      return
      ;;
  esac
  for ((i = 0; i < ${#word}; i++)); do
    [[ ${word:i:1} == \\ ]] && ((i++))
    plain+=${word:i:1}
  done
  printf '%s' "$plain"
}

# Adds to COMPREPLY the names of the given kinds that begin with the word
# being completed, escaped for the command line unless it opened a quote.
_welkmora_offer() {
  local typed kind name quoted
  typed=$(_welkmora_typed "$cur")
  for kind in "$@"; do
    while IFS= read -r name; do
      [[ $name == "$typed"* ]] || continue
      if [[ $cur == [\'\"]* ]]; then
        COMPREPLY+=("$name")
      else
        printf -v quoted '%q' "$name"
        COMPREPLY+=("$quoted")
      fi
    done < <(_welkmora_names "$kind")
  done
}

# Adds to COMPREPLY the given words that begin with the word being completed.
_welkmora_words() {
  local word
  for word in "$@"; do
    [[ $word == "$cur"* ]] && COMPREPLY+=("$word")
  done
}

_welkmora() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion -n : || return
  else
    words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
    cur=${words[cword]} prev=${words[cword - 1]}
  fi
  COMPREPLY=()

  if ((cword == 1)); then
    _welkmora_words onboard list check ask connect dismiss recruit role preset note debug help
    return
  fi
  case ${words[1]}:$cword in
    check:2 | dismiss:2) _welkmora_offer peers ;;
    ask:2)
      _welkmora_offer peers
      _welkmora_words --batch
      ;;
    connect:2 | connect:3) _welkmora_offer peers notes ;;
    recruit:2) ;;
    recruit:*)
      if (((cword - 3) % 2 == 0)); then
        _welkmora_words --role --preset --command
      else
        case $prev in
          --role) _welkmora_offer roles ;;
          --preset) _welkmora_offer presets ;;
          --command) mapfile -t COMPREPLY < <(compgen -c -- "$cur") ;;
        esac
      fi
      ;;
    role:2) _welkmora_words list create show edit write delete assign ;;
    role:3)
      case ${words[2]} in
        show | edit | write | delete) _welkmora_offer roles ;;
        assign) _welkmora_offer peers ;;
      esac
      ;;
    role:4)
      if [[ ${words[2]} == assign ]]; then
        _welkmora_offer roles
        _welkmora_words --none
      fi
      ;;
    preset:2) _welkmora_words list ;;
    note:2) _welkmora_words list create read write edit delete ;;
    note:3)
      case ${words[2]} in
        read | write | edit | delete) _welkmora_offer notes ;;
      esac
      ;;
    note:*)
      if [[ ${words[2]} == read ]] && (((cword - 4) % 2 == 0)); then
        _welkmora_words --offset --limit
      fi
      ;;
  esac
  declare -F __ltrim_colon_completions >/dev/null && __ltrim_colon_completions "$cur"
  return 0
}

complete -F _welkmora welkmora
