# fish completion of welkmora-host, the headless host of the Welkmora canvas.
#
# It completes the commands, their options and files, the key names of
# send-keys, and the live terminal names for attach and send-keys (and the
# held ones for resume and forget), read from
# `welkmora-host ls --json` (of the socket given with --socket, if any) with
# at most a second per call and its errors dropped, so Tab stays silent when
# no host runs and never hangs the prompt.

# Prints the names of the host's terminals in the states that the pattern
# $argv[1] matches ("running|exited|held": those that have a screen), one a
# line, from the socket given on the command line if any. Each object of
# the "terminals" array of the JSON is matched whole (strings may hold
# braces), and its name unescaped: a name holds no control characters, so
# the only escapes in it are \" and \\.
function __welkmora_host_terminals --argument-names states
    set -l socket
    set -l typed (commandline -opc)
    if set -l i (contains -i -- --socket $typed); and test $i -lt (count $typed)
        set socket --socket $typed[(math $i + 1)]
    end
    timeout 1 welkmora-host ls --json $socket </dev/null 2>/dev/null | tr -d '\n' |
        env LC_ALL=C sed -e 's/.*"terminals"[[:space:]]*:[[:space:]]*\[//' \
        -e 's/\][[:space:]]*,[[:space:]]*"notes"[[:space:]]*:.*//' |
        env LC_ALL=C grep -oE '[{]([^{}"]|"([^"\\\\]|\\\\.)*")*[}]' |
        env LC_ALL=C grep -E '"state"[[:space:]]*:[[:space:]]*"('$states')"' |
        env LC_ALL=C grep -oE '"name"[[:space:]]*:[[:space:]]*"([^"\\\\]|\\\\.)*"' |
        env LC_ALL=C sed -e 's/^"name"[[:space:]]*:[[:space:]]*"//' -e 's/"$//' -e 's/\\\\"/"/g' -e 's/\\\\\\\\/\\\\/g'
end

# The command and its operands before the cursor, without the options and
# their values.
function __welkmora_host_words
    set -l typed (commandline -opc)[2..]
    set -l skip 0
    for word in $typed
        if test $skip -eq 1
            set skip 0
        else if __welkmora_host_valued $word
            set skip 1
        else if not string match -q -- '-?*' $word
            echo $word
        end
    end
end

# `__welkmora_host_at N COMMAND...`: true when the command is one of the
# COMMANDs and N of its operands stand before the cursor;
# `__welkmora_host_at 0`: true while no command is typed yet.
function __welkmora_host_at --argument-names operands
    set -l words (__welkmora_host_words)
    if test (count $argv) -eq 1
        test (count $words) -eq 0
        return
    end
    contains -- "$words[1]" $argv[2..]; or return 1
    test (count $words) -eq (math $operands + 1)
end

# `__welkmora_host_from N COMMAND...`: true when the command is one of the
# COMMANDs and at least N of its operands stand before the cursor.
function __welkmora_host_from --argument-names operands
    set -l words (__welkmora_host_words)
    contains -- "$words[1]" $argv[2..]; or return 1
    test (count $words) -gt $operands
end

complete -c welkmora-host -f

# generated from welkmora-host's table of commands (tools/host_files.cpp); do not edit
# True when $argv[1] is an option that takes a value.
function __welkmora_host_valued
    contains -- $argv[1] --socket --state --presets --settle --max-wait --web --web-key-file --log --pid
end

complete -c welkmora-host -n '__welkmora_host_at 0' -a serve -d 'Run the host in the foreground'
complete -c welkmora-host -n '__welkmora_host_at 0' -a join -d 'Put this shell on the canvas'
complete -c welkmora-host -n '__welkmora_host_at 0' -a ls -d 'List every terminal and note'
complete -c welkmora-host -n '__welkmora_host_at 0' -a attach -d 'Show a terminal here and type into it'
complete -c welkmora-host -n '__welkmora_host_at 0' -a send-keys -d 'Type keys into a terminal'
complete -c welkmora-host -n '__welkmora_host_at 0' -a remote -d 'Run a recruit'\''s program on another machine over ssh'
complete -c welkmora-host -n '__welkmora_host_at 0' -a resume -d 'Start held terminals again'
complete -c welkmora-host -n '__welkmora_host_at 0' -a forget -d 'Drop a held terminal'
complete -c welkmora-host -n '__welkmora_host_at 0' -a stop -d 'Stop the running host'
complete -c welkmora-host -n '__welkmora_host_at 0' -a help -d 'Print the usage'
complete -c welkmora-host -n '__welkmora_host_at 0; or __welkmora_host_from 0 serve' -l socket -r -F -d 'The socket to listen on'
complete -c welkmora-host -n '__welkmora_host_at 0; or __welkmora_host_from 0 serve' -l state -r -F -d 'Where notes, roles and their ropes are kept'
complete -c welkmora-host -n '__welkmora_host_at 0; or __welkmora_host_from 0 serve' -l presets -r -F -d 'Launch presets, a JSON array of {"name", "command"}'
complete -c welkmora-host -n '__welkmora_host_at 0; or __welkmora_host_from 0 serve' -l settle -x -d 'Fallback quiet time that ends a turn (default 2s)'
complete -c welkmora-host -n '__welkmora_host_at 0; or __welkmora_host_from 0 serve' -l max-wait -x -d 'Longest wait for one turn (default 10m)'
complete -c welkmora-host -n '__welkmora_host_at 0; or __welkmora_host_from 0 serve' -l web -x -d 'Serve the canvas page (ADDR 127.0.0.1; PORT 0: any)'
complete -c welkmora-host -n '__welkmora_host_at 0; or __welkmora_host_from 0 serve' -l web-key-file -r -F -d 'Where the page'\''s key is kept (default: beside the state file)'
complete -c welkmora-host -n '__welkmora_host_at 0; or __welkmora_host_from 0 serve' -l log -r -F -d 'Append the activity log to FILE'
complete -c welkmora-host -n '__welkmora_host_at 0; or __welkmora_host_from 0 serve' -l resume -d 'Start every terminal kept from before at once, rather than hold it'
complete -c welkmora-host -n '__welkmora_host_at 0; or __welkmora_host_from 0 serve' -l no-save-screens -d 'Keep no screens on disk (terminals come back without them)'
complete -c welkmora-host -n '__welkmora_host_at 0; or __welkmora_host_from 0 serve join ls attach send-keys resume forget stop' -l help -d 'Print the usage'
complete -c welkmora-host -n '__welkmora_host_at 0' -l version -d 'Print the version'
complete -c welkmora-host -n '__welkmora_host_from 0 join ls attach send-keys resume forget stop' -l socket -r -F -d 'The host'\''s socket'
complete -c welkmora-host -n '__welkmora_host_from 0 join' -l pid -x -d 'The process whose end takes the terminal off (default: this shell)'
complete -c welkmora-host -n '__welkmora_host_from 0 ls' -l json -d 'Print the listing as one JSON object'
complete -c welkmora-host -n '__welkmora_host_from 0 attach' -l read-only -d 'Watch only: keys and window size do not reach the terminal'
complete -c welkmora-host -n '__welkmora_host_from 0 send-keys' -s l -d 'Type every KEY as text, also words that name keys'
complete -c welkmora-host -n '__welkmora_host_from 0 resume' -l all -d 'Every held terminal'
complete -c welkmora-host -n '__welkmora_host_at 0 attach send-keys' -a "(__welkmora_host_terminals 'running|exited|held')" -d Terminal
complete -c welkmora-host -n '__welkmora_host_from 1 send-keys' -a 'Enter Escape Tab BTab BSpace Space Up Down Left Right Home End IC DC PageUp PageDown F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 F11 F12 C-c C-d C-z' -d Key
complete -c welkmora-host -n '__welkmora_host_at 0 remote' -a '(__fish_print_hostnames)' -d Host
complete -c welkmora-host -n '__welkmora_host_at 0 resume forget' -a '(__welkmora_host_terminals held)' -d 'Held terminal'
complete -c welkmora-host -n '__welkmora_host_at 0 help' -a 'serve join ls attach send-keys remote resume forget stop help' -d Command
# end of the generated part
