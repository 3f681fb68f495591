# fish completion of welkmora, the client of the Welkmora workspace app.
#
# It completes the command words, the subcommands of the families, the
# flags, and the live names the operands want:
# peers (from `welkmora list`), notes (`welkmora note list`), roles
# (`welkmora role list`) and presets (`welkmora preset list`). Those are read
# from the client's own output, only when WELKMORA_SOCKET is set, with at
# most a second per call and their errors dropped, so Tab stays silent
# outside the app and never hangs the prompt.

# Prints the names of one kind, one a line: peers, notes, roles or presets,
# or the commands a command line may start with.
function __welkmora_names --argument-names kind
    if test "$kind" = commands
        __fish_complete_command
        return
    end
    test -n "$WELKMORA_SOCKET"; or return 0
    set -l query
    set -l script
    switch $kind
        case peers
            set query list
            set script '/^Verbundene Agenten:$/,/^Notizen:$/s/^  - //p'
        case notes
            set query note list
            set script '/^Notizen:$/,$s/^  - //p'
        case roles
            set query role list
            set script '/^Verfügbare Rollen:$/,$s/^  - //p'
        case presets
            set query preset list
            set script '/^Verfügbare Presets:$/,${/^  - /{s///;s/  (.*)$//;p}}'
    end
    timeout 1 welkmora $query </dev/null 2>/dev/null | env LC_ALL=C sed -n $script
end

# True when the words before the cursor after `welkmora` begin with the
# given words and the word at the cursor is the one after them plus $argv[1]
# more: `__welkmora_at 0 check` at `welkmora check <Tab>`.
function __welkmora_at --argument-names skip
    set -l typed (commandline -opc)[2..]
    set -l prefix $argv[2..]
    test (count $typed) -eq (math (count $prefix) + $skip); or return 1
    for i in (seq (count $prefix))
        test "$typed[$i]" = "$prefix[$i]"; or return 1
    end
end

# True at a flag of recruit (codename first, then flags with their values);
# with an argument, at the value of that flag.
# True when the words typed so far are the given words, `operands` more and
# whole pairs of a flag and its value.
function __welkmora_flag_at --argument-names operands
    set -l prefix $argv[2..]
    set -l typed (commandline -opc)[2..]
    set -l rest (math (count $typed) - (count $prefix) - $operands)
    test $rest -ge 0; and test (math $rest % 2) -eq 0; or return 1
    for i in (seq (count $prefix))
        test "$typed[$i]" = "$prefix[$i]"; or return 1
    end
end

# True when the word typed last is `flag`, after the given words, `operands`
# more and whole pairs.
function __welkmora_value_at --argument-names flag operands
    set -l prefix $argv[3..]
    set -l typed (commandline -opc)[2..]
    set -l rest (math (count $typed) - (count $prefix) - $operands)
    test $rest -ge 1; and test (math $rest % 2) -eq 1; and test "$typed[-1]" = "$flag"; or return 1
    for i in (seq (count $prefix))
        test "$typed[$i]" = "$prefix[$i]"; or return 1
    end
end

complete -c welkmora -f

# --- generated from the catalogue (tools/catalogue_files.cpp); do not edit
complete -c welkmora -n '__welkmora_at 0' -a onboard -d 'Print who this terminal is, its peers and the core commands'
complete -c welkmora -n '__welkmora_at 0' -a list -d 'List the peers and notes roped to this terminal'
complete -c welkmora -n '__welkmora_at 0' -a check -d 'Show the recent screen of a peer'
complete -c welkmora -n '__welkmora_at 0' -a ask -d 'Send a prompt to a peer and wait for the answer'
complete -c welkmora -n '__welkmora_at 0' -a connect -d 'Draw a rope between two terminals or notes'
complete -c welkmora -n '__welkmora_at 0' -a dismiss -d 'End a terminal and cut its ropes'
complete -c welkmora -n '__welkmora_at 0' -a role -d 'List, create, show, change, delete or assign roles'
complete -c welkmora -n '__welkmora_at 0' -a preset -d 'List the launch presets'
complete -c welkmora -n '__welkmora_at 0' -a recruit -d 'Start a new terminal roped to this one'
complete -c welkmora -n '__welkmora_at 0' -a note -d 'List, create, read, write, edit or delete notes'
complete -c welkmora -n '__welkmora_at 0' -a debug -d 'Check the connection to the app'
complete -c welkmora -n '__welkmora_at 0' -a help -d 'Print the list of commands'
complete -c welkmora -n '__welkmora_at 0 role' -a 'list create show edit write delete assign'
complete -c welkmora -n '__welkmora_at 0 preset' -a 'list'
complete -c welkmora -n '__welkmora_at 0 note' -a 'list create read write edit delete'
complete -c welkmora -n '__welkmora_at 0 check' -a '(__welkmora_names peers)'
complete -c welkmora -n '__welkmora_at 0 ask' -a '(__welkmora_names peers)'
complete -c welkmora -n '__welkmora_at 0 ask' -a --batch -d 'Ask several peers, JSON {"Name":"prompt"}'
complete -c welkmora -n '__welkmora_at 0 connect' -a '(__welkmora_names peers)'
complete -c welkmora -n '__welkmora_at 0 connect' -a '(__welkmora_names notes)'
complete -c welkmora -n '__welkmora_at 1 connect' -a '(__welkmora_names peers)'
complete -c welkmora -n '__welkmora_at 1 connect' -a '(__welkmora_names notes)'
complete -c welkmora -n '__welkmora_at 0 dismiss' -a '(__welkmora_names peers)'
complete -c welkmora -n '__welkmora_at 0 role show' -a '(__welkmora_names roles)'
complete -c welkmora -n '__welkmora_at 0 role edit' -a '(__welkmora_names roles)'
complete -c welkmora -n '__welkmora_at 0 role write' -a '(__welkmora_names roles)'
complete -c welkmora -n '__welkmora_at 0 role delete' -a '(__welkmora_names roles)'
complete -c welkmora -n '__welkmora_at 0 role assign' -a '(__welkmora_names peers)'
complete -c welkmora -n '__welkmora_at 1 role assign' -a '(__welkmora_names roles)'
complete -c welkmora -n '__welkmora_at 1 role assign' -a --none
complete -c welkmora -n '__welkmora_flag_at 1 recruit' -a --role -d 'Role of the recruit'
complete -c welkmora -n '__welkmora_value_at --role 1 recruit' -a '(__welkmora_names roles)'
complete -c welkmora -n '__welkmora_flag_at 1 recruit' -a --preset -d 'Launch preset to start'
complete -c welkmora -n '__welkmora_value_at --preset 1 recruit' -a '(__welkmora_names presets)'
complete -c welkmora -n '__welkmora_flag_at 1 recruit' -a --command -d 'Command line to run'
complete -c welkmora -n '__welkmora_value_at --command 1 recruit' -a '(__welkmora_names commands)'
complete -c welkmora -n '__welkmora_at 0 note read' -a '(__welkmora_names notes)'
complete -c welkmora -n '__welkmora_flag_at 1 note read' -a --offset -d 'Start at this line'
complete -c welkmora -n '__welkmora_flag_at 1 note read' -a --limit -d 'Read at most this many lines'
complete -c welkmora -n '__welkmora_at 0 note write' -a '(__welkmora_names notes)'
complete -c welkmora -n '__welkmora_at 0 note edit' -a '(__welkmora_names notes)'
complete -c welkmora -n '__welkmora_at 0 note delete' -a '(__welkmora_names notes)'
# --- end of the generated part
