#compdef welkmora
# zsh completion of welkmora, the client of the Welkmora workspace app.
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
  timeout 1 welkmora $query </dev/null 2>/dev/null | LC_ALL=C sed -n $script
}

# Offers the names of kind $1 under the tag $1, described as $2.
_welkmora_offer() {
  local -a names expl
  names=(${(f)"$(_welkmora_names $1)"})
  _wanted $1 expl $2 compadd -a names
}

_welkmora() {
  local -a commands
  commands=(
    'onboard:print who this terminal is, its peers and the core commands'
    'list:list the peers and notes roped to this terminal'
    'check:show the recent screen of a peer'
    'ask:send a prompt to a peer and wait for the answer'
    'connect:draw a rope between two terminals or notes'
    'dismiss:end a terminal and cut its ropes'
    'recruit:start a new terminal roped to this one'
    'role:list, create, show, change, delete or assign roles'
    'preset:list the launch presets'
    'note:list, create, read, write, edit or delete notes'
    'debug:check the connection to the app'
    'help:print the list of commands'
  )
  if (( CURRENT == 2 )); then
    _describe -t commands 'welkmora command' commands
    return
  fi
  local ret=1
  case $words[2]:$CURRENT in
    (check:3|dismiss:3) _welkmora_offer peers peer && ret=0 ;;
    (ask:3)
      _welkmora_offer peers peer && ret=0
      compadd -- --batch && ret=0
      ;;
    (connect:3|connect:4)
      _welkmora_offer peers peer && ret=0
      _welkmora_offer notes note && ret=0
      ;;
    (recruit:3) ;;
    (recruit:*)
      if (( (CURRENT - 4) % 2 == 0 )); then
        compadd -- --role --preset --command && ret=0
      else
        case $words[CURRENT-1] in
          (--role) _welkmora_offer roles role && ret=0 ;;
          (--preset) _welkmora_offer presets preset && ret=0 ;;
          (--command) _command_names -e && ret=0 ;;
        esac
      fi
      ;;
    (role:3) compadd list create show edit write delete assign && ret=0 ;;
    (role:4)
      case $words[3] in
        (show|edit|write|delete) _welkmora_offer roles role && ret=0 ;;
        (assign) _welkmora_offer peers recruit && ret=0 ;;
      esac
      ;;
    (role:5)
      if [[ $words[3] == assign ]]; then
        _welkmora_offer roles role && ret=0
        compadd -- --none && ret=0
      fi
      ;;
    (preset:3) compadd list && ret=0 ;;
    (note:3) compadd list create read write edit delete && ret=0 ;;
    (note:4)
      case $words[3] in
        (read|write|edit|delete) _welkmora_offer notes note && ret=0 ;;
      esac
      ;;
    (note:*)
      if [[ $words[3] == read ]] && (( (CURRENT - 5) % 2 == 0 )); then
        compadd -- --offset --limit && ret=0
      fi
      ;;
  esac
  return ret
}

_welkmora "$@"
