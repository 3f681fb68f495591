#compdef welkmora-host
# zsh completion of welkmora-host, the headless host of the Welkmora canvas.
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

_welkmora_host() {
  local -a commands host_options socket names expl
  commands=(
    'serve:run the host in the foreground'
    'join:register this shell as a terminal on the canvas'
    'ls:list every terminal and note'
    'attach:show a terminal here and type into it'
    'send-keys:type keys into a terminal'
    'remote:run a recruited program on another machine over ssh'
    'resume:start held terminals again'
    'forget:drop a held terminal'
    'stop:stop the running host'
    'help:print the usage'
  )
  host_options=(
    '--socket:the socket to listen on'
    '--state:where notes, roles and their ropes are kept'
    '--presets:launch presets, a JSON array'
    '--settle:quiet time that ends a turn without a clearer sign'
    '--max-wait:longest wait for one turn'
    '--web:serve the canvas in the browser'
    '--web-key-file:where the canvas page key is kept'
    '--log:append the activity log to a file'
    '--resume:start the terminals kept from before at once'
    '--no-save-screens:keep no screens on disk'
  )

  case $words[CURRENT-1] in
    (--socket|--state|--presets|--web-key-file|--log) _files; return ;;
    (--settle|--max-wait) _message 'time (500ms, 2s, 10m)'; return ;;
    (--web) _message '[address:]port'; return ;;
  esac

  # The command, the operands before the cursor and a --socket to ask.
  local i command= operands=0
  for (( i = 2; i < CURRENT; i++ )); do
    case $words[i] in
      (--socket) socket=(--socket ${~words[i+1]}); (( i++ )) ;;
      (--state|--presets|--settle|--max-wait|--web|--web-key-file|--log) (( i++ )) ;;
      (-?*) ;;
      (*) if [[ -z $command ]]; then command=$words[i]; else (( operands++ )); fi ;;
    esac
  done

  local -a flags
  case $command in
    ('')
      if [[ $PREFIX == -* ]]; then
        flags=($host_options '--version:print the version' '--help:print the usage')
        _describe -t options option flags
      else
        _describe -t commands 'welkmora-host command' commands
      fi
      ;;
    (serve)
      flags=($host_options '--help:print the usage')
      _describe -t options option flags
      ;;
    (join) [[ $PREFIX == -* ]] && compadd -- --socket --pid --help ;;
    (ls) compadd -- --json --socket --help ;;
    (attach|send-keys)
      if [[ $PREFIX == -* ]]; then
        flags=(--socket --help)
        [[ $command == attach ]] && flags+=(--read-only) || flags+=(-l)
        compadd -a flags
      elif (( operands == 0 )); then
        names=(${(f)"$(_welkmora_host_terminals 'running|exited|held' $socket)"})
        _wanted terminals expl terminal compadd -a names
      elif [[ $command == send-keys ]]; then
        _wanted keys expl key compadd Enter Escape Tab BTab BSpace Space Up Down Left Right Home End IC DC PageUp PageDown \
          F{1..12} C-c C-d C-z
      fi
      ;;
    (resume|forget)
      if [[ $PREFIX == -* ]]; then
        flags=(--socket --help)
        [[ $command == resume ]] && flags+=(--all)
        compadd -a flags
      elif (( operands == 0 )); then
        names=(${(f)"$(_welkmora_host_terminals held $socket)"})
        _wanted terminals expl 'held terminal' compadd -a names
      fi
      ;;
    (stop) compadd -- --socket --help ;;
    (remote) (( operands == 0 )) && [[ $PREFIX != -* ]] && _hosts ;;
    (help) (( operands == 0 )) && _describe -t commands 'welkmora-host command' commands ;;
  esac
}

_welkmora_host "$@"
