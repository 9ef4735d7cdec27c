#!/usr/bin/env bash
# UDP and TCP traces over 9 routers that drop the ICMP echo requests they would forward (ICMP
# rate limits off), each beside traceroute doing the same in the same run: whole processes, timed
# from start to exit, the two tools in turn, the median of several runs each.
#
#   - hopwise-cli trace -n -T -p 443 against traceroute -T -p 443 -n -q 1 (which needs root);
#   - hopwise-cli trace -n -U against traceroute -U -n -q 1;
#   - each pair's hops compared: "yes" when both list the same responder at every hop.
#
#   bench/methods/run.sh [BUILD_DIR]
#
# Prints "name value unit" lines. The chain needs root; without it nothing is printed and
# bench/run-all reads "not measured".
set -uo pipefail
set -f # the commands below are split into words, never globbed

median() { # reads one number per line; prints the median
  sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

timed() { # FILE COMMAND...: wall seconds of one run, its output into FILE; fails with it
  local file=$1 times
  shift
  times=$({ TIMEFORMAT='%R'; time "$@" >"$file" 2>&1; } 2>&1) || return 1
  echo "$times"
}

hops() { # FILE: "hop:responder" of every numbered line (hopwise-cli's and traceroute's alike)
  awk '$1 ~ /^[0-9]+$/ { printf "%s:%s ", $1, $2 } END { print "" }' "$1"
}

pair() { # NAME RUNS "COMMAND A" "COMMAND B": NAME_{hopwise,anchor} medians, NAME_same_hops
  local name=$1 runs=$2 a=$3 b=$4 i r wa=() wb=()
  for ((i = 0; i < runs; i++)); do
    r=$(timed "$logs/$name.hopwise.out" $a) || { echo "$name: failed: $a" >&2; return 1; }
    wa+=("$r")
    r=$(timed "$logs/$name.anchor.out" $b) || { echo "$name: failed: $b" >&2; return 1; }
    wb+=("$r")
  done
  echo "${name}_hopwise $(printf '%s\n' "${wa[@]}" | median) s"
  echo "${name}_anchor $(printf '%s\n' "${wb[@]}" | median) s"
  local ours theirs
  ours=$(hops "$logs/$name.hopwise.out") theirs=$(hops "$logs/$name.anchor.out")
  echo "${name}_same_hops $([ -n "$ours" ] && [ "$ours" = "$theirs" ] && echo yes || echo no) -"
}

# Inside the chain's client namespace (hopwise_pace_chain), HOPWISE_TARGET its target.
if [ "${1:-}" = --inside ]; then
  cli=$HOPWISE_METHODS_CLI logs=$HOPWISE_METHODS_LOGS runs=$HOPWISE_METHODS_RUNS
  target=$HOPWISE_TARGET
  command -v traceroute >/dev/null || { echo "traceroute is not installed" >&2; exit 0; }
  # Every link's neighbours found before the first timed run, which would pay for it.
  traceroute -U -n -q 1 "$target" >/dev/null 2>&1
  pair methods_tcp "$runs" "$cli trace -n -T -p 443 $target" "traceroute -T -p 443 -n -q 1 $target"
  pair methods_udp "$runs" "$cli trace -n -U $target" "traceroute -U -n -q 1 $target"
  exit 0
fi

build=${1:-build/default}
chain=$build/bench/pace/hopwise_pace_chain
if [ "$(id -u)" -ne 0 ]; then
  echo "bench/methods: needs root (namespaces, traceroute -T): not measured" >&2
  exit 0
fi
[ -x "$chain" ] || { echo "bench/methods: $chain is not built (-DHOPWISE_BUILD_BENCH=ON)" >&2; exit 1; }
export HOPWISE_METHODS_CLI HOPWISE_METHODS_LOGS HOPWISE_METHODS_RUNS
HOPWISE_METHODS_CLI=$(readlink -f "$build/cli/hopwise-cli")
HOPWISE_METHODS_LOGS=$(mktemp -d /tmp/hopwise-methods.XXXXXX)
HOPWISE_METHODS_RUNS=${HOPWISE_METHODS_RUNS:-7}
"$chain" 9 - --drop-echo -- "$(readlink -f "$0")" --inside
echo "methods_outputs $HOPWISE_METHODS_LOGS"
