# bash completion for quorvane-cli                                    -*- shell-script -*-

# Every option in one list, a line each: the command it belongs to (lookup, the default
# command; * for every command), its spellings, and after a colon what its argument completes
# to (no colon: it takes none; a trailing + marks an option that may be given again). Keep it in
# step with `quorvane-cli --help`: tests/install/check_completions.py compares the two.
_quorvane_cli_options='
*       -h --help
lookup  --version
lookup  -a --address        :address+
lookup  -s --source         :source
lookup  -d --delay          :number
lookup  --timeout           :number
lookup  -f --format         :format
lookup  -o --output         :file
lookup  --header
lookup  -q --quiet
lookup  -v --verbose
lookup  --resume
lookup  --retry-failed
lookup  --save-answers      :folder
lookup  --read-records
lookup  --keep-notices
lookup  --proxy             :url
lookup  --whois-server      :host
lookup  --no-referrals
lookup  -p --parallel       :number
lookup  --max-age           :duration
lookup  --no-store
lookup  --store             :file
history --store             :file
history -f --format         :format
history -o --output         :file
history --header
history --list              :file
changes --store             :file
changes -f --format         :format
changes -o --output         :file
changes --header
changes --list              :file
changes --since             :date
expiring --store            :file
expiring -f --format        :format
expiring -o --output        :file
expiring --header
expiring --list             :file
expiring --within           :duration
expiring --fail-if-any
latest  --store             :file
latest  -f --format         :format
latest  -o --output         :file
latest  --header
latest  --list              :file
enqueue --store             :url
enqueue --queue             :name
enqueue -q --quiet
work    --store             :url
work    --queue             :name
work    --pace-group        :name
work    --follow
work    --lease             :number
work    --batch             :number
work    -s --source         :source
work    -d --delay          :number
work    --timeout           :number
work    -p --parallel       :number
work    --whois-server      :host
work    --no-referrals
work    --max-age           :duration
work    --proxy             :url
work    --keep-notices
work    -q --quiet
work    -v --verbose
queue   --store             :url
queue   --queue             :name
queue   -f --format         :format
'
_quorvane_cli_sources='auto whois rdap site1 site2 site3'
_quorvane_cli_formats='tsv txt csv jsonl xlsx'

_quorvane_cli()
{
    local cur prev words cword split
    _init_completion -s || return

    # The sub-commands are the commands the list names besides lookup.
    local -A kinds=()
    local -a commands=() spellings=()
    local scope=lookup line name names kind
    while read -r name names; do
        [[ $name && $name != lookup && $name != '*' ]] || continue
        [[ " ${commands[*]} " == *" $name "* ]] || commands+=("$name")
    done <<<"$_quorvane_cli_options"
    [[ $cword -gt 1 && " ${commands[*]} " == *" ${words[1]} "* ]] && scope=${words[1]}

    while read -r line; do
        read -r name names <<<"${line%%:*}"
        [[ $name == "$scope" || $name == '*' ]] || continue
        kind=
        [[ $line == *:* ]] && kind=${line##*:}
        for name in $names; do
            kinds[$name]=${kind%+}
            spellings+=("$name")
        done
    done <<<"$_quorvane_cli_options"

    # The argument of the option before.
    if [[ $prev == -* && -n ${kinds[$prev]-} ]]; then
        case ${kinds[$prev]} in
            source) COMPREPLY=($(compgen -W "$_quorvane_cli_sources" -- "$cur")) ;;
            format) COMPREPLY=($(compgen -W "$_quorvane_cli_formats" -- "$cur")) ;;
            file) _filedir ;;
            folder) _filedir -d ;;
            host) _known_hosts_real -- "$cur" ;;
            # a number, an address or a proxy's URL: nothing to offer
        esac
        return
    fi
    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "${spellings[*]}" -- "$cur"))
        return
    fi
    # List files or addresses (or the saved answers of --read-records); a sub-command in first
    # place.
    [[ $scope == lookup ]] && _filedir
    ((cword == 1)) && COMPREPLY+=($(compgen -W "${commands[*]}" -- "$cur"))
} &&
    complete -F _quorvane_cli quorvane-cli
