#!/usr/bin/env bash
# Installs the Debian packages that Hopwise needs to build, test and benchmark. As root it runs
# apt-get; otherwise it prints the one command to run and stops.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libsqlite3-dev
  clang libclang-rt-14-dev clang-format clang-tidy
  iproute2 iputils-ping traceroute mtr-tiny nftables libcap2-bin procps util-linux
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-charts-dev libqt6opengl6-dev libgl-dev libxcb1-dev fonts-dejavu-core xvfb xauth
  debhelper dpkg-dev fakeroot lintian desktop-file-utils appstream groff-base man-db zsh fish
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Hopwise needs these Debian packages: ${missing[*]}" >&2
  echo "Install them with:" >&2
  echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
