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
        -c | --count)
            [[ $command == ping ]] && COMPREPLY=($(compgen -W 'inf 1 4 10' -- "$cur"))
            return
            ;;
        -M)
            [[ $command == ping ]] && COMPREPLY=($(compgen -W 'do dont want' -- "$cur"))
            return
            ;;
        -i)
            # trace: an interface; ping and report: an interval
            [[ $command == trace ]] && _available_interfaces
            return
            ;;
        -I)
            _available_interfaces
            return
            ;;
        --cycles | --max-hop | -t | --ttl | --interval | -w | --wait | -W | --timeout | \
            --parallel | -f | --first-hop | -q | --queries | -N | -s | -Q | -p | --port | --flows)
            [[ $prev == -q && $command == ping ]] || return
            ;;
    esac

    local options
    case $command in
        trace) options='--max-hop -f --first-hop -q --queries -N --parallel -w --wait --timeout -i -s --mtu --resolve -n -U --udp -T --tcp -p --port --flows --json -4 -6 -h --help -V --version' ;;
        ping) options='-c --count -i --interval -t --ttl -W --timeout -w -s -M -Q -I -D -O -q --quiet --json -4 -6 -h --help -V --version' ;;
        report) options='-c --cycles -i --interval --live --max-hop --parallel -w --wait --timeout --resolve -n -U --udp -T --tcp -p --port --json -4 -6 -h --help -V --version' ;;
        *)
            COMPREPLY=($(compgen -W 'trace ping report -h --help -V --version' -- "$cur"))
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
