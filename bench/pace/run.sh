#!/usr/bin/env bash
# Traces and reports at the pace of the path, each beside its anchor in the same run: whole
# processes, timed from start to exit, the two tools in turn, the median of several runs each.
#
#   - a trace over 9 routers (ICMP rate limits off) whose hop 3 never answers: hopwise-cli trace -n
#     against traceroute -I -n -q 1; then the same with hops 3, 5 and 7 silent;
#   - a report over the first chain: hopwise-cli report -c 20 -i 0.1 against mtr -r -n -c 20
#     -i 0.1, and each tool's loss per hop;
#   - 50,000 echoes back to back on 127.0.0.1: hopwise-cli ping -q -i 0 against iputils
#     ping -q -i 0, wall and CPU (user + system) time.
#
#   bench/pace/run.sh [BUILD_DIR]
#
# Prints "name value unit" lines. Everything here needs root (namespaces, ping -i 0, mtr -i 0.1);
# without it nothing is printed and bench/run-all reads "not measured".
set -uo pipefail
set -f # the commands below are split into words, never globbed

median() { # reads one number per line; prints the median
  sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

timed() { # FILE COMMAND...: "wall cpu" seconds of one run, its output into FILE; fails with it
  local file=$1 times
  shift
  times=$({ TIMEFORMAT='%R %U %S'; time "$@" >"$file" 2>&1; } 2>&1) || return 1
  awk '{ printf "%.4f %.4f\n", $1, $2 + $3 }' <<<"$times"
}

pair() { # NAME RUNS "COMMAND A" "COMMAND B": NAME_{hopwise,anchor}{,_cpu} medians
  local name=$1 runs=$2 a=$3 b=$4 i r wa=() ca=() wb=() cb=()
  for ((i = 0; i < runs; i++)); do
    r=$(timed "$logs/$name.hopwise.out" $a) || { echo "$name: failed: $a" >&2; return 1; }
    wa+=("${r% *}") ca+=("${r#* }")
    r=$(timed "$logs/$name.anchor.out" $b) || { echo "$name: failed: $b" >&2; return 1; }
    wb+=("${r% *}") cb+=("${r#* }")
  done
  echo "${name}_hopwise $(printf '%s\n' "${wa[@]}" | median) s"
  echo "${name}_hopwise_cpu $(printf '%s\n' "${ca[@]}" | median) s"
  echo "${name}_anchor $(printf '%s\n' "${wb[@]}" | median) s"
  echo "${name}_anchor_cpu $(printf '%s\n' "${cb[@]}" | median) s"
}

losses() { # FILE: the Loss% column of a report table, hop by hop (hopwise-cli's and mtr's alike)
  awk '$1 ~ /^[0-9]+\.\|--$/ { sub(/%/, "", $3); printf "%s%s", sep, $3; sep = "," } END { print "" }' "$1"
}

# Inside a chain's client namespace (hopwise_pace_chain), HOPWISE_TARGET its target.
if [ "${1:-}" = --inside ]; then
  cli=$HOPWISE_PACE_CLI logs=$HOPWISE_PACE_LOGS runs=$HOPWISE_PACE_RUNS
  target=${HOPWISE_TARGET:-127.0.0.1}
  # Every link's neighbours found before the first timed run, which would pay for it.
  ping -c 1 -W 2 "$target" >/dev/null 2>&1
  case $2 in
  trace_*)
    command -v traceroute >/dev/null || { echo "traceroute is not installed" >&2; exit 0; }
    pair "pace_$2" "$runs" "$cli trace -n $target" "traceroute -I -n -q 1 $target"
    ;;
  report)
    command -v mtr >/dev/null || { echo "mtr is not installed (mtr-tiny)" >&2; exit 0; }
    names=
    "$cli" report --help 2>/dev/null | grep -q -- ' -n' && names=-n
    pair pace_report "$HOPWISE_PACE_REPORT_RUNS" "$cli report -c 20 -i 0.1 $names $target" \
      "mtr -r -n -c 20 -i 0.1 $target" &&
      echo "pace_report_loss_hopwise $(losses "$logs/pace_report.hopwise.out") %" &&
      echo "pace_report_loss_anchor $(losses "$logs/pace_report.anchor.out") %"
    ;;
  ping)
    pair pace_ping "$runs" "$cli ping -q -i 0 -c 50000 127.0.0.1" "ping -q -i 0 -c 50000 127.0.0.1"
    ;;
  esac
  exit 0
fi

build=${1:-build/default}
chain=$build/bench/pace/hopwise_pace_chain
if [ "$(id -u)" -ne 0 ]; then
  echo "bench/pace: needs root (namespaces, ping -i 0, mtr -i 0.1): not measured" >&2
  exit 0
fi
[ -x "$chain" ] || { echo "bench/pace: $chain is not built (-DHOPWISE_BUILD_BENCH=ON)" >&2; exit 1; }
export HOPWISE_PACE_CLI HOPWISE_PACE_LOGS HOPWISE_PACE_RUNS HOPWISE_PACE_REPORT_RUNS
HOPWISE_PACE_CLI=$(readlink -f "$build/cli/hopwise-cli")
HOPWISE_PACE_LOGS=$(mktemp -d /tmp/hopwise-pace.XXXXXX)
HOPWISE_PACE_RUNS=${HOPWISE_PACE_RUNS:-5}
HOPWISE_PACE_REPORT_RUNS=${HOPWISE_PACE_REPORT_RUNS:-3}
self=$(readlink -f "$0")
"$chain" 9 3 -- "$self" --inside trace_silent3
"$chain" 9 3,5,7 -- "$self" --inside trace_silent357
"$chain" 9 3 -- "$self" --inside report
"$chain" 0 - -- "$self" --inside ping # loopback, in a namespace of its own
echo "pace_outputs $HOPWISE_PACE_LOGS"
