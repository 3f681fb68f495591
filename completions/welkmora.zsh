#compdef welkmora
# zsh completion of welkmora, the client of the Welkmora workspace app.
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
  timeout 1 welkmora $query </dev/null 2>/dev/null | LC_ALL=C sed -n $script
}

# Offers the names of kind $1 under the tag $1, described as $2.
# Offers the names of the given kinds: peers, notes, roles or presets.
_welkmora_offer() {
  local kind ret=1
  local -a names expl
  for kind in "$@"; do
    names=(${(f)"$(_welkmora_names $kind)"})
    _wanted $kind expl ${kind%s} compadd -a names && ret=0
  done
  return ret
}

# Offers what flag pairs want, from the flag word `first` after the operands
# (0 for the first flag): a flag, or the value of the flag before. The rest
# are pairs of a flag and the names its value wants (peers, notes, roles,
# presets, commands, or - for none).
_welkmora_flags() {
  local first=$1 i
  shift
  if (( first % 2 == 0 )); then
    local -a flags
    for (( i = 1; i < $#; i += 2 )); do flags+=(${@[i]}); done
    compadd -- $flags
    return
  fi
  for (( i = 1; i < $#; i += 2 )); do
    [[ ${@[i]} == $words[CURRENT-1] ]] || continue
    case ${@[i+1]} in
      (-) return 1 ;;
      (commands) _command_names -e ;;
      (*) _welkmora_offer ${@[i+1]} ;;
    esac
    return
  done
  return 1
}

# --- generated from the catalogue (tools/catalogue_files.cpp); do not edit
# Offers what word $CURRENT wants, with $at the operand's place after the
# command's words.
_welkmora_complete() {
  local -a commands
  commands=(
    'onboard:print who this terminal is, its peers and the core commands'
    'list:list the peers and notes roped to this terminal'
    'check:show the recent screen of a peer'
    'ask:send a prompt to a peer and wait for the answer'
    'connect:draw a rope between two terminals or notes'
    'dismiss:end a terminal and cut its ropes'
    'role:list, create, show, change, delete or assign roles'
    'preset:list the launch presets'
    'recruit:start a new terminal roped to this one'
    'note:list, create, read, write, edit or delete notes'
    'debug:check the connection to the app'
    'help:print the list of commands'
  )
  if (( CURRENT == 2 )); then
    _describe -t commands 'welkmora command' commands
    return
  fi
  local row=$words[2] at=$(( CURRENT - 2 )) ret=1
  case $row in
    (role|preset|note)
      if (( CURRENT == 3 )); then
        case $row in
          (role) compadd -- list create show edit write delete assign ;;
          (preset) compadd -- list ;;
          (note) compadd -- list create read write edit delete ;;
        esac
        return
      fi
      row+=" $words[3]" at=$(( CURRENT - 3 ))
      ;;
  esac
  case $row:$at in
    ('check:1') _welkmora_offer peers && ret=0 ;;
    ('ask:1') _welkmora_offer peers && ret=0; compadd -- --batch && ret=0 ;;
    ('connect:1') _welkmora_offer peers notes && ret=0 ;;
    ('connect:2') _welkmora_offer peers notes && ret=0 ;;
    ('dismiss:1') _welkmora_offer peers && ret=0 ;;
    ('role show:1') _welkmora_offer roles && ret=0 ;;
    ('role edit:1') _welkmora_offer roles && ret=0 ;;
    ('role write:1') _welkmora_offer roles && ret=0 ;;
    ('role delete:1') _welkmora_offer roles && ret=0 ;;
    ('role assign:1') _welkmora_offer peers && ret=0 ;;
    ('role assign:2') _welkmora_offer roles && ret=0; compadd -- --none && ret=0 ;;
    ('recruit:1') ;;
    ('note read:1') _welkmora_offer notes && ret=0 ;;
    ('note write:1') _welkmora_offer notes && ret=0 ;;
    ('note edit:1') _welkmora_offer notes && ret=0 ;;
    ('note delete:1') _welkmora_offer notes && ret=0 ;;
    ('recruit:'*) _welkmora_flags $(( at - 2 )) --role roles --preset presets --command commands && ret=0 ;;
    ('note read:'*) _welkmora_flags $(( at - 2 )) --offset - --limit - && ret=0 ;;
  esac
  return ret
}
# --- end of the generated part

_welkmora() {
  _welkmora_complete
}

_welkmora "$@"
