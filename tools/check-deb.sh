#!/usr/bin/env bash
# Checks the packages that tools/build-deb.sh built (default folder build/deb/), as root: the
# changelog carries the project's version; lintian finds no error and no warning that an
# override in debian/ doesn't accept; the desktop entry and the metainfo validate and the
# completions parse; both packages install with apt, the installed programs run (the window
# without a display says so and exits 1), each carries the README, and the install granted
# cap_net_raw, permitted only; purging both leaves none of their files behind, nor any file
# named after them that appeared meanwhile.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$(realpath "${1:-build/deb}")

fail() {
  echo "check-deb: $*" >&2
  exit 1
}

project=$(sed -n 's/^project(Hopwise VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
packaged=$(dpkg-parsechangelog -S Version)
[ "$packaged" = "$project" ] ||
  fail "debian/changelog is at $packaged, CMakeLists.txt at $project: add a changelog entry"

echo "-- lintian"
lintian --fail-on error,warning \
  "$dir"/hopwise_"$packaged"_*.deb "$dir"/hopwise-cli_"$packaged"_*.deb

echo "-- desktop entry and metainfo"
unpacked=$(mktemp -d)
# A failed check doesn't leave the packages installed either.
cleanup() {
  dpkg --purge hopwise hopwise-cli > /dev/null 2>&1 || true
}
trap 'cleanup; rm -rf "$unpacked"' EXIT
dpkg-deb -x "$dir"/hopwise_"$packaged"_*.deb "$unpacked"
dpkg-deb -x "$dir"/hopwise-cli_"$packaged"_*.deb "$unpacked"
# Debian 12's desktop-file-validate (0.26) predates version 1.5 of the desktop entry format,
# which added SingleMainWindow: that one complaint is expected, any other finding fails.
findings=$(desktop-file-validate "$unpacked"/usr/share/applications/*.desktop 2>&1 |
  grep -v 'key "SingleMainWindow" in group "Desktop Entry", but keys extending the format' ||
  true)
[ -z "$findings" ] || fail "desktop-file-validate: $findings"
appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml

echo "-- completions parse"
bash -n "$unpacked"/usr/share/bash-completion/completions/hopwise-cli
zsh -n "$unpacked"/usr/share/zsh/vendor-completions/_hopwise-cli
fish -n "$unpacked"/usr/share/fish/vendor_completions.d/hopwise-cli.fish

echo "-- install"
export DEBIAN_FRONTEND=noninteractive
cleanup # an installed version of the same number would keep apt from installing these
touch "$unpacked/before"
apt-get install -y -qq "$dir"/hopwise_"$packaged"_*.deb "$dir"/hopwise-cli_"$packaged"_*.deb
dpkg-query -L hopwise hopwise-cli | sort -u > "$unpacked/files"

/usr/bin/hopwise-cli ping -c 1 127.0.0.1
version=$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/hopwise --version)
[ "$version" = "hopwise $project" ] || fail "hopwise --version says '$version'"
status=0
refusal=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/hopwise 2>&1) || status=$?
[ "$status" -eq 1 ] && [[ $refusal == *"no display"* ]] ||
  fail "hopwise without a display: status $status, '$refusal'"
for package in hopwise hopwise-cli; do
  [ -e /usr/share/doc/$package/README.md ] || [ -e /usr/share/doc/$package/README.md.gz ] ||
    fail "$package carries no README"
  granted=$(getcap /usr/bin/$package)
  [[ $granted == *cap_net_raw=p ]] || fail "/usr/bin/$package: no cap_net_raw+p ($granted)"
done
# An ordinary user pings too: through the capability where the range leaves groups out.
setpriv --reuid=nobody --regid=nogroup --clear-groups /usr/bin/hopwise-cli ping -c 1 \
  127.0.0.1

echo "-- purge"
apt-get purge -y -qq hopwise hopwise-cli
left=()
while read -r file; do
  if [ -e "$file" ] && [ ! -d "$file" ]; then
    left+=("$file")
  fi
done < "$unpacked/files"
# Files their maintainer scripts might have made are nowhere in dpkg's lists.
while read -r file; do
  left+=("$file")
done < <(find /usr /etc /var/lib /opt -xdev -name '*hopwise*' -newer "$unpacked/before" 2> /dev/null)
[ ${#left[@]} -eq 0 ] || fail "left after purge: ${left[*]}"
if dpkg-query -W -f='${db:Status-Abbrev}\n' hopwise hopwise-cli 2> /dev/null | grep -q .; then
  fail "dpkg still knows a package: $(dpkg-query -W hopwise hopwise-cli 2>&1)"
fi
echo "-- packages checked"
