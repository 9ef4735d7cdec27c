#!/usr/bin/env bash
# The path's MTU beside tracepath: hopwise-cli trace --mtu -n against tracepath -n over a chain of
# three routers whose links behind routers 2 and 3 take 1400 and 1280 bytes (IPv4, namespaces
# made and removed here), whole processes timed from start to exit, the two tools in turn, each
# run after the client's routes forgot what earlier runs learned; the median of several runs.
# Both tools must find the same path MTU, or no time is printed.
#
#   bench/mtu/run.sh [BUILD_DIR]
#
# Prints "name value unit" lines: mtu_trace_hopwise, mtu_trace_anchor (seconds), mtu_hopwise and
# mtu_anchor (the path MTU each found). Needs root (namespaces); without it nothing is printed
# and bench/run-all reads "not measured".
set -uo pipefail

build=${1:-build/default}
cli=$(readlink -f "$build/cli/hopwise-cli")
runs=${HOPWISE_MTU_RUNS:-7}
if [ "$(id -u)" -ne 0 ]; then
  echo "bench/mtu: needs root (namespaces): not measured" >&2
  exit 0
fi
command -v tracepath >/dev/null || { echo "bench/mtu: tracepath is not installed" >&2; exit 0; }
[ -x "$cli" ] || { echo "bench/mtu: $build/cli/hopwise-cli is not built" >&2; exit 1; }

ns=hwmtu$$
nodes=(c r1 r2 r3 t)
cleanup() { for n in "${nodes[@]}"; do ip netns del "$ns-$n" 2>/dev/null; done; }
trap cleanup EXIT INT TERM
for n in "${nodes[@]}"; do
  ip netns add "$ns-$n" && ip -n "$ns-$n" link set lo up &&
    ip netns exec "$ns-$n" sysctl -qw net.ipv4.ip_forward=1 net.ipv4.icmp_ratelimit=0 ||
    exit 1
done
# Link i joins node i and node i + 1: 10.226.i.0/30, .1 on the left, .2 on the right.
for ((i = 0; i < ${#nodes[@]} - 1; i++)); do
  a=$ns-${nodes[i]} b=$ns-${nodes[i + 1]}
  ip link add hwr netns "$a" type veth peer name hwl netns "$b" &&
    ip -n "$a" link set hwr name "hwr$i" && ip -n "$b" link set hwl name "hwl$i" &&
    ip -n "$a" addr add "10.226.$i.1/30" dev "hwr$i" && ip -n "$b" addr add "10.226.$i.2/30" dev "hwl$i" &&
    ip -n "$a" link set "hwr$i" up && ip -n "$b" link set "hwl$i" up || exit 1
done
ip -n "$ns-r2" link set hwr2 mtu 1400 && ip -n "$ns-r3" link set hwl2 mtu 1400 &&
  ip -n "$ns-r3" link set hwr3 mtu 1280 && ip -n "$ns-t" link set hwl3 mtu 1280 || exit 1
# Towards the target along the chain, back towards the client the other way.
for ((i = 0; i < ${#nodes[@]}; i++)); do
  n=$ns-${nodes[i]}
  ((i < ${#nodes[@]} - 1)) && ip -n "$n" route add 10.226.0.0/16 via "10.226.$i.2" 2>/dev/null
  ((i > 0)) && ip -n "$n" route add 10.226.0.0/24 via "10.226.$((i - 1)).1" 2>/dev/null
done
target=10.226.$((${#nodes[@]} - 2)).2
ip netns exec "$ns-c" ping -c 1 -W 2 "$target" >/dev/null || { echo "bench/mtu: chain not up" >&2; exit 1; }

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
timed() { # FILE COMMAND...: wall seconds of one run in the client, its output into FILE
  local file=$1 start end
  shift
  ip netns exec "$ns-c" ip route flush cache
  start=$(date +%s.%N)
  ip netns exec "$ns-c" "$@" >"$file" 2>&1 || return 1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }'
}

out=$(mktemp -d /tmp/hopwise-mtu.XXXXXX)
ours=() theirs=()
for ((i = 0; i < runs; i++)); do
  ours+=("$(timed "$out/hopwise" "$cli" trace --mtu -n "$target")") || { echo "bench/mtu: hopwise-cli failed" >&2; exit 1; }
  theirs+=("$(timed "$out/tracepath" tracepath -n "$target")") || { echo "bench/mtu: tracepath failed" >&2; exit 1; }
done
mtu_ours=$(grep -o 'pmtu [0-9]*' "$out/hopwise" | tail -n 1 | cut -d' ' -f2)
mtu_theirs=$(sed -n 's/.*Resume: pmtu \([0-9]*\).*/\1/p' "$out/tracepath")
echo "mtu_hopwise ${mtu_ours:-none} bytes"
echo "mtu_anchor ${mtu_theirs:-none} bytes"
if [ -z "$mtu_ours" ] || [ "$mtu_ours" != "$mtu_theirs" ]; then
  echo "bench/mtu: the path MTUs differ (hopwise-cli ${mtu_ours:-none}, tracepath ${mtu_theirs:-none}); see $out" >&2
  exit 1
fi
echo "mtu_trace_hopwise $(printf '%s\n' "${ours[@]}" | median) s"
echo "mtu_trace_anchor $(printf '%s\n' "${theirs[@]}" | median) s"
echo "mtu_outputs $out"
