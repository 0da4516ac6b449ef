#!/usr/bin/env bash
# Checks the dashboard page as a daily run writes it, in a real browser: builds ravelrun-tinted
# and ravel-genlisting (build-dashboard, Release), runs ravelrun-tinted --history on a generated
# site once a day for 100 days (the clock moved by faketime, a new listing each day, the last
# day twice so that an earlier report of the day is kept), runs the HTML validator tidy on its
# index.html, and loads it in headless Chromium: no console message, the sections, tables and
# charts in its DOM, and screenshots at desktop and phone width. The desktop one is the
# README's, docs/dashboard.png; both are in out/dashboard/ as well.
# One line per check, then "N passed, N failed"; the exit status is not 0 when a check failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-dashboard"
out="$root/out/dashboard"
site="$out/site1"
page="$site/index.html"
days=100

"$root/tools/install-deps.sh" cmake make g++ libgtest-dev chromium tidy faketime

say() { echo "check-dashboard: $*"; }
source "$root/tools/check-tally.sh"
source "$root/tools/check-page.sh"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DRAVEL_WINDOW=OFF >/dev/null
cmake --build "$build" --target ravelrun-tinted ravel-genlisting --parallel "$(nproc)" >/dev/null
rm -rf "$out"
mkdir -p "$site"

# The operator's status table, with a Latin-1 byte as a Windows editor would save it.
printf '%s\r\n' '1,partially successful: some files were skipped' '2,none of the files were backed up' \
  '13,file read failed' '50,client process aborted' '58,cannot connect to the client' \
  '84,media write error' '96,no media available' '150,terminated by the administrator' \
  '156,snapshot error' $'196,backup window closed before the job could start (r\xe9essayer)' \
  >"$site/status_codes.txt"

# Day d's run ends five seconds after midnight UTC; its listing holds 200 jobs newer than the
# previous day's, the newest of them ten minutes before the run: about three jobs a day for each
# of the generator's 63 (policy, client) pairs, so that few are overdue, as on a healthy site.
first_day=1788048005
run_day() {
  local day=$1 newest_id=$2
  local now=$((first_day + day * 86400))
  "$build/tools/ravel-genlisting" listing --jobs 1000 --seed $((day + 1)) --newest-id "$newest_id" \
    --newest-start $((now - 600)) --out "$site/bpdbjobs.txt"
  local status=0
  TZ=UTC faketime "@$now" "$build/batch/ravelrun-tinted" --folder "$site" --history --check \
    >"$out/last-run.txt" 2>&1 || status=$?
  [[ $status -le 2 ]] || { cat "$out/last-run.txt" >&2; return 1; }
}
daily_runs() {
  echo $((2600000 - 200)) >"$site/jobid.txt"
  local day
  for ((day = 0; day < days; ++day)); do
    run_day "$day" $((2600000 + 200 * day)) || return 1
  done
  # The last day once more, with 40 more jobs: the first report of the day is kept as .1.
  run_day $((days - 1)) $((2600000 + 200 * (days - 1) + 40))
}
check "$days daily runs with --history" daily_runs
check "the last run wrote index.html" test -s "$page"

page_is_small() { [[ $(stat -c %s "$page") -lt $((2 * 1024 * 1024)) ]]; }
check "the page is under 2 MB ($(stat -c %s "$page" 2>/dev/null || echo 0) bytes)" page_is_small
check "the page is valid UTF-8" iconv -f UTF-8 -t UTF-8 -o /dev/null "$page"

check "tidy -e reports no errors" tidy_clean
show_tidy_warnings

check "chromium loads the page" load_dom
check "no console messages" no_console_messages

check "the DOM holds the state banner" dom_holds '<header class="banner [a-z]*">' 1
for heading in "Failed in the last run" "Overdue" "Trends" "Reports"; do
  check "the DOM holds the section \"$heading\"" dom_holds "<h2>$heading<" 1
done
check "the DOM holds the failed and overdue tables with their heads" dom_holds '<thead>' 2
check "the DOM holds the status meanings" dom_holds 'class="meaning">[a-z]' 1
check "the DOM holds three charts of 90 runs" dom_holds '<rect ' 270
check "the DOM holds the report links, the kept one too" dom_holds '<li><a href="report_' 100
check "the DOM shows the capped reports as \"and N more\"" dom_holds 'and 1 more older report' 1

screenshots_and_tally dashboard 1200,1600
