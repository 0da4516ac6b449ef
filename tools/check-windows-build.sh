#!/usr/bin/env bash
# Cross-compiles the pipeline and the batch reporters for Windows with MinGW-w64, so that the
# Windows platform layer keeps building. Nothing is run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
compiler=x86_64-w64-mingw32-g++-posix
if ! command -v "$compiler" >/dev/null; then
  sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq g++-mingw-w64-x86-64-posix
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
flags=(-std=c++20 -O1 -Wall -Wextra -Wpedantic -Werror -I"$root/pipeline" -I"$root/monitoring"
  -I"$root/batch")
pids=()
for source in "$root"/pipeline/*.cpp "$root/monitoring/check.cpp" "$root/batch/form1.cpp"; do
  [[ $source == *_posix.cpp ]] && continue
  "$compiler" "${flags[@]}" -c "$source" -o "$out/$(basename "$source").o" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
for edition in tinted plain brief; do
  "$compiler" "${flags[@]}" -DRAVEL_PROGRAM="\"ravelrun-$edition\"" -DRAVEL_VERSION='"check"' \
    -DRAVEL_EDITION="${edition}_edition" -c "$root/batch/main.cpp" -o "$out/main-$edition.o"
  "$compiler" -static "$out"/*.cpp.o "$out/main-$edition.o" -o "$out/ravelrun-$edition.exe"
done
echo "Windows build: ravelrun-tinted.exe, ravelrun-plain.exe, ravelrun-brief.exe link cleanly"
