#!/usr/bin/env bash
# Cross-builds the five programs and the console window module for Windows with MinGW-w64 in
# build-windows/ and puts them together in out/windows/bin/, ready to copy to a Windows machine,
# beside the README, the docs and the scheduled-task example.
#   --tests     builds the tests as well (tools/test-windows.sh runs them under wine)
#   --package   also makes the zip and the installer, out/ravel-<version>-windows-x64.{zip,exe}
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-windows
tests=OFF
package=false
for argument in "$@"; do
  case $argument in
    --tests) tests=ON ;;
    --package) package=true ;;
    *) echo "usage: $0 [--tests] [--package]" >&2; exit 2 ;;
  esac
done

packages=(cmake make g++-mingw-w64-x86-64-posix)
[[ $tests == ON ]] && packages+=(googletest)
$package && packages+=(nsis)
"$root/tools/install-deps.sh" "${packages[@]}"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DRAVEL_TESTS=$tests >/dev/null
if [[ $tests == ON ]]; then
  cmake --build "$build" --parallel "$(nproc)"
else
  cmake --build "$build" --parallel "$(nproc)" --target ravelrun-tinted ravelrun-plain \
    ravelrun-brief ravelbook ravel-status ravelbook_window
fi

# The folder as the zip and the installer lay it out: the programs and the module in bin/.
out=$root/out/windows
rm -rf "$out"
cmake --install "$build" --prefix "$out" --strip >/dev/null
echo "Windows programs: $out/bin"

if $package; then
  (cd "$build" && cpack -B "$root/out" >/dev/null)
  rm -rf "$root/out/_CPack_Packages"
  for file in "$root"/out/ravel-*-windows-x64.{zip,exe}; do echo "Package:          $file"; done
fi
