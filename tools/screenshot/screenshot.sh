#!/usr/bin/env bash
# PNGs of the window's two tabs, its About box, the hop tree's context menu and a route monitor
# (made-up samples and names), drawn on a private Xvfb display with default settings, into OUT_DIR
# (default build/screenshots), and again
# at a scale factor of 2 into OUT_DIR/scale2.
#
#   tools/screenshot/screenshot.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
build_dir=${1:-build/default}
out_dir=${2:-build/screenshots}
cmake --build "$build_dir" --target hopwise-grab >/dev/null
mkdir -p "$out_dir"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME="$scratch/config" QT_QPA_PLATFORM=xcb
xvfb-run -a -s "-screen 0 800x600x24" "$build_dir/tools/screenshot/hopwise-grab" "$out_dir"
# The same at a scale factor of 2, where the icons must stay crisp.
mkdir -p "$out_dir/scale2"
QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 1600x1200x24" \
    "$build_dir/tools/screenshot/hopwise-grab" "$out_dir/scale2"
