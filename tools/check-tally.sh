# The tally that the tools/check-*.sh scripts keep: each check runs in a subshell of its own and
# ends at the first thing that is wrong, saying what (no). The sourcing script defines say().
passed=0
failed=0
skipped=0

check() {
  local name=$1 why
  shift
  if why=$("$@" 2>&1); then
    passed=$((passed + 1))
    say "ok    $name"
  else
    failed=$((failed + 1))
    say "FAIL  $name: $(echo "$why" | tr '\n' ' ')"
  fi
}

skip() {
  skipped=$((skipped + 1))
  say "skip  $*"
}

no() {
  echo "$*"
  exit 1
}
