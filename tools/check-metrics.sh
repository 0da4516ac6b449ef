#!/usr/bin/env bash
# Gives the metrics file to the real tools that read it: promtool's linter (Debian's prometheus)
# and node_exporter's textfile collector (Debian's prometheus-node-exporter), started on the
# loopback with a folder of its own. The files are a made-up site whose names need every escape
# (ravel-metrics-sample) and, where the build has --history, a run of ravelrun-tinted on the
# bundled sample. One line per check, then "N passed, N failed"; the exit status is not 0 when a
# check failed.
#
#   tools/check-metrics.sh [--build-dir DIR]    (default: build/, as tools/run-tests.sh makes it)
#
# The packages are installed when missing (as root, or through sudo); their own services are not
# left running: the collector here is a process of this script's, on a free port, ended with it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
case ${1:-} in
--build-dir) build=$(realpath -m "$2") ;;
'') ;;
*)
  echo "usage: tools/check-metrics.sh [--build-dir DIR]" >&2
  exit 2
  ;;
esac

say() { echo "check-metrics: $*"; }
die() {
  say "$*" >&2
  exit 1
}
sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)

work=$(mktemp -d /tmp/ravel-check-metrics.XXXXXX)
exporter_pid=
rc_policy_made=
cleanup() {
  if [[ -n $exporter_pid ]]; then
    kill -TERM "$exporter_pid" 2>/dev/null || true
    wait "$exporter_pid" 2>/dev/null || true
  fi
  [[ -n $rc_policy_made ]] && "${sudo[@]}" rm -f /usr/sbin/policy-rc.d
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The packages' services are kept from starting as they are installed (a policy-rc.d that refuses
# every start, where the machine has none), and disabled after, so that no exporter or Prometheus
# server of theirs stays on the machine's default ports.
needed=()
for package in prometheus-node-exporter prometheus curl; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    needed+=("$package")
done
if [[ ${#needed[@]} -gt 0 ]]; then
  if [[ ! -e /usr/sbin/policy-rc.d ]]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee /usr/sbin/policy-rc.d >/dev/null
    "${sudo[@]}" chmod 0755 /usr/sbin/policy-rc.d
    rc_policy_made=yes
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${needed[@]}" >"$work/apt.log" 2>&1 || die "apt-get install: $(tail -n 3 "$work/apt.log")"
  if [[ -d /run/systemd/system ]]; then
    for unit in prometheus-node-exporter.service prometheus.service; do
      "${sudo[@]}" systemctl disable --now "$unit" >/dev/null 2>&1 || true
    done
  fi
fi

[[ -f $build/CMakeCache.txt ]] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target ravel-metrics-sample ravelrun-tinted --parallel "$(nproc)" \
  >"$work/build.log" 2>&1 || die "build failed: $(tail -n 5 "$work/build.log")"
sample_writer=$build/tools/ravel-metrics-sample
tinted=$build/batch/ravelrun-tinted

source "$root/tools/check-tally.sh"

textfiles=$work/textfile
mkdir "$textfiles"
scrape=$work/scrape.txt

write_sample() {
  "$sample_writer" "$textfiles/ravel-sample.prom" sample || no "ravel-metrics-sample failed"
  [[ -s $textfiles/ravel-sample.prom ]] || no "no file written"
}
check "ravel-metrics-sample writes a site whose names need every escape" write_sample

# A daily run on the bundled sample: its --json tells what the metrics must say.
site=$work/site1
has_history=
if "$tinted" --help 2>/dev/null | grep -q -- '--history'; then
  has_history=yes
  run_with_history() {
    mkdir "$site"
    cp "$root/sample/bpdbjobs.txt" "$root/sample/jobid.txt" "$site/"
    local status=0
    date +%s >"$work/run-start"
    "$tinted" --folder "$site" --history --metrics "$textfiles/ravel-site1.prom" --json \
      >"$work/run.json" 2>"$work/run.err" || status=$?
    date +%s >"$work/run-end"
    echo "$status" >"$work/run-status"
    [[ $status -le 2 ]] || no "exit $status: $(cat "$work/run.err" "$work/run.json")"
    [[ -s $textfiles/ravel-site1.prom ]] || no "no $textfiles/ravel-site1.prom"
    [[ ! -e $site/ravel.prom ]] || no "--metrics PATH also wrote ravel.prom in the data folder"
  }
  check "ravelrun-tinted --history --metrics DIR/ravel-site1.prom on the sample" run_with_history
else
  skip "ravelrun-tinted --history: this build has no --history"
fi

lint() {
  local file=$1 out status=0
  out=$(timeout 60 promtool check metrics <"$file" 2>&1) || status=$?
  [[ $status -eq 0 && -z $out ]] || no "promtool (exit $status): $out"
}
for file in "$textfiles"/*.prom; do
  check "promtool check metrics < $(basename "$file"): no problem" lint "$file"
done

# node_exporter with the textfile collector alone, on a free port of the loopback; a port taken
# between the choice and the start makes it exit, and another one is tried. Not a check of its
# own: the process must outlive the subshell a check runs in.
port=
start_exporter() {
  local attempt
  for attempt in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 40000))
    prometheus-node-exporter --web.listen-address="127.0.0.1:$port" \
      --collector.disable-defaults --collector.textfile \
      --collector.textfile.directory="$textfiles" >>"$work/exporter.log" 2>&1 &
    exporter_pid=$!
    for _ in $(seq 50); do
      curl -s --max-time 2 -o /dev/null "http://127.0.0.1:$port/metrics" && return 0
      kill -0 "$exporter_pid" 2>/dev/null || break
      sleep 0.2
    done
    kill -TERM "$exporter_pid" 2>/dev/null || true
    wait "$exporter_pid" 2>/dev/null || true
    exporter_pid=
  done
  return 1
}
if start_exporter; then
  passed=$((passed + 1))
  say "ok    prometheus-node-exporter on 127.0.0.1:$port, textfile collector on $textfiles"
else
  failed=$((failed + 1))
  say "FAIL  prometheus-node-exporter starts: $(tail -n 3 "$work/exporter.log" | tr '\n' ' ')"
  say "$passed passed, $failed failed"
  exit 1
fi

# A scrape, and what the exporter says of it: a file it cannot read sets
# node_textfile_scrape_error; a series that two files hold is left out with an error in its log
# alone.
fetch() {
  : >"$work/exporter.log"
  curl -s --max-time 10 -o "$scrape" "http://127.0.0.1:$port/metrics" || no "curl failed"
  [[ $(value_of node_textfile_scrape_error) == 0 ]] ||
    no "node_textfile_scrape_error $(value_of node_textfile_scrape_error): $(tail -n 3 "$work/exporter.log")"
  ! grep -q 'level=error' "$work/exporter.log" ||
    no "the exporter's log: $(grep 'level=error' "$work/exporter.log" | head -c 600)"
}

# The value of the one series of NAME in the scrape whose labels hold every fragment given
# (the exporter sorts the labels, so each is looked for alone); nothing when there is none.
value_of() {
  local name=$1 lines
  shift
  lines=$(grep -F "$name" "$scrape" | grep -E "^$name(\{| )" || true)
  for fragment in "$@"; do
    lines=$(grep -F -- "$fragment" <<<"$lines" || true)
  done
  [[ -n $lines && $(wc -l <<<"$lines") -eq 1 ]] || return 0
  echo "${lines##* }"
}
# The exporter writes numbers in its own way (1.796598004e+09): they are compared as numbers.
expect() {
  local want=$1 name=$2 got
  shift 2
  got=$(value_of "$name" "$@")
  [[ -n $got ]] || no "no series $name{$*}"
  awk -v got="$got" -v want="$want" 'BEGIN { exit !(got + 0 == want + 0) }' ||
    no "$name{$*} is $got, not $want"
}

check "GET /metrics: node_textfile_scrape_error 0, no error logged" fetch

sample_series() {
  local s='site="sample"'
  expect 1796601604 ravel_last_run_timestamp_seconds "$s"
  expect 40 ravel_last_run_jobs "$s"
  expect 1 ravel_last_run_failed_jobs "$s"
  expect 3726085175296 ravel_last_run_bytes "$s"
  expect 2 ravel_last_run_state "$s"
  expect 1 ravel_overdue_pairs "$s"
  expect 1796598004 ravel_client_last_success_timestamp_seconds "$s" \
    'policy="Oracle_HR"' 'client="ora-hr01"'
  expect 0 ravel_client_failures_since_success "$s" 'policy="Oracle_HR"' 'client="ora-hr01"'
}
check "the sample site's series with their values" sample_series

escaped_labels() {
  local s='site="sample"'
  expect 1796500000 ravel_client_last_success_timestamp_seconds "$s" \
    'policy="Say \"hi\""' 'client="back\\slash"'
  expect 2 ravel_client_failures_since_success "$s" 'policy="Say \"hi\""' 'client="back\\slash"'
  expect 1796400000 ravel_client_last_success_timestamp_seconds "$s" \
    'policy="two\nlines"' "client=\"caf$(printf '\xc3\xa9')\""
  expect 1796300000 ravel_client_last_success_timestamp_seconds "$s" \
    "policy=\"$(printf 'x%.0s' $(seq 64))...#"
}
check "quote, backslash, line feed, Latin-1 and a long name read back through the exporter" \
  escaped_labels

never_successful() {
  local s='site="sample"'
  expect 3 ravel_client_failures_since_success "$s" 'policy="Never_OK"' 'client="new-client"'
  [[ -z $(grep -F 'client="new-client"' "$scrape" | grep -F "$s" |
    grep '^ravel_client_last_success_timestamp_seconds' || true) ]] ||
    no "a timestamp for a pair that never succeeded"
}
check "a pair without success: its failures, no timestamp" never_successful

if [[ -n $has_history ]]; then
  run_series() {
    local s='site="site1"' json jobs failed kilobytes state
    json=$(cat "$work/run.json")
    jobs=$(grep -o '"jobs":[0-9]*' <<<"$json" | cut -d: -f2)
    failed=$(grep -o '"failed":[0-9]*' <<<"$json" | cut -d: -f2)
    kilobytes=$(grep -o '"kilobytes":[0-9.e+-]*' <<<"$json" | cut -d: -f2)
    state=$(cat "$work/run-status")
    [[ -n $jobs && -n $failed && -n $kilobytes ]] || no "--json without its counts: $json"
    expect "$jobs" ravel_last_run_jobs "$s"
    expect "$failed" ravel_last_run_failed_jobs "$s"
    expect "$(awk -v kb="$kilobytes" 'BEGIN { printf "%.17g", kb * 1024 }')" \
      ravel_last_run_bytes "$s"
    expect "$state" ravel_last_run_state "$s"
    local time
    time=$(value_of ravel_last_run_timestamp_seconds "$s")
    awk -v t="$time" -v a="$(cat "$work/run-start")" -v b="$(cat "$work/run-end")" \
      'BEGIN { exit !(t + 0 >= a + 0 && t + 0 <= b + 0) }' ||
      no "ravel_last_run_timestamp_seconds $time is not the run's time"
    [[ -n $(grep '^ravel_client_last_success_timestamp_seconds{' "$scrape" | grep -F "$s") ]] ||
      no "no ravel_client_last_success_timestamp_seconds of site1"
  }
  check "the sample run's series agree with its --json" run_series
fi

# The alert rules that docs/operations.md shows, checked and tried on series of our names: a
# pair 27 hours after its last success, a pair that never had one, a site whose run stopped.
alert_rules() {
  awk '/^```yaml/ { inside = 1; next } /^```/ { inside = 0 } inside' "$root/docs/operations.md" \
    >"$work/rules.yml"
  [[ -s $work/rules.yml ]] || no "no rules in docs/operations.md"
  timeout 60 promtool check rules "$work/rules.yml" >"$work/rules.out" 2>&1 ||
    no "promtool check rules: $(cat "$work/rules.out")"
  cat >"$work/rules-test.yml" <<'TEST'
rule_files: [rules.yml]
evaluation_interval: 1m
tests:
  - interval: 1m
    input_series:
      - series: 'ravel_client_last_success_timestamp_seconds{site="s",policy="p",client="c"}'
        values: '0x1800'
      - series: 'ravel_client_failures_since_success{site="s",policy="p",client="c"}'
        values: '0x1800'
      - series: 'ravel_client_failures_since_success{site="s",policy="p",client="never"}'
        values: '2x1800'
      - series: 'ravel_last_run_timestamp_seconds{site="s"}'
        values: '0x1800'
      - series: 'ravel_last_run_state{site="s"}'
        values: '0x1800'
    alert_rule_test:
      - eval_time: 25h
        alertname: BackupOverdue
        exp_alerts: []
      - eval_time: 27h
        alertname: BackupOverdue
        exp_alerts:
          - exp_labels: {severity: critical, site: s, policy: p, client: c}
            exp_annotations: {summary: "No successful backup of c (p) at s for 26 hours"}
      - eval_time: 27h
        alertname: BackupNeverSucceeded
        exp_alerts:
          - exp_labels: {severity: warning, site: s, policy: p, client: never}
            exp_annotations: {summary: "never (p) at s never had a successful backup"}
      - eval_time: 27h
        alertname: BackupReportStale
        exp_alerts:
          - exp_labels: {severity: warning, site: s}
            exp_annotations: {summary: "The daily backup report of s did not complete"}
TEST
  (cd "$work" && timeout 60 promtool test rules rules-test.yml) >"$work/rules.out" 2>&1 ||
    no "promtool test rules: $(cat "$work/rules.out")"
}
check "the alert rules of docs/operations.md: checked, and fire when they should" alert_rules

# A large site: 10,000 more pairs, linted, collected and scraped in a bounded time.
large_site() {
  local start end size
  "$sample_writer" "$textfiles/ravel-large.prom" large 10000 || no "ravel-metrics-sample failed"
  size=$(stat -c %s "$textfiles/ravel-large.prom")
  [[ $size -lt 4000000 ]] || no "$size bytes"
  lint "$textfiles/ravel-large.prom"
  start=$(date +%s%N)
  fetch
  end=$(date +%s%N)
  [[ $(grep -c '^ravel_client_failures_since_success{' "$scrape") -ge 10005 ]] ||
    no "the scrape lacks pairs: $(grep -c '^ravel_client_failures_since_success{' "$scrape")"
  echo "$size bytes, scraped in $(((end - start) / 1000000)) ms" >"$work/large"
}
check "10,000 more pairs: linted, collected, scraped" large_site
[[ -f $work/large ]] && say "      $(cat "$work/large")"

summary="$passed passed, $failed failed"
[[ $skipped -eq 0 ]] || summary+=", $skipped skipped"
say "$summary"
[[ $failed -eq 0 ]]
