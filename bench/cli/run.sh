#!/usr/bin/env bash
# hopwise-cli's round trip on 127.0.0.1 beside iputils ping's, in the same run: the median of
# 1,000 echoes each, sent back to back (hopwise-cli --interval 0, ping -i 0). Only root may give
# ping an interval below 2 ms; otherwise ping runs at -i 0.002 and the line says so.
#
#   bench/cli/run.sh [BUILD_DIR]
set -uo pipefail
build=${1:-build/default}
cli=$build/cli/hopwise-cli
samples=1000

median() { # reads one number per line; prints the median
  sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

"$cli" ping --json --quiet --count 1 127.0.0.1 > /dev/null 2>&1 ||
  { echo "hopwise-cli can't ping 127.0.0.1 here" >&2; exit 1; }

interval=0
[ "$(id -u)" -eq 0 ] || interval=0.002
echo "cli_samples $samples"
echo "ping_interval $interval s"

# Each tool's µs, one per echo that was answered.
timeout 60 "$cli" ping --json --interval 0 --count "$samples" --timeout 1000 127.0.0.1 |
  sed -n 's/.*"type":"echo".*"rtt_us":\([0-9]*\).*/\1/p' | median |
  awk '{ print "cli_median_rtt " $1 " us" }'
if command -v ping > /dev/null; then
  timeout 60 ping -n -i "$interval" -c "$samples" -W 1 127.0.0.1 |
    sed -n 's/.* time=\([0-9.]*\) ms.*/\1/p' | awk '{ printf "%d\n", $1 * 1000 + 0.5 }' |
    median | awk '{ print "ping_median_rtt " $1 " us" }'
fi
