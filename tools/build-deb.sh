#!/usr/bin/env bash
# Builds the Debian packages hopwise and hopwise-cli into one folder (default build/deb/).
# dpkg-buildpackage writes its results beside the tree it builds, so it builds a copy of this
# tree inside that folder, and the copy goes afterwards. Without tests and benchmarks
# (nocheck): CI runs the suite in its own stages.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/deb}")

rm -rf "$out"
mkdir -p "$out/src"
tar --exclude=./build --exclude=./.git --exclude='./obj-*' --exclude=./.cache -cf - . |
  tar -xf - -C "$out/src"

# The copy's path stays the same from build to build, so ccache can serve a rebuild; debhelper
# points HOME at a fresh folder, so the cache is named here.
if command -v ccache > /dev/null; then
  CCACHE_DIR=$(ccache -k cache_dir)
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$out/src" CCACHE_DIR
fi
export DEB_BUILD_OPTIONS="nocheck parallel=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)} ${DEB_BUILD_OPTIONS:-}"
(cd "$out/src" && dpkg-buildpackage -us -uc -b)
rm -rf "$out/src"
ls -l "$out"/*.deb
