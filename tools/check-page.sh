# What the checks of a page in a real browser share (tools/check-dashboard.sh and
# tools/check-overview.sh): the HTML validator, headless Chromium, the page's DOM and
# screenshots. The sourcing script sets page (the file) and out (a folder of its own) and has
# sourced tools/check-tally.sh.

# tidy exits 1 on warnings and 2 on errors; warnings are shown (show_tidy_warnings) but pass.
tidy_clean() {
  local exit_status=0
  tidy -e -q "$page" >"$out/tidy.txt" 2>&1 || exit_status=$?
  [[ $exit_status -lt 2 ]] || no "$(cat "$out/tidy.txt")"
}
show_tidy_warnings() {
  if [[ -s $out/tidy.txt ]]; then sed 's/^/  tidy: /' "$out/tidy.txt"; fi
}

# Chromium as root needs --no-sandbox; a profile of its own keeps runs apart. Its own noise (no
# D-Bus in a container) goes to the log too, so only the page's console lines count.
browser() {
  timeout 120 chromium --headless=new --no-sandbox --disable-gpu --hide-scrollbars \
    --user-data-dir="$out/profile" --enable-logging=stderr --v=0 "$@" "file://$page"
}
load_dom() { browser --dump-dom >"$out/dom.html" 2>"$out/chromium.log" || no "chromium failed"; }
no_console_messages() {
  ! grep -q ':CONSOLE' "$out/chromium.log" || no "$(grep ':CONSOLE' "$out/chromium.log")"
}

dom_count() { grep -o -- "$1" "$out/dom.html" | wc -l; }
dom_holds() {
  local pattern=$1 least=$2
  [[ $(dom_count "$pattern") -ge $least ]] || no "$(dom_count "$pattern") of $pattern"
}

screenshot() {
  local file=$1 size=$2
  browser --screenshot="$file" --window-size="$size" 2>>"$out/chromium.log" >/dev/null
  [[ -s $file ]] || no "no $file"
}

# The end of a page's check: a screenshot at desktop size, kept as docs/<name>.png for the README,
# one at phone width, and the tally, which fails the check when any step failed.
screenshots_and_tally() {
  local name=$1 desktop_size=$2
  check "a screenshot at ${desktop_size/,/x}" screenshot "$out/$name.png" "$desktop_size"
  check "a screenshot at phone width, 390x1600" screenshot "$out/$name-phone.png" 390,1600
  check "the screenshot is kept as docs/$name.png" cp "$out/$name.png" "$root/docs/$name.png"
  rm -rf "$out/profile"
  say "$passed passed, $failed failed"
  [[ $failed -eq 0 ]]
}
