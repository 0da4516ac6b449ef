#!/usr/bin/env bash
# Runs each program on the bundled sample with a Linux build of the programs alone
# (build-windows/linux/, apart from the everyday build/) and under wine with the Windows build
# (build-windows/), each in a folder of its own under out/compare/, and checks that
# both leave the same bytes: the job table, the interim files, the report and the job marker.
# Wine must be set up as tools/test-windows.sh leaves it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
programs=(ravelrun-tinted ravelrun-plain ravelrun-brief ravelbook)

linux=$root/build-windows/linux
cmake -S "$root" -B "$linux" -DCMAKE_BUILD_TYPE=Release -DRAVEL_TESTS=OFF -DRAVEL_WINDOW=OFF \
  >/dev/null
cmake --build "$linux" --parallel "$(nproc)" --target "${programs[@]}" >/dev/null

compare=$root/out/compare
rm -rf "$compare"
failed=0
for program in "${programs[@]}"; do
  arguments=()
  [[ $program == ravelbook ]] &&
    arguments=(--process --start "2026-11-01 00:00:00" --end "2026-12-31 00:00:00")
  for side in linux windows; do
    folder=$compare/$side/$program
    mkdir -p "$folder"
    cp "$root"/sample/{bpdbjobs.txt,jobid.txt,policy_list.txt} "$folder/"
  done
  cp "$linux/$([[ $program == ravelbook ]] && echo console || echo batch)/$program" \
    "$compare/linux/$program/"
  cp "$root/build-windows/$([[ $program == ravelbook ]] && echo console || echo batch)/$program.exe" \
    "$compare/windows/$program/"
  (cd "$compare/linux/$program" && "./$program" "${arguments[@]}")
  (cd "$compare/windows/$program" && "$root/build-windows/wine-run" "./$program.exe" "${arguments[@]}")
  rm "$compare/linux/$program/$program" "$compare/windows/$program/$program.exe"
  ls "$compare/windows/$program"/{out1.txt,report_*.html} >/dev/null
  if diff -r "$compare/linux/$program" "$compare/windows/$program" >/dev/null; then
    echo "$program: the same bytes on Linux and under wine ($(cd "$compare/linux/$program" && ls | tr '\n' ' '))"
  else
    echo "$program: Linux and wine differ:" >&2
    diff -rq "$compare/linux/$program" "$compare/windows/$program" >&2 || true
    failed=1
  fi
done
exit $failed
