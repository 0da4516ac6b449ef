#!/usr/bin/env bash
# Builds the Debian packages into out/deb/ (or the folder given): ravel, with the five programs,
# their man pages, the documentation and the systemd units, and ravel-window, with the console
# window and the Qt it needs. Install them with `apt-get install ./out/deb/ravel_*.deb`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/out/deb}")
"$root/tools/install-deps.sh"

# A build of its own: the package installs in /usr, and the units and man pages name the
# folders of that install. Only what the packages hold is built. RAVEL_DEB_BUILD names another
# build folder, so that two people building packages in one tree do not share one.
build=$(realpath -m "${RAVEL_DEB_BUILD:-$root/build-deb}")
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" \
  --target ravelrun-tinted ravelrun-plain ravelrun-brief ravelbook ravel-status ravelbook_window \
  man_pages changelog

rm -rf "$build/packages"
(cd "$build" && cpack -G DEB -B "$build/packages" >/dev/null)
mkdir -p "$out"
rm -f "$out"/ravel_*.deb "$out"/ravel-window_*.deb
cp "$build"/packages/*.deb "$out/"
for package in "$out"/*.deb; do echo "Package: $package"; done
