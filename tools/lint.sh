#!/usr/bin/env bash
# The checks that read the code without running it; any finding fails. Usage:
#   tools/lint.sh [BUILD_DIR]     (BUILD_DIR holds compile_commands.json; default build/default)
#   tools/lint.sh --format-only   (layers and formatting, no build needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}

echo "-- layers"
python3 tools/check-layers.py

echo "-- clang-format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
echo "formatted: $(git ls-files '*.cpp' '*.h' | wc -l) files"

[ "$build" = "--format-only" ] && exit 0

echo "-- clang-tidy"
# The header filter is matched against absolute paths: it names this checkout's library and test
# folders, so the project's headers are checked once each and system or generated ones never.
root=$(pwd)
filter="^${root}/(text|res|probe|run|settings|trace|ping|cli|widgets|app|tests|monitor)/"
# The fuzz targets build only with the clang fuzz preset, so they are not in this database.
git ls-files '*.cpp' | grep -v '^tests/fuzz/' |
  xargs -P "$(nproc)" -n 8 clang-tidy -p "$build" --quiet --warnings-as-errors='*' \
    --header-filter="$filter" 2>/dev/null
echo "clang-tidy: no findings"
