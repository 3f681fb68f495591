# bash completion of welkmora, the client of the Welkmora workspace app.
#
# It completes the command words, the subcommands of the families, the
# flags, and the live names the operands want:
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

# Adds to COMPREPLY what flag pairs want, from the flag word `first` after
# the operands (0 for the first flag): a flag, or the value of the flag
# before. The rest are pairs of a flag and the names its value wants
# (peers, notes, roles, presets, commands, or - for none).
_welkmora_flags() {
  local first=$1 i
  shift
  local -a pairs=("$@")
  if ((first % 2 == 0)); then
    for ((i = 0; i < ${#pairs[@]}; i += 2)); do _welkmora_words "${pairs[i]}"; done
    return
  fi
  for ((i = 0; i < ${#pairs[@]}; i += 2)); do
    [[ ${pairs[i]} == "$prev" ]] || continue
    case ${pairs[i + 1]} in
      -) ;;
      commands) mapfile -t COMPREPLY < <(compgen -c -- "$cur") ;;
      *) _welkmora_offer "${pairs[i + 1]}" ;;
    esac
  done
}

# --- generated from the catalogue (tools/catalogue_files.cpp); do not edit
# Offers what word $cword wants, with $at the operand's place after the
# command's words.
_welkmora_complete() {
  if ((cword == 1)); then
    _welkmora_words onboard list check ask connect dismiss role preset recruit note debug help
    return
  fi
  local row=${words[1]} at=$((cword - 1))
  case $row in
    role | preset | note)
      if ((cword == 2)); then
        case $row in
          role) _welkmora_words list create show edit write delete assign ;;
          preset) _welkmora_words list ;;
          note) _welkmora_words list create read write edit delete ;;
        esac
        return
      fi
      row+=" ${words[2]}" at=$((cword - 2))
      ;;
  esac
  case $row:$at in
    'check:1') _welkmora_offer peers ;;
    'ask:1') _welkmora_offer peers; _welkmora_words --batch ;;
    'connect:1') _welkmora_offer peers notes ;;
    'connect:2') _welkmora_offer peers notes ;;
    'dismiss:1') _welkmora_offer peers ;;
    'role show:1') _welkmora_offer roles ;;
    'role edit:1') _welkmora_offer roles ;;
    'role write:1') _welkmora_offer roles ;;
    'role delete:1') _welkmora_offer roles ;;
    'role assign:1') _welkmora_offer peers ;;
    'role assign:2') _welkmora_offer roles; _welkmora_words --none ;;
    'recruit:1') ;;
    'note read:1') _welkmora_offer notes ;;
    'note write:1') _welkmora_offer notes ;;
    'note edit:1') _welkmora_offer notes ;;
    'note delete:1') _welkmora_offer notes ;;
    'recruit:'*) _welkmora_flags $((at - 2)) --role roles --preset presets --command commands ;;
    'note read:'*) _welkmora_flags $((at - 2)) --offset - --limit - ;;
  esac
}
# --- end of the generated part

_welkmora() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion -n : || return
  else
    words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
    cur=${words[cword]} prev=${words[cword - 1]}
  fi
  COMPREPLY=()
  _welkmora_complete
  declare -F __ltrim_colon_completions >/dev/null && __ltrim_colon_completions "$cur"
  return 0
}

complete -F _welkmora welkmora
