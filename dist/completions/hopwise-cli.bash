# bash completion for hopwise-cli                                   -*- shell-script -*-

_hopwise_cli()
{
    local cur prev words cword
    _init_completion || return

    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            trace | ping | report)
                command=${words[i]}
                break
                ;;
        esac
    done

    case $prev in
        -c | --count | --cycles)
            [[ $command == report ]] && return
            COMPREPLY=($(compgen -W 'inf 1 4 10' -- "$cur"))
            return
            ;;
        --max-hop | -t | --ttl | -i | --interval | -w | --wait | --deadline | -W | --timeout | --parallel | -s | --size | -Q | --tos)
            [[ $command == trace && $prev == -i ]] && _available_interfaces
            [[ $command == trace && $prev == -s ]] && _ip_addresses
            return
            ;;
        -I | --interface)
            _available_interfaces
            _ip_addresses -a
            return
            ;;
        -M)
            COMPREPLY=($(compgen -W 'do dont want' -- "$cur"))
            return
            ;;
    esac

    local options
    case $command in
        trace) options='--max-hop -w --wait --timeout --resolve -n --parallel -i --interface -s --source --json -4 -6 -h --help' ;;
        ping) options='-c --count -i --interval -t --ttl -W --timeout -w --deadline -s --size -I --interface -M -Q --tos -D -O -q --quiet --json -4 -6 -h --help' ;;
        report) options='-c --cycles -i --interval --live --max-hop --parallel -w --wait --timeout --json -4 -6 -h --help' ;;
        *)
            COMPREPLY=($(compgen -W 'trace ping report -h --help' -- "$cur"))
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
