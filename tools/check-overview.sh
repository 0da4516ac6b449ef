#!/usr/bin/env bash
# Checks the overview page of all sites as ravel-status writes it, in a real browser: builds
# ravelrun-tinted, ravel-genlisting and ravel-status (build-overview, Release) and makes six data
# folders the way daily runs make them (ravelrun-tinted --history once a day on generated
# listings, the clock moved by faketime): three sites, one of them named with markup and one in
# Latin-1 bytes, one whose daily run stopped four days ago, one with no run yet and one whose
# history is not one, the last three but one outside the page's folder. ravel-status --html then
# writes the page over them, with thresholds that leave some sites OK, and changes no byte in any
# folder; the HTML validator tidy finds no error in the page, and headless Chromium loads it: no
# console message, a row a site, worst first, each link to a dashboard leading to one, and
# screenshots at desktop and phone width. The desktop one is the README's, docs/overview.png;
# both are in out/overview/ as well.
# One line per check, then "N passed, N failed"; the exit status is not 0 when a check failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-overview"
out="$root/out/overview"
sites="$out/sites"
elsewhere="$out/elsewhere"
page="$sites/index.html"
days=40

say() { echo "check-overview: $*"; }

"$root/tools/install-deps.sh" cmake make g++ libgtest-dev chromium tidy faketime

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DRAVEL_WINDOW=OFF >/dev/null
cmake --build "$build" --target ravelrun-tinted ravel-genlisting ravel-status \
  --parallel "$(nproc)" >/dev/null
tinted=$build/batch/ravelrun-tinted
status=$build/status/ravel-status

source "$root/tools/check-tally.sh"
source "$root/tools/check-page.sh"

rm -rf "$out"
mkdir -p "$sites" "$elsewhere"
plain="$sites/lyon-backup01"
hostile="$sites/paris dc <2> & \"co\""
latin1="$sites/"$'caf\xe9-srv'
stopped="$elsewhere/oslo"
fresh="$sites/madrid-new"
broken="$elsewhere/berlin"

# Day d's run ends five seconds after midnight UTC, on a listing of 200 jobs newer than the
# previous day's, the newest ten minutes before the run; the seed makes each site's failures its
# own.
first_day=1793404805
now=$((first_day + (days - 1) * 86400 + 3 * 3600))
run_day() {
  local folder=$1 seed=$2 day=$3
  local run_end=$((first_day + day * 86400)) newest_id=$((2600000 + 200 * day))
  "$build/tools/ravel-genlisting" listing --jobs 1000 --seed $((seed * 1000 + day)) \
    --newest-id "$newest_id" --newest-start $((run_end - 600)) --out "$folder/bpdbjobs.txt"
  local exit_status=0
  TZ=UTC faketime "@$run_end" "$tinted" --folder "$folder" --history --check \
    >"$out/last-run.txt" 2>&1 || exit_status=$?
  [[ $exit_status -le 2 ]] || no "day $day in $folder: $(cat "$out/last-run.txt")"
}
daily_runs() {
  local folder=$1 seed=$2 last_day=$3 day
  mkdir -p "$folder"
  echo $((2600000 - 200)) >"$folder/jobid.txt"
  for ((day = 0; day <= last_day; ++day)); do
    run_day "$folder" "$seed" "$day"
  done
}
check "$days daily runs of a site" daily_runs "$plain" 1 $((days - 1))
check "$days daily runs of a site whose name holds markup" daily_runs "$hostile" 2 $((days - 1))
check "$days daily runs of a site named in Latin-1" daily_runs "$latin1" 3 $((days - 1))
check "a site whose daily run stopped four days ago" daily_runs "$stopped" 4 $((days - 5))
make_others() {
  mkdir -p "$fresh" "$broken"
  printf 'this is no history\n' >"$broken/history.csv"
}
check "a site with no run yet and one whose history is no history" make_others

checksums() {
  find "$sites" "$elsewhere" -type f ! -path "$page" -print0 | sort -z | xargs -0 sha256sum
}
checksums >"$out/before.txt"
write_page() {
  local exit_status=0
  TZ=UTC faketime "@$now" "$status" --html "$page" --warning 20 --critical 100 \
    --overdue-warning 20 --sites-in "$sites" "$stopped" "$broken" \
    >"$out/status.txt" 2>&1 || exit_status=$?
  [[ $exit_status -eq 0 ]] || no "exit $exit_status: $(cat "$out/status.txt")"
  [[ -s $page ]] || no "no $page"
}
check "ravel-status --html sites/index.html --sites-in sites elsewhere/oslo elsewhere/berlin" \
  write_page
unchanged() {
  checksums >"$out/after.txt"
  cmp -s "$out/before.txt" "$out/after.txt" || no "$(diff "$out/before.txt" "$out/after.txt")"
  local written
  written=$(find "$sites" "$elsewhere" -mindepth 1 -newer "$out/before.txt" ! -path "$page")
  [[ -z $written ]] || no "written: $written"
}
check "no file in any data folder changed, nothing new in them" unchanged

page_is_small() { [[ $(stat -c %s "$page") -lt $((512 * 1024)) ]] || no "$(stat -c %s "$page") bytes"; }
check "the page is under 512 KB" page_is_small
check "the page is valid UTF-8" iconv -f UTF-8 -t UTF-8 -o /dev/null "$page"

check "tidy -e reports no errors" tidy_clean
show_tidy_warnings

check "chromium loads the page" load_dom
check "no console messages" no_console_messages

check "the DOM holds a critical banner" dom_holds '<header class="banner critical">' 1
check "the banner counts six sites" dom_holds '<strong>CRITICAL</strong> 6 sites: ' 1
check "the DOM holds a row a site" dom_holds '<tr><td data-label="State">' 6
check "the DOM holds four trends of 30 runs" dom_holds '<g><title>' 120
check "the DOM holds the escaped name" dom_holds '>paris dc &lt;2&gt; &amp; "co"</a>' 1
check "the DOM holds the Latin-1 name as UTF-8" dom_holds $'>caf\xc3\xa9-srv</a>' 1
check "the DOM says which site has no history" dom_holds '>no history<' 1

# Worst first: the critical sites (the one without a run, then the stopped one), the ones with
# failed jobs or overdue pairs over the thresholds, the unknown one, and the OK ones last.
worst_first() {
  local order folders
  order=$(grep -o 'class="badge [a-z]*"' "$out/dom.html" | sed 's/.*badge //; s/"//g' | uniq |
    tr '\n' ' ')
  [[ $order =~ ^critical\ (warning\ )?unknown\ (ok\ )?$ ]] || no "states in order: $order"
  folders=$(sed -n 's/<wbr>//g; s/.*<span class="sub">\([^<]*\)<\/span><\/div><\/td><td data-label="Why".*/\1/p' \
    "$out/dom.html" | sed 's/.*\///' | head -n 2 | tr '\n' ' ')
  [[ $folders == "madrid-new oslo " ]] || no "the first two: $folders"
}
check "the rows come worst first" worst_first

# Each link to a dashboard leads to one: relative ones below the page's folder, a file URL for
# the site elsewhere.
links_lead_to_dashboards() {
  local href target relative=0 absolute=0
  while read -r href; do
    case $href in
    file://*) target=${href#file://} && absolute=$((absolute + 1)) ;;
    *) target=$sites/$href && relative=$((relative + 1)) ;;
    esac
    target=$(printf '%b' "${target//%/\\x}")
    [[ -f $target ]] || no "$href leads to no file"
  done < <(grep -o '<a href="[^"]*"' "$out/dom.html" | sed 's/<a href="//; s/"$//')
  [[ $relative -eq 3 ]] || no "$relative relative links, not 3"
  [[ $absolute -eq 1 ]] || no "$absolute file URLs, not 1"
}
check "three relative links and a file URL, each leading to its site's dashboard" \
  links_lead_to_dashboards

screenshots_and_tally overview 1200,900
