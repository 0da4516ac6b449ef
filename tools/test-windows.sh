#!/usr/bin/env bash
# Builds the Windows programs, their tests and the packages (tools/build-windows.sh) and runs the
# tests under wine on a virtual display, the console window's among them; then checks that runs on
# the bundled sample give under wine, byte for byte, the files the Linux build gives
# (tools/compare-windows-sample.sh), and that the installer installs programs that run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-windows

if [[ ${1:-} != --on-display ]]; then
  "$root/tools/build-windows.sh" --tests --package
  "$root/tools/install-deps.sh" wine wine64 xvfb xauth
  # One X display for the whole run, for the windows the tests show.
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$root/tools/test-windows.sh" --on-display
fi

# The wine prefix of this build (the emulator, build-windows/wine-run, uses the same).
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$build/wine-run
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  "$wine" wineboot --init >/dev/null 2>&1 </dev/null
  # Wine draws every window inside one desktop window of its own, so that no window manager is
  # needed: without one, each closing dialog waits two seconds for the focus to come back.
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
  "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null
  wineserver -w
fi

# One wine server for the run, rather than one started and stopped with each program, and wine's
# own services started here: started by a test, they would keep its output open after it ends.
wineserver -p
trap 'wineserver -k' EXIT
"$wine" wineboot >/dev/null 2>&1 </dev/null

# A folder and a file of another user, for the owner check's refusal: wine shows a host file of
# another user as another account's, and keeps no owner that a test would give. Only root can
# make them.
if [[ $(id -u) -eq 0 ]]; then
  other=$build/other-owner
  rm -rf "$other"
  mkdir -p "$other"
  printf 'earlier\r\n' >"$other/out1.txt"
  chown -R nobody "$other"
  export RAVEL_OTHER_OWNER_FOLDER="Z:$other"
fi

ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)"
"$root/tools/compare-windows-sample.sh"

# The installer, run silently as an administrator would, puts the programs where the
# scheduled-task example (dist/windows/schedule-daily.cmd) expects them, and they run there.
installer=$(ls "$root"/out/ravel-*-windows-x64.exe)
"$wine" "$installer" /S
"$wine" 'C:\Program Files\Ravel\bin\ravelbook.exe' --version
"$wine" 'C:\Program Files\Ravel\bin\ravel-status.exe' --version
# It makes the site folder, and leaves a Start menu entry that opens the console window on it.
if [[ ! -d $WINEPREFIX/drive_c/Ravel/site ]]; then
  echo "test-windows.sh: the installer made no folder C:\Ravel\site" >&2
  exit 1
fi
shortcut=$(find "$WINEPREFIX/drive_c" -name 'Ravel report console.lnk' -print -quit)
if [[ -z $shortcut ]] || ! strings -el "$shortcut" | grep -qF -- '--window --folder C:\Ravel\site'; then
  echo "test-windows.sh: no Start menu entry that opens the console window on C:\Ravel\site" >&2
  exit 1
fi
