# bash completion for hopwise-cli                                   -*- shell-script -*-

_hopwise_cli()
{
    local cur prev words cword
    _init_completion || return

    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            trace | ping)
                command=${words[i]}
                break
                ;;
        esac
    done

    case $prev in
        -c | --count)
            COMPREPLY=($(compgen -W 'inf 1 4 10' -- "$cur"))
            return
            ;;
        --max-hop | -t | --ttl | -i | --interval | -w | --wait | -W | --timeout)
            return
            ;;
    esac

    local options
    case $command in
        trace) options='--max-hop -w --wait --timeout --resolve -n --json -h --help' ;;
        ping) options='-c --count -i --interval -t --ttl -W --timeout -q --quiet --json -h --help' ;;
        *)
            COMPREPLY=($(compgen -W 'trace ping -h --help' -- "$cur"))
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    else
        _known_hosts_real -- "$cur"
    fi
} &&
    complete -F _hopwise_cli hopwise-cli

# ex: filetype=sh
