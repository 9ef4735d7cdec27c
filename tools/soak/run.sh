#!/usr/bin/env bash
# Soak: the ping page for 1,000,000 trials and the trace route page for 10,000 traces, both
# against 127.0.0.1 on the offscreen platform; memory and descriptors must stay flat.
#   tools/soak/run.sh [BUILD_DIR] [PING_TRIALS] [TRACES]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/default}
cmake --build "$build" --target hopwise-soak >/dev/null
exec "$build/tools/soak/hopwise-soak" "${2:-1000000}" "${3:-10000}"
