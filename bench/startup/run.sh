#!/usr/bin/env bash
# Start-up time to the first painted window, and resident memory of the idle window, of
# `hopwise` beside two anchors measured in the same run on a private Xvfb display: a trivial Qt
# Widgets window (draws no text) and Qt's tutorial hello-world (a push button, so fonts load). Prints "name value unit" lines; each value is the median of RUNS starts.
#
#   bench/startup/run.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build_dir=${1:-build/default}
runs=${2:-7}
cmake --build "$build_dir" --target hopwise trivial_window hello_world first_paint >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/runtime"
# The window's settings and instance socket stay in the scratch directory.
export XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/runtime"
export QT_QPA_PLATFORM=xcb

probe="$build_dir/bench/startup/first_paint"
xvfb-run -a -s "-screen 0 800x600x24 -br" bash -c "
  '$probe' trivial $runs '$build_dir/bench/startup/trivial_window' &&
  '$probe' hello $runs '$build_dir/bench/startup/hello_world' &&
  '$probe' hopwise $runs '$build_dir/app/hopwise'"
