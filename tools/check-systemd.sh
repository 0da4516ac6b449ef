#!/usr/bin/env bash
# Replays the README's "Install and run daily" on a live systemd: boots a Debian 12 container
# with systemd-nspawn, installs the ravel package that tools/build-deb.sh built (from out/deb/,
# or the folder given), gives a site its data folder, enables and starts its units, runs a check
# by hand as root; lets a second site's timer start its run, checks both sites with ravel-status
# and writes the overview page by its service; stops the first site's daily run and moves the
# clock past --max-age (libfaketime, copied in from this machine), where the check must turn
# critical; and removes, installs again and purges the package, checking at each step what an
# operator would see. One line per step, then "N passed, N failed"; the exit status is not 0
# when a step failed.
#
# It needs root and a host that lets systemd-nspawn boot a container. The container's root is
# made once with debootstrap from this machine's Debian mirror and kept in the cache folder
# (RAVEL_CI_CACHE, /var/cache/ravel-ci); each run boots a throw-away copy of it, without network.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
debs=$(realpath "${1:-$root/out/deb}")
cache=${RAVEL_CI_CACHE:-/var/cache/ravel-ci}
# A new key makes a new root: change it when what the root must hold changes.
base_version=bookworm-minbase-systemd-1
base="$cache/root-$base_version"

say() { echo "check-systemd: $*"; }
die() {
  say "$*" >&2
  exit 1
}
[[ $(id -u) -eq 0 ]] || die "needs root: it makes and boots a container"
main_deb=$(echo "$debs"/ravel_*.deb)
[[ -f $main_deb ]] || die "no package in $debs: run tools/build-deb.sh"

# libfaketime moves the clock of the programs it is preloaded into; its library is copied into
# the container, which has no network to install it from.
faketime_library=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
needed=()
for package in debootstrap systemd-container libfaketime; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    needed+=("$package")
done
if [[ ${#needed[@]} -gt 0 ]]; then
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${needed[@]}" >/dev/null
fi

# The mirror this machine installs bookworm from, so that the container is made where the rest
# of CI gets its packages.
mirror_of_machine() {
  local sources=/etc/apt/sources.list.d/debian.sources
  if [[ -f $sources ]]; then
    awk 'function stanza_done() { if (uri != "" && hit && !found) { print uri; found = 1 }
           uri = ""; hit = 0 }
         /^[ \t]*$/ { stanza_done(); next }
         $1 == "URIs:" { uri = $2 }
         $1 == "Suites:" { for (i = 2; i <= NF; i++) if ($i == "bookworm") hit = 1 }
         END { stanza_done() }' "$sources"
  fi
  if [[ -f /etc/apt/sources.list ]]; then
    awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' /etc/apt/sources.list
  fi
  echo http://deb.debian.org/debian
}

if [[ ! -x $base/lib/systemd/systemd ]]; then
  mirror=$(mirror_of_machine)
  mirror=${mirror%%$'\n'*}
  say "making the container's root from $mirror into $base (once)"
  mkdir -p "$cache"
  # Made beside its place and moved there whole, so that an interrupted debootstrap is never
  # taken for a root.
  making=$(mktemp -d "$cache/making.XXXXXX")
  chmod 0755 "$making" # the root folder of the container: its services' users go through it
  if ! debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus bookworm \
    "$making" "$mirror" >"$cache/debootstrap.log" 2>&1; then
    rm -rf --one-file-system "$making"
    die "debootstrap failed: $(tail -n 5 "$cache/debootstrap.log" | tr '\n' ' ')"
  fi
  rm -f "$making"/var/cache/apt/archives/*.deb
  rm -rf "$base"
  mv "$making" "$base"
fi

work=$(mktemp -d /var/tmp/ravel-check-systemd.XXXXXX)
run_root="$work/root"
nspawn_pid=
container=
# The container is powered off, or killed when it does not stop, and its root removed, however
# the script ends.
cleanup() {
  if [[ -n $nspawn_pid ]] && kill -0 "$nspawn_pid" 2>/dev/null; then
    # The nspawn halts its container's systemd on SIGTERM.
    kill -TERM "$nspawn_pid" 2>/dev/null || true
    for _ in $(seq 60); do
      kill -0 "$nspawn_pid" 2>/dev/null || break
      sleep 0.5
    done
    kill -KILL "$nspawn_pid" 2>/dev/null || true
    wait "$nspawn_pid" 2>/dev/null || true
  fi
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

cp -a "$base" "$run_root"
mkdir -p "$run_root/root/ravel"
cp "$main_deb" "$root/sample/bpdbjobs.txt" "$run_root/root/ravel/"
# Where Debian's package puts it, outside /root, which the services' sandbox hides.
mkdir -p "$run_root$(dirname "$faketime_library")"
cp "$faketime_library" "$run_root$faketime_library"
deb_inside=/root/ravel/$(basename "$main_deb")

# There is no systemd or D-Bus on the host to register the container with or to run it in a unit
# of its own, hence --register=no and --keep-unit.
systemd-nspawn -D "$run_root" -b --register=no --keep-unit --private-network \
  --machine="ravel-ci-$$" --console=read-only </dev/null >"$work/boot.log" 2>&1 &
nspawn_pid=$!

# The container's PID 1 is the process of the nspawn's that is 1 in its own PID namespace, once
# it has become systemd: before that it is the nspawn still setting the container up.
for _ in $(seq 150); do
  kill -0 "$nspawn_pid" 2>/dev/null || break
  for candidate in $(pgrep -P "$nspawn_pid" || true); do
    if [[ $(awk '$1 == "NSpid:" { print $NF }' "/proc/$candidate/status" 2>/dev/null) == 1 &&
      $(cat "/proc/$candidate/comm" 2>/dev/null) == systemd ]]; then
      container=$candidate
    fi
  done
  [[ -n $container ]] && break
  sleep 0.2
done
# Nothing else can be checked without a container: one failed step, and the nspawn's own words.
boot_failed() {
  say "FAIL  the container boots: $*: $(tail -n 5 "$work/boot.log" | tr '\n' ' ')"
  say "0 passed, 1 failed"
  exit 1
}
[[ -n $container ]] || boot_failed "systemd-nspawn started no systemd"

# Runs a command in the container as its root, with the environment of a root login there.
inside() {
  nsenter -t "$container" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}
# The container's systemd, bounded in time: a unit that hangs fails the step, not the script.
sctl() { inside timeout 60 systemctl --no-pager "$@"; }

# Up once its start-up jobs are done; until its own bus is there, systemctl cannot even ask.
for _ in $(seq 450); do
  state=$(inside timeout 10 systemctl is-system-running 2>&1) || true
  [[ $state == running || $state == degraded ]] && break
  kill -0 "$nspawn_pid" 2>/dev/null || break
  sleep 0.2
done
[[ $state == running || $state == degraded ]] || boot_failed "its systemd is not up ($state)"

source "$root/tools/check-tally.sh"

folder=/var/lib/ravel/site1
service=ravel-report@site1.service
timer=ravel-report@site1.timer

# The monitoring line of the service's latest run, once the journal holds it.
latest_line() {
  local invocation line
  invocation=$(sctl show -P InvocationID "$service")
  for _ in $(seq 25); do
    line=$(inside journalctl -q -o cat "_SYSTEMD_INVOCATION_ID=$invocation" | grep '^RAVEL ' |
      tail -n 1) || true
    [[ -n $line ]] && break
    sleep 0.2
  done
  echo "$line"
}
timer_armed() {
  [[ $(sctl is-active "$timer") == active ]] || no "$timer is $(sctl is-active "$timer")"
  [[ -n $(sctl show -P NextElapseUSecRealtime "$timer") ]] || no "$timer has no next elapse"
  [[ $(sctl list-timers --no-legend "$timer") == *"$timer"* ]] ||
    no "list-timers does not list $timer: $(sctl list-timers --all --no-legend)"
}

install_package() {
  inside apt-get install -y -q "$deb_inside" >"$work/apt.log" 2>&1 ||
    no "apt-get install: $(tail -n 3 "$work/apt.log")"
  inside test -x /usr/bin/ravelrun-tinted || no "no /usr/bin/ravelrun-tinted"
  [[ $(inside dpkg-query -W -f='${Package}\n') != *qt* ]] || no "Qt came with ravel"
}
check "apt-get install ./$(basename "$main_deb") on a minimal Debian 12, no network, no Qt" \
  install_package

make_folder() {
  inside mkdir -p "$folder"
  inside cp /root/ravel/bpdbjobs.txt "$folder/"
  inside sh -c "echo 0 > $folder/jobid.txt"
}
check "the data folder made, the listing and a job marker 0 copied in as root" make_folder

enable_timer() {
  sctl enable --now "$timer" >/dev/null 2>&1 || no "systemctl enable --now $timer failed"
  timer_armed
}
check "systemctl enable --now $timer: armed in list-timers" enable_timer

first_run() {
  local status=0 line
  sctl start "$service" >/dev/null 2>&1 || status=$?
  [[ $status -ne 0 ]] || no "systemctl start succeeded on a listing with failed backups"
  [[ $(sctl show -P Result "$service") == exit-code ]] ||
    no "result $(sctl show -P Result "$service"), not exit-code"
  [[ $(sctl show -P ExecMainStatus "$service") == 2 ]] ||
    no "exit status $(sctl show -P ExecMainStatus "$service"), not 2 (CRITICAL)"
  line=$(latest_line)
  [[ $line == "RAVEL CRITICAL - "*" of 400 reported jobs failed: "* ]] ||
    no "monitoring line in the journal: '$line'"
  # What the operations page explains: systemd names exit status 2 after the C library's
  # meaning of the number, in the journal and the tail of `systemctl status`.
  [[ $(sctl status "$service" 2>&1) == *status=2/INVALIDARGUMENT* ]] ||
    no "systemctl status does not show status=2/INVALIDARGUMENT"
  inside sh -c "ls $folder/report_*.html" >/dev/null 2>&1 || no "no report in $folder"
  [[ $(inside cat "$folder/jobid.txt" | tr -d '\r') == 2600000 ]] || no "job marker not advanced"
}
check "systemctl start $service: failed on failed backups, report written, CRITICAL logged" \
  first_run

where_data_is() {
  local link owner
  link=$(inside readlink -f "$folder")
  [[ $link == /var/lib/private/ravel/site1 ]] || no "$folder leads to $link"
  inside test -L "$folder" || no "$folder is no symbolic link"
  owner=$(inside stat -c %u /var/lib/private/ravel/site1)
  [[ $owner -ne 0 ]] || no "the data folder is root's"
  [[ -z $(inside find /var/lib/private/ravel/site1 ! -uid "$owner") ]] ||
    no "files of another owner: $(inside find /var/lib/private/ravel/site1 ! -uid "$owner")"
  [[ $(sctl show -P User "$service") == ravel-report ]] ||
    no "the unit's user is $(sctl show -P User "$service")"
  [[ $(sctl show -P MemoryMax "$service") == 268435456 ]] ||
    no "MemoryMax $(sctl show -P MemoryMax "$service")"
  [[ $(sctl show -P TimeoutStartUSec "$service") == 30min ]] ||
    no "TimeoutStartSec $(sctl show -P TimeoutStartUSec "$service")"
}
check "the data folder is /var/lib/private/ravel/site1, all of it the run's user's" where_data_is

# The dump put in as the operations page says: copied as root under a new name, renamed, and
# given to the folder's owner, as the start hands over only a folder that is not the user's.
new_dump_as_root() {
  inside sh -c "umask 077 && cp /root/ravel/bpdbjobs.txt $folder/bpdbjobs.txt.new &&
    mv $folder/bpdbjobs.txt.new $folder/bpdbjobs.txt &&
    chown --reference=$folder $folder/bpdbjobs.txt && echo 0 > $folder/jobid.txt"
  sctl start "$service" >/dev/null 2>&1 || true
  [[ $(sctl show -P ExecMainStatus "$service") == 2 ]] ||
    no "exit status $(sctl show -P ExecMainStatus "$service"): $(latest_line)"
}
check "a dump copied in by root and chowned to the folder's owner reports (CRITICAL)" \
  new_dump_as_root

by_hand_as_root() {
  local status=0 marker
  marker=$(inside cat "$folder/jobid.txt")
  inside ravelrun-tinted --check --folder "$folder" >"$work/by-hand.out" 2>"$work/by-hand.err" ||
    status=$?
  [[ $status -eq 3 ]] ||
    no "exit $status, not 3 (UNKNOWN): $(cat "$work/by-hand.out" "$work/by-hand.err")"
  [[ $(wc -l <"$work/by-hand.err") -eq 1 && $(cat "$work/by-hand.err") == *"error 70"* ]] ||
    no "not one line naming error 70 on stderr: $(cat "$work/by-hand.err")"
  [[ -z $(inside find /var/lib/private/ravel/site1 -uid 0) ]] ||
    no "root's files left in the folder: $(inside find /var/lib/private/ravel/site1 -uid 0)"
  [[ $(inside cat "$folder/jobid.txt") == "$marker" ]] || no "the job marker moved"
}
check "ravelrun-tinted --check --folder $folder as root: refused, nothing touched" by_hand_as_root

next_start() {
  local line
  sctl start "$service" >/dev/null 2>&1 ||
    no "exit status $(sctl show -P ExecMainStatus "$service"): $(latest_line)"
  line=$(latest_line)
  [[ $line == "RAVEL OK - 0 jobs reported"* ]] || no "monitoring line: '$line'"
}
check "the next systemctl start after it works (no new jobs: OK)" next_start

site2=/var/lib/ravel/site2
service2=ravel-report@site2.service
timer2=ravel-report@site2.timer
overview=ravel-overview.service
overview_timer=ravel-overview.timer
# Every file of both sites, with its checksum: ravel-status must leave them all as they were.
site_sums() {
  inside sh -c 'cd /var/lib/private/ravel && find . -type f -exec sha256sum {} + | sort'
}
# The clock 27 hours on: past the default --max-age of 26 hours.
faked=(env "LD_PRELOAD=$faketime_library" FAKETIME=+27h)
# The sample's backups are more than a day old, and one client never had a successful one: overdue
# pairs do not count here, only the runs' age and their failed jobs.
sample_thresholds=(--overdue-warning 0)

timer_starts_site2() {
  local fired=
  inside mkdir -p "$site2"
  inside cp /root/ravel/bpdbjobs.txt "$site2/"
  inside sh -c "echo 0 > $site2/jobid.txt"
  # The daily timer, but due a second after it starts, for this once: neither spread over five
  # minutes nor put off by up to a minute to elapse together with other timers.
  inside mkdir -p "/run/systemd/system/$timer2.d"
  inside sh -c "printf '[Timer]\nOnActiveSec=1s\nAccuracySec=1s\nRandomizedDelaySec=0\n' \
    > /run/systemd/system/$timer2.d/soon.conf"
  sctl daemon-reload
  sctl enable --now "$timer2" >/dev/null 2>&1 || no "systemctl enable --now $timer2 failed"
  for _ in $(seq 150); do
    [[ $(sctl show -P ExecMainExitTimestampMonotonic "$service2") -gt 0 &&
      $(sctl show -P ActiveState "$service2") != activating ]] && fired=yes && break
    sleep 0.2
  done
  [[ -n $fired ]] || no "$timer2 did not start $service2 within 30 s"
  [[ $(sctl show -P ExecMainStatus "$service2") == 2 ]] ||
    no "the first run of site2 exited $(sctl show -P ExecMainStatus "$service2"), not 2"
  inside rm -r "/run/systemd/system/$timer2.d"
  sctl daemon-reload
  timer=$timer2 timer_armed
  # A second run finds no new jobs, so that the site's last run has no failed job.
  sctl start "$service2" >/dev/null 2>&1 ||
    no "the second run of site2 exited $(sctl show -P ExecMainStatus "$service2")"
  [[ $(inside sh -c "tail -n 1 $site2/history.csv" | cut -d, -f5,6) == 0,0 ]] ||
    no "site2's last run in its history: $(inside sh -c "tail -n 1 $site2/history.csv")"
}
check "site2: its timer starts its service (CRITICAL on the sample), then a run with no new jobs" \
  timer_starts_site2

status_ok() {
  local status=0 line before
  before=$(site_sums)
  line=$(inside ravel-status --check "${sample_thresholds[@]}" --sites-in /var/lib/ravel) ||
    status=$?
  [[ $status -eq 0 && $line == "RAVEL OK - 2 sites OK, the oldest last run "*" ago | "* ]] ||
    no "exit $status: $line"
  [[ $line == *"'site1 age'="*"'site2 age'="* ]] || no "no performance data of both sites: $line"
  [[ $(site_sums) == "$before" ]] || no "a file in the sites' folders changed"
}
check "ravel-status --check --sites-in /var/lib/ravel as root: OK over both, nothing changed" \
  status_ok

overview_page() {
  local before page
  before=$(site_sums)
  sctl start "$overview" >/dev/null 2>&1 ||
    no "$overview failed: $(inside journalctl -q -o cat -u "$overview" | tail -n 3)"
  page=$(inside cat /var/lib/ravel/index.html) || no "no /var/lib/ravel/index.html"
  [[ $page == *'href="site1/index.html"'* && $page == *'href="site2/index.html"'* ]] ||
    no "the page does not link site1/index.html and site2/index.html"
  [[ $(inside stat -c %U /var/lib/ravel/index.html) == root ]] || no "the page is not root's"
  [[ $(site_sums) == "$before" ]] || no "a file in the sites' folders changed"
}
check "systemctl start $overview: /var/lib/ravel/index.html, root's, links both sites" \
  overview_page

overview_timer_armed() {
  sctl enable --now "$overview_timer" >/dev/null 2>&1 ||
    no "systemctl enable --now $overview_timer failed"
  timer=$overview_timer timer_armed
  [[ $(sctl show -P NextElapseUSecRealtime "$overview_timer") == *:30:00* ]] ||
    no "$overview_timer next elapses $(sctl show -P NextElapseUSecRealtime "$overview_timer")"
}
check "systemctl enable --now $overview_timer: armed for half past the hour" overview_timer_armed

stopped_site_critical() {
  local status=0 line before last ended expected
  sctl disable --now "$timer" >/dev/null 2>&1 || no "systemctl disable --now $timer failed"
  # site2 goes on: its run, 27 hours on, is its last.
  inside mkdir -p "/run/systemd/system/$service2.d"
  inside sh -c "printf '[Service]\nEnvironment=LD_PRELOAD=$faketime_library FAKETIME=+27h\n' \
    > /run/systemd/system/$service2.d/faketime.conf"
  sctl daemon-reload
  sctl start "$service2" >/dev/null 2>&1 ||
    no "site2's run exited $(sctl show -P ExecMainStatus "$service2")"
  inside rm -r "/run/systemd/system/$service2.d"
  sctl daemon-reload
  last=$(inside sh -c "tail -n 1 $site2/history.csv" | cut -d, -f1)
  ended=$(date -d "$last" +%s) || no "site2's last run has no time: $last"
  [[ $ended -gt $(($(date +%s) + 26 * 3600)) ]] ||
    no "site2's last run ended at $last, not 27 hours on: the sandbox kept libfaketime out"
  before=$(site_sums)
  line=$(inside "${faked[@]}" ravel-status --check "${sample_thresholds[@]}" \
    --sites-in /var/lib/ravel) || status=$?
  expected="RAVEL CRITICAL - 2 sites: site1 CRITICAL (last run 1 d 3 h ago, over 26 h); 1 OK | "
  [[ $status -eq 2 && $line == "$expected"* ]] || no "exit $status: $line"
  [[ $(site_sums) == "$before" ]] || no "a file in the sites' folders changed"
}
check "site1's timer disabled, 27 h on: ravel-status --check CRITICAL naming site1 only, exit 2" \
  stopped_site_critical

# The stop is over: the later steps find the timer enabled, as the operator left it.
restart_site1() {
  sctl enable --now "$timer" >/dev/null 2>&1 || no "systemctl enable --now $timer failed"
  timer_armed
}
check "systemctl enable --now $timer again" restart_site1

remove_keeps_data() {
  inside apt-get remove -y -q ravel >"$work/apt.log" 2>&1 ||
    no "apt-get remove: $(tail -n 3 "$work/apt.log")"
  inside test ! -e /usr/bin/ravelrun-tinted || no "the program is left"
  inside sh -c "ls $folder/report_*.html" >/dev/null 2>&1 || no "the report is gone"
  inside test -f "$folder/bpdbjobs.txt" -a -f "$folder/jobid.txt" || no "the data is gone"
  [[ $(sctl is-active "$timer") != active ]] || no "$timer still runs"
  [[ $(sctl is-active "$overview_timer") != active ]] || no "$overview_timer still runs"
  inside test -f /var/lib/ravel/index.html || no "the overview page is gone"
}
check "apt-get remove ravel: timers stopped, the data folders and the overview page kept" \
  remove_keeps_data

reinstall_starts_timers() {
  install_package
  timer_armed
  timer=$overview_timer timer_armed
}
check "apt-get install again: the enabled timers run again without a reboot" \
  reinstall_starts_timers

reinstall_restarts_timers() {
  local before after
  before=$(sctl show -P ActiveEnterTimestampMonotonic "$timer")
  inside apt-get install -y -q --reinstall "$deb_inside" >"$work/apt.log" 2>&1 ||
    no "apt-get install --reinstall: $(tail -n 3 "$work/apt.log")"
  after=$(sctl show -P ActiveEnterTimestampMonotonic "$timer")
  [[ $after -gt $before ]] || no "$timer was not restarted ($before, $after)"
  timer_armed
}
check "apt-get install --reinstall: the enabled timer restarted on the new units" \
  reinstall_restarts_timers

purge_drops_timers() {
  inside apt-get purge -y -q ravel >"$work/apt.log" 2>&1 ||
    no "apt-get purge: $(tail -n 3 "$work/apt.log")"
  [[ -z $(inside find /etc/systemd/system -name 'ravel-*.timer') ]] ||
    no "enablement left: $(inside find /etc/systemd/system -name 'ravel-*.timer')"
  [[ $(sctl list-timers --all --no-legend) != *ravel-* ]] ||
    no "list-timers still lists $(sctl list-timers --all --no-legend)"
  inside test -f "$folder/jobid.txt" || no "purge removed the data"
}
check "apt-get purge ravel: the timers dropped, the data folder kept" purge_drops_timers

say "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
