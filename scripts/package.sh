#!/usr/bin/env bash
# Builds qeln-console_VERSION_amd64.deb (the three programs, the menu entry, man pages, the udev
# rule and the fleet exporter's unit) into OUTDIR (default: the build folder) and prints its
# path last. Usage: scripts/package.sh [OUTDIR]
# QELN_BUILD_DIR chooses the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${QELN_BUILD_DIR:-build}
bash scripts/build.sh >&2
out=$(realpath -m "${1:-$build}")
mkdir -p "$out"
work="$build/_package"
rm -rf "$work"
(cd "$build" && cpack -G DEB -B "$PWD/_package" >&2)
deb=$(find "$work" -maxdepth 1 -name 'qeln-console_*_amd64.deb' -print -quit)
[[ -n "$deb" ]] || { echo "package.sh: cpack made no package" >&2; exit 1; }
mv -f "$deb" "$out/"
rm -rf "$work"
echo "$out/$(basename "$deb")"
