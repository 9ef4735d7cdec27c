#!/usr/bin/env bash
# Round-trip accuracy: how far the reported round trip lies from a peer's known delay D, for
# hopwise-cli and, as the anchor, iputils ping against the same peer (tools/icmp-responder in a
# namespace whose kernel ignores echo requests). Prints "name value unit" lines:
#   accuracy_<tool>_d<D>_{mean,max}_error <value> ms
# hopwise reports whole milliseconds, truncated, so its error is 0 when it is exact; ping reports
# fractions (three significant digits: whole milliseconds from 100 ms on). Unanswered probes
# are left out. Needs root and iproute2; every packet stays inside the two namespaces made here.
# Usage: bench/accuracy/run.sh [BUILD_DIR]   (default build/default)
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build/default}
responder=$build/tools/icmp-responder
cli=$build/cli/hopwise-cli
if [ "$(id -u)" -ne 0 ] || ! command -v ip > /dev/null; then
  echo "bench/accuracy: needs root and iproute2; skipped" >&2
  exit 0
fi
for program in "$responder" "$cli"; do
  [ -x "$program" ] || { echo "bench/accuracy: $program is not built" >&2; exit 1; }
done

# Named like the tests' namespaces (hw<pid>-...), so a run that is killed is cleaned up later.
client=hw$$-bench-client
target=hw$$-bench-target
log=$(mktemp)
cleanup() {
  rm -f "$log"
  ip netns pids "$target" 2> /dev/null | xargs -r kill -9
  ip netns del "$client" 2> /dev/null || true
  ip netns del "$target" 2> /dev/null || true
}
trap cleanup EXIT
ip netns add "$client"
ip netns add "$target"
ip link add hwbench$$a netns "$client" type veth peer name hwbench$$b netns "$target"
ip -n "$client" addr add 10.240.0.1/24 dev hwbench$$a
ip -n "$target" addr add 10.240.0.2/24 dev hwbench$$b
for ns in "$client" "$target"; do
  ip -n "$ns" link set lo up
done
ip -n "$client" link set hwbench$$a up
ip -n "$target" link set hwbench$$b up
ip netns exec "$target" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
address=10.240.0.2

# mean and max of (sample - D) over the samples on stdin
errors() {
  awk -v d="$1" -v name="$2" '{ e = $1 - d; s += e; if (n == 0 || e > m) m = e; n++ }
    END { if (n == 0) { print name "_mean_error nan ms"; print name "_max_error nan ms"; exit }
          printf "%s_mean_error %.3f ms\n%s_max_error %.3f ms\n", name, s / n, name, m }'
}

for case in "5 10" "50 6" "250 3"; do
  read -r delay samples <<< "$case"
  # One peer per delay answers both tools' requests, then leaves.
  ip netns exec "$target" "$responder" --delay "$delay" --count $((2 * samples)) --seconds 10 \
    > "$log" &
  for _ in $(seq 100); do
    grep -q '^ready' "$log" && break
    sleep 0.02
  done
  ip netns exec "$client" timeout 10 "$cli" ping --json --count "$samples" --interval 0.05 \
    --timeout $((delay + 500)) "$address" |
    sed -n 's/.*"type":"echo".*"address":"[0-9.]*".*"rtt_us":\([0-9]*\).*/\1/p' |
    awk '{ printf "%.3f\n", $1 / 1000 }' |
    errors "$delay" "accuracy_hopwise_d$delay"
  ip netns exec "$client" timeout 10 ping -n -c "$samples" -i 0.05 -W 2 "$address" |
    sed -n 's/.* time=\([0-9.]*\) ms.*/\1/p' | errors "$delay" "accuracy_ping_d$delay"
  wait || true
done
