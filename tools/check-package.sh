#!/usr/bin/env bash
# Installs the packages that tools/build-deb.sh built (from out/deb/, or the folder given) as an
# operator would, runs the installed programs on a copy of the sample with --folder, verifies the
# systemd units and the man pages, and removes the packages again, checking that nothing of them
# is left. It changes this machine's installed packages for its run, and removes an earlier
# install of ravel: for CI and test machines.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
debs=$(realpath "${1:-$root/out/deb}")
sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
apt_get() { DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -y -qq "$@" >/dev/null; }
fail() {
  echo "check-package: $*" >&2
  exit 1
}
step() { echo "check-package: $*"; }

# What the checks use: systemd-analyze for the units, man for their documentation lines, groff
# for the man pages, python3 to read the JSON object back, lintian for Debian's rules.
needed=()
for package in systemd man-db groff-base python3 lintian; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    needed+=("$package")
done
if [[ ${#needed[@]} -gt 0 ]]; then
  apt_get update
  apt_get install "${needed[@]}"
fi

main_deb=$(echo "$debs"/ravel_*.deb)
window_deb=$(echo "$debs"/ravel-window_*.deb)
[[ -f $main_deb && -f $window_deb ]] || fail "no packages in $debs: run tools/build-deb.sh"

step "lintian finds no error or warning"
lintian --fail-on error,warning "$main_deb" "$window_deb" 2>/dev/null ||
  fail "lintian: $(lintian "$main_deb" "$window_deb" 2>/dev/null | tr '\n' ' ')"

step "a server install brings no Qt"
if dpkg-deb -f "$main_deb" Depends Recommends Pre-Depends | grep -qi qt; then
  fail "$(basename "$main_deb") depends on Qt"
fi
dpkg-deb -f "$window_deb" Depends | grep -q 'libqt6widgets6' ||
  fail "$(basename "$window_deb") does not depend on Qt's widgets"

step "apt-get install $(basename "$main_deb")"
apt_get install "$main_deb"
for program in ravelrun-tinted ravelrun-plain ravelrun-brief ravelbook ravel-status; do
  [[ $(command -v "$program") == /usr/bin/$program ]] || fail "$program is not in /usr/bin"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
site="$work/site"
mkdir "$site"
cp "$root"/sample/{bpdbjobs.txt,jobid.txt,policy_list.txt} "$site/"
report="$site/report_$(date +%d-%m-%y).html"
fresh_marker() { cp "$root/sample/jobid.txt" "$site/jobid.txt"; }

step "ravelrun-tinted --folder: the sample's 40 new jobs"
out=$(cd "$work" && ravelrun-tinted --folder "$site")
[[ -z $out ]] || fail "ravelrun-tinted printed without --check: $out"
[[ $(tr -d '\r' <"$site/jobid.txt") == 2600000 ]] || fail "job marker not advanced"
[[ $(grep -c '<TR' "$report") -eq 41 ]] || fail "report does not hold 40 jobs and a header"
[[ $(ls "$site") == "$(printf '%s\n' bpdbjobs.txt jobid.txt out1.txt policy_list.txt "$(basename "$report")")" ]] ||
  fail "unexpected files in the data folder: $(ls "$site")"

step "ravelrun-tinted --check: CRITICAL on the sample's failed jobs"
fresh_marker
status=0
line=$(ravelrun-tinted --check --folder "$site") || status=$?
[[ $status -eq 2 ]] || fail "--check exited $status, not 2: $line"
[[ $line =~ ^RAVEL\ CRITICAL\ -\ [0-9]+\ of\ 40\ reported\ jobs\ failed:\ .*\ \|\ jobs=40\ failed=[0-9]+\ kilobytes=[0-9]+$ ]] ||
  fail "unexpected monitoring line: $line"
echo "  $line"

step "ravelrun-tinted --json: read back"
fresh_marker
status=0
ravelrun-tinted --json --folder "$site" >"$work/check.json" || status=$?
[[ $status -eq 2 ]] || fail "--json exited $status, not 2"
python3 - "$work/check.json" "$report" <<'EOF' || fail "JSON object: $(cat "$work/check.json")"
import json, sys
check = json.load(open(sys.argv[1], encoding="utf-8"))
assert check["status"] == "CRITICAL" and check["exit"] == 2, check
assert check["report"] == sys.argv[2], check["report"]
assert check["marker_before"] == "2599952" and check["marker_after"] == "2600000"
assert check["jobs"] == 40 and check["failed"] == len(check["failed_jobs"]) > 0
assert all(job["status"] != "0" for job in check["failed_jobs"])
assert set(check["failed_jobs"][0]) == {"job_id", "status", "policy", "client", "schedule", "start", "end"}
assert check["kilobytes"] > 0 and check["run_seconds"] >= 0
EOF

step "ravelbook --process and the start-up run --folder"
ravelbook --process --start "2026-01-01 00:00:00" --end "2027-01-01 00:00:00" --folder "$site"
head -n 1 "$site/out1.txt" | grep -q '^Policy,Schedule,Client,' || fail "out1.txt is no grouped table"
rm "$report"
status=0
line=$(ravelbook --folder "$site" --check) || status=$?
[[ $status -eq 2 && $line == "RAVEL CRITICAL - "* && -f $report ]] ||
  fail "ravelbook --check exited $status: $line"

step "ravel-status --help, --version, and --check over a folder without history and one with"
ravel-status --help | grep -q '^Usage: ravel-status ' || fail "ravel-status --help shows no usage"
[[ $(ravel-status --version) == "ravel-status $(dpkg-deb -f "$main_deb" Version)" ]] ||
  fail "ravel-status --version: $(ravel-status --version)"
status=0
line=$(ravel-status --check "$site") || status=$?
[[ $status -eq 2 && $line == "RAVEL CRITICAL - 1 site: site CRITICAL (no run recorded) |"* ]] ||
  fail "ravel-status --check without history exited $status: $line"
kept="$work/kept"
mkdir "$kept"
cp "$root"/sample/{bpdbjobs.txt,jobid.txt} "$kept/"
ravelrun-tinted --folder "$kept" --history
# The sample's backups are more than a day old, some failed, and one client never had a good one:
# only the run's age may count.
folder_sums() { (cd "$1" && find . -type f -exec sha256sum {} + | sort); }
sums=$(folder_sums "$kept")
status=0
line=$(ravel-status --check --critical 0 --overdue-warning 0 --html "$work/index.html" "$kept") ||
  status=$?
[[ $status -eq 0 && $line == "RAVEL OK - 1 site OK, last run "* ]] ||
  fail "ravel-status --check after a run with --history exited $status: $line"
grep -q 'href="kept/index.html"' "$work/index.html" || fail "the overview links no kept/index.html"
[[ $(folder_sums "$kept") == "$sums" ]] || fail "ravel-status changed a file in $kept"
echo "  $line"

step "ravelbook --window without ravel-window names the package"
status=0
ravelbook --window --folder "$site" 2>"$work/err" || status=$?
[[ $status -eq 1 ]] && grep -q "ravel-window" "$work/err" || fail "--window: $(cat "$work/err")"

step "man pages"
for page in ravelrun ravelrun-tinted ravelrun-plain ravelrun-brief ravelbook ravel-status; do
  path=$(man -w "$page") || fail "man $page finds no page"
  warnings=$(zcat "$path" | groff -man -ww -z 2>&1)
  [[ -z $warnings ]] || fail "man page $path: $warnings"
done

step "systemd-analyze verify"
units="$work/units"
mkdir "$units"
cp /usr/lib/systemd/system/ravel-report@.service "$units/ravel-report@site1.service"
cp /usr/lib/systemd/system/ravel-report@.timer "$units/ravel-report@site1.timer"
cp /usr/lib/systemd/system/ravel-overview.{service,timer} "$units/"
grep -qx 'ExecStart=/usr/bin/ravel-status --html /var/lib/ravel/index.html --sites-in /var/lib/ravel' \
  "$units/ravel-overview.service" || fail "ravel-overview.service does not run /usr/bin/ravel-status"
# Any message is a fault: verify reports unknown settings as warnings only.
status=0
messages=$(systemd-analyze verify "$units/ravel-report@site1.service" \
  "$units/ravel-report@site1.timer" "$units/ravel-overview.service" \
  "$units/ravel-overview.timer" 2>&1) || status=$?
[[ $status -eq 0 && -z $messages ]] || fail "systemd-analyze verify (exit $status): $messages"

step "apt-get install $(basename "$window_deb"): the window from /usr/lib/ravel"
apt_get install "$window_deb"
status=0
QT_QPA_PLATFORM=offscreen timeout 3 ravelbook --window --folder "$site" 2>"$work/err" ||
  status=$?
[[ $status -eq 124 ]] || fail "the window should still be up when stopped: $(cat "$work/err")"

# A timer enabled for a data folder, as `systemctl enable` leaves it: removal keeps it, so that
# an install again starts it again, and purge drops it.
wants=/etc/systemd/system/timers.target.wants
enabled_timer="$wants/ravel-report@check-package.timer"
"${sudo[@]}" mkdir -p "$wants"
"${sudo[@]}" ln -sfn /usr/lib/systemd/system/ravel-report@.timer "$enabled_timer"
trap 'rm -rf "$work"; "${sudo[@]}" rm -f "$enabled_timer"' EXIT

step "apt-get remove ravel"
apt_get remove ravel
[[ -L $enabled_timer ]] || fail "removal dropped the enabled timer $enabled_timer"
for left in /usr/bin/ravelrun-tinted /usr/bin/ravelbook /usr/bin/ravel-status /usr/lib/ravel \
  /usr/lib/systemd/system/ravel-report@.service /usr/lib/systemd/system/ravel-overview.service \
  /usr/lib/systemd/system/ravel-overview.timer /usr/share/man/man1/ravelrun.1.gz \
  /usr/share/man/man1/ravel-status.1.gz /usr/share/doc/ravel; do
  [[ ! -e $left ]] || fail "$left is left after removal"
done
for package in ravel ravel-window; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -qx 'install ok installed'; then
    fail "$package is still installed"
  fi
done
step "apt-get purge ravel ravel-window"
apt_get purge ravel ravel-window
[[ ! -L $enabled_timer ]] || fail "purge left the enabled timer $enabled_timer"
for package in ravel ravel-window; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -qv 'not-installed'; then
    fail "$package is left as $(dpkg-query -W -f='${Status}' "$package")"
  fi
done
echo "check-package: installed, ran and removed cleanly"
