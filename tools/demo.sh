#!/usr/bin/env bash
# What `make run` shows when there is no display for the window: a trace and four echoes to
# 127.0.0.1 through the command-line front end, on the same workers and engine as the window.
set -euo pipefail
build_dir=${1:-build/default}
cli="$build_dir/cli/hopwise-cli"

echo "\$ hopwise-cli trace 127.0.0.1"
"$cli" trace 127.0.0.1
echo
echo "\$ hopwise-cli ping --count 4 127.0.0.1"
"$cli" ping --count 4 127.0.0.1
