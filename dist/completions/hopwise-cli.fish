# fish completion for hopwise-cli

set -l commands trace ping report

complete -c hopwise-cli -f
complete -c hopwise-cli -s h -l help -d 'Show the help and exit'
complete -c hopwise-cli -s V -l version -d 'Show the version and exit'
complete -c hopwise-cli -n "not __fish_seen_subcommand_from $commands" -a trace -d 'List the routers on the way to HOST'
complete -c hopwise-cli -n "not __fish_seen_subcommand_from $commands" -a ping -d 'Send echo requests to HOST'
complete -c hopwise-cli -n "not __fish_seen_subcommand_from $commands" -a report -d 'Loss and round trips per hop over cycles'

# Every command: the host, --json, the family and the time-out in milliseconds.
complete -c hopwise-cli -n "__fish_seen_subcommand_from $commands" -a '(__fish_print_hostnames)'
complete -c hopwise-cli -n "__fish_seen_subcommand_from $commands" -l json -d 'One JSON object per line'
complete -c hopwise-cli -n "__fish_seen_subcommand_from $commands" -s 4 -d "IPv4 only: a name's IPv4 address, no IPv6 literal"
complete -c hopwise-cli -n "__fish_seen_subcommand_from $commands" -s 6 -d "IPv6 only: a name's IPv6 address, no IPv4 literal"
complete -c hopwise-cli -n "__fish_seen_subcommand_from $commands" -l timeout -x -d 'Milliseconds to wait for each reply'

complete -c hopwise-cli -n '__fish_seen_subcommand_from trace' -l max-hop -x -d 'Hop limit: hops 1 .. N-1 are probed'
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace' -s w -l wait -x -d 'Seconds to wait for a reply: MAX or MAX,HERE,NEAR'
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace' -s f -l first-hop -x -d 'The first hop probed'
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace' -s q -l queries -x -d 'Probes per hop'
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace' -l flows -x -d 'Flows of -U or -T traced side by side'
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace' -s N -x -d 'Hops probed at once'
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace' -s i -x -a '(__fish_print_interfaces)' -d 'Send through this interface'
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace' -s s -x -d 'Send from this local address'
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace' -l mtu -d 'Find the path MTU (pmtu N at the hops where it falls)'
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace report' -l resolve -d "Look up each responder's name"
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace report' -s n -d 'Addresses only, no names'
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace report' -l parallel -x -d 'Hops probed at once'
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace report' -s U -l udp -d 'Probe with UDP to a port'
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace report' -s T -l tcp -d 'Probe with TCP SYNs to a port'
complete -c hopwise-cli -n '__fish_seen_subcommand_from trace report' -s p -l port -x -d 'Destination port of -U or -T'

complete -c hopwise-cli -n '__fish_seen_subcommand_from report' -s c -l cycles -x -d 'Number of cycles'
complete -c hopwise-cli -n '__fish_seen_subcommand_from report' -s i -l interval -x -d 'Seconds from one cycle to the next'
complete -c hopwise-cli -n '__fish_seen_subcommand_from report' -l live -d 'Redraw the table after every cycle'
complete -c hopwise-cli -n '__fish_seen_subcommand_from report' -l max-hop -x -d 'Hop limit: hops 1 .. N-1 are probed'
complete -c hopwise-cli -n '__fish_seen_subcommand_from report' -s w -l wait -x -d 'Seconds to wait for a reply: MAX or MAX,HERE,NEAR'

complete -c hopwise-cli -n '__fish_seen_subcommand_from ping' -s c -l count -x -a inf -d 'Number of requests, or inf'
complete -c hopwise-cli -n '__fish_seen_subcommand_from ping' -s i -l interval -x -d 'Seconds from one request to the next'
complete -c hopwise-cli -n '__fish_seen_subcommand_from ping' -s t -l ttl -x -d 'Time-to-live of each request'
complete -c hopwise-cli -n '__fish_seen_subcommand_from ping' -s W -x -d 'Seconds to wait for each reply'
complete -c hopwise-cli -n '__fish_seen_subcommand_from ping' -s q -l quiet -d 'Print the summary only'
complete -c hopwise-cli -n '__fish_seen_subcommand_from ping' -s w -x -d 'Seconds after which the run ends'
complete -c hopwise-cli -n '__fish_seen_subcommand_from ping' -s s -x -d 'Data bytes in each request'
complete -c hopwise-cli -n '__fish_seen_subcommand_from ping' -s M -x -a 'do dont want' -d 'Path MTU discovery'
complete -c hopwise-cli -n '__fish_seen_subcommand_from ping' -s Q -x -d 'Type of service'
complete -c hopwise-cli -n '__fish_seen_subcommand_from ping' -s I -x -a '(__fish_print_interfaces)' -d 'Send through this interface or from this address'
complete -c hopwise-cli -n '__fish_seen_subcommand_from ping' -s D -d 'Begin each line with the time since 1970'
complete -c hopwise-cli -n '__fish_seen_subcommand_from ping' -s O -d 'Say when a request had no answer before the next'
