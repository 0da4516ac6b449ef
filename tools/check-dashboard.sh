#!/usr/bin/env bash
# Checks the dashboard page in a real browser: builds ravel-dashboard-sample (build-dashboard,
# Release), writes the dashboard of a generated site, runs the HTML validator tidy on it, and
# loads it in headless Chromium: no console message, the sections, tables and charts in its DOM,
# and screenshots at desktop and phone width. The desktop one is the README's,
# docs/dashboard.png; both are in out/dashboard/ as well.
# One line per check, then "N passed, N failed"; the exit status is not 0 when a check failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-dashboard"
out="$root/out/dashboard"
page="$out/index.html"

"$root/tools/install-deps.sh" cmake make g++ libgtest-dev chromium tidy

passed=0
failed=0
check() {
  local name=$1
  shift
  if "$@"; then
    echo "check-dashboard: pass: $name"
    passed=$((passed + 1))
  else
    echo "check-dashboard: FAIL: $name"
    failed=$((failed + 1))
  fi
}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DRAVEL_WINDOW=OFF >/dev/null
cmake --build "$build" --target ravel-dashboard-sample --parallel "$(nproc)" >/dev/null
rm -rf "$out"
mkdir -p "$out"
check "the sample page is written" "$build/tools/ravel-dashboard-sample" "$page"

page_is_small() { [[ $(stat -c %s "$page") -lt $((2 * 1024 * 1024)) ]]; }
check "the page is under 2 MB ($(stat -c %s "$page") bytes)" page_is_small
check "the page is valid UTF-8" iconv -f UTF-8 -t UTF-8 -o /dev/null "$page"

# tidy exits 1 on warnings and 2 on errors; warnings are shown but pass.
tidy_clean() {
  local status=0
  tidy -e -q "$page" >"$out/tidy.txt" 2>&1 || status=$?
  [[ -s $out/tidy.txt ]] && sed 's/^/  tidy: /' "$out/tidy.txt"
  [[ $status -lt 2 ]]
}
check "tidy -e reports no errors" tidy_clean

# Chromium as root needs --no-sandbox; a profile of its own keeps runs apart. Its own noise (no
# D-Bus in a container) goes to the log too, so only the page's console lines count.
browser() {
  timeout 120 chromium --headless=new --no-sandbox --disable-gpu --hide-scrollbars \
    --user-data-dir="$out/profile" --enable-logging=stderr --v=0 "$@" "file://$page"
}
load_dom() { browser --dump-dom >"$out/dom.html" 2>"$out/chromium.log"; }
check "chromium loads the page" load_dom
no_console_messages() {
  if grep -q ':CONSOLE' "$out/chromium.log"; then
    grep ':CONSOLE' "$out/chromium.log" | sed 's/^/  console: /'
    return 1
  fi
}
check "no console messages" no_console_messages

dom_holds() {
  local pattern=$1 least=$2
  [[ $(grep -o -- "$pattern" "$out/dom.html" | wc -l) -ge $least ]]
}
check "the DOM holds the state banner" dom_holds '<header class="banner critical">' 1
for heading in "Failed in the last run" "Overdue" "Trends" "Reports"; do
  check "the DOM holds the section \"$heading\"" dom_holds "<h2>$heading<" 1
done
check "the DOM holds the failed and overdue tables with their heads" dom_holds '<thead>' 2
check "the DOM holds three charts" dom_holds '<svg ' 3
check "the DOM holds the report links" dom_holds '<li><a href="report_' 100

screenshot() {
  local file=$1 size=$2
  browser --screenshot="$file" --window-size="$size" 2>>"$out/chromium.log" >/dev/null && [[ -s $file ]]
}
check "a screenshot at 1200x1600" screenshot "$out/dashboard.png" 1200,1600
check "a screenshot at phone width, 390x1600" screenshot "$out/dashboard-phone.png" 390,1600
keep_screenshot() { cp "$out/dashboard.png" "$root/docs/dashboard.png"; }
check "the screenshot is kept as docs/dashboard.png" keep_screenshot
rm -rf "$out/profile"

echo "check-dashboard: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
