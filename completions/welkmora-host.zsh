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

# Offers the terminals in the states $2 (a pattern), described as $1.
_welkmora_host_offer_terminals() {
  names=(${(f)"$(_welkmora_host_terminals $2 $socket)"})
  _wanted terminals expl $1 compadd -a names
}

# The command's words come from the table of commands below: the command
# (none: the workspace, whose options may come first), its options, and
# what each operand's place offers. Options may stand anywhere; the words
# after an option with a value are its value, not operands.
_welkmora_host() {
  local -a commands flags files socket names expl
  local -A values
  local command= first=2 prev=$words[CURRENT-1]
  if (( CURRENT > 2 )) && [[ $words[2] != -* ]]; then
    command=$words[2] first=3
  fi
  _welkmora_host_table "$command"
  if (( ${files[(Ie)$prev]} )); then
    _files
    return
  fi
  if [[ -n $prev && -n ${values[(e)$prev]} ]]; then
    _message -e values ${values[(e)$prev]}
    return
  fi

  # The operands before the cursor and a --socket to ask.
  local i operands=0
  for (( i = first; i < CURRENT; i++ )); do
    [[ $words[i] == --socket ]] && socket=(--socket ${~words[i+1]})
    if (( ${files[(Ie)$words[i]]} )) || [[ -n $words[i] && -n ${values[(e)$words[i]]} ]]; then
      (( i++ ))
    elif [[ $words[i] != -?* ]]; then
      (( operands++ ))
    fi
  done

  if (( CURRENT == 2 )) && [[ $PREFIX != -* ]]; then
    _describe -t commands 'welkmora-host command' commands
  elif [[ $PREFIX == -* ]]; then
    _describe -t options option flags
  else
    _welkmora_host_operand "$command" $operands
  fi
}

# generated from welkmora-host's table of commands (tools/host_files.cpp); do not edit
# Sets commands, the command words with what they do, and the options of
# command $1 ('' for none): flags, all of them with what they do; files,
# those whose value is a file; values, the others with a value, with what
# they want.
_welkmora_host_table() {
  commands=(
    'serve:run the host in the foreground'
    'join:put this shell on the canvas'
    'ls:list every terminal and note'
    'attach:show a terminal here and type into it'
    'send-keys:type keys into a terminal'
    'remote:run a recruit'\''s program on another machine over ssh'
    'resume:start held terminals again'
    'forget:drop a held terminal'
    'stop:stop the running host'
    'help:print the usage'
  )
  case $1 in
    (serve)
      flags=(
        '--socket:the socket to listen on'
        '--state:where notes, roles and their ropes are kept'
        '--presets:launch presets, a JSON array of {"name", "command"}'
        '--settle:fallback quiet time that ends a turn (default 2s)'
        '--max-wait:longest wait for one turn (default 10m)'
        '--web:serve the canvas page (ADDR 127.0.0.1; PORT 0: any)'
        '--web-key-file:where the page'\''s key is kept (default: beside the state file)'
        '--log:append the activity log to FILE'
        '--resume:start every terminal kept from before at once, rather than hold it'
        '--no-save-screens:keep no screens on disk (terminals come back without them)'
        '--help:print the usage'
      )
      files=(--socket --state --presets --web-key-file --log)
      values=(--settle 'time (500ms, 2s, 10m)' --max-wait 'time (500ms, 2s, 10m)' --web '[address:]port')
      ;;
    ('')
      flags=(
        '--socket:the socket to listen on'
        '--state:where notes, roles and their ropes are kept'
        '--presets:launch presets, a JSON array of {"name", "command"}'
        '--settle:fallback quiet time that ends a turn (default 2s)'
        '--max-wait:longest wait for one turn (default 10m)'
        '--web:serve the canvas page (ADDR 127.0.0.1; PORT 0: any)'
        '--web-key-file:where the page'\''s key is kept (default: beside the state file)'
        '--log:append the activity log to FILE'
        '--resume:start every terminal kept from before at once, rather than hold it'
        '--no-save-screens:keep no screens on disk (terminals come back without them)'
        '--help:print the usage'
        '--version:print the version'
      )
      files=(--socket --state --presets --web-key-file --log)
      values=(--settle 'time (500ms, 2s, 10m)' --max-wait 'time (500ms, 2s, 10m)' --web '[address:]port')
      ;;
    (join)
      flags=(
        '--socket:the host'\''s socket'
        '--pid:the process whose end takes the terminal off (default: this shell)'
        '--help:print the usage'
      )
      files=(--socket)
      values=(--pid 'process id')
      ;;
    (ls)
      flags=(
        '--json:print the listing as one JSON object'
        '--socket:the host'\''s socket'
        '--help:print the usage'
      )
      files=(--socket)
      values=()
      ;;
    (attach)
      flags=(
        '--read-only:watch only: keys and window size do not reach the terminal'
        '--socket:the host'\''s socket'
        '--help:print the usage'
      )
      files=(--socket)
      values=()
      ;;
    (send-keys)
      flags=(
        '-l:type every KEY as text, also words that name keys'
        '--socket:the host'\''s socket'
        '--help:print the usage'
      )
      files=(--socket)
      values=()
      ;;
    (remote)
      flags=()
      files=()
      values=()
      ;;
    (resume)
      flags=(
        '--all:every held terminal'
        '--socket:the host'\''s socket'
        '--help:print the usage'
      )
      files=(--socket)
      values=()
      ;;
    (forget)
      flags=(
        '--socket:the host'\''s socket'
        '--help:print the usage'
      )
      files=(--socket)
      values=()
      ;;
    (stop)
      flags=(
        '--socket:the host'\''s socket'
        '--help:print the usage'
      )
      files=(--socket)
      values=()
      ;;
    (help)
      flags=()
      files=()
      values=()
      ;;
    (*) flags=() files=() values=() ;;
  esac
}

# Offers what operand $2 (0 the first) of command $1 wants.
_welkmora_host_operand() {
  case $1:$2 in
    (serve:*|'':*|ls:*|stop:*) _describe -t options option flags ;;
    (attach:0|send-keys:0) _welkmora_host_offer_terminals terminal 'running|exited|held' ;;
    (remote:0) _hosts ;;
    (resume:0|forget:0) _welkmora_host_offer_terminals 'held terminal' held ;;
    (help:0) _describe -t commands 'welkmora-host command' commands ;;
    (send-keys:*) _wanted keys expl key compadd -- Enter Escape Tab BTab BSpace Space Up Down Left Right Home End IC DC PageUp PageDown F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 F11 F12 C-c C-d C-z ;;
  esac
}
# end of the generated part

_welkmora_host "$@"
