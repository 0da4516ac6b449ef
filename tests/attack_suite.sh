#!/usr/bin/env bash
# Replays each attack that a hostile neighbour who may write a shared data folder (or store
# folder) can make on it, as a user of its own, against runs as root and as the folder's owner.
# After each attack it checks that no file outside the folder changed (a victim tree of a
# root-only secret, a crontab and the owner's own files, by content, owner and mode), that the
# run ended as documented (exit status and the error number of its one line on standard error),
# and that memory stayed bounded (peak resident memory, GNU time). One line per attack, then
# "N passed, N failed"; exit status 1 on any failure, 77 when not run as root.
#
# Usage: attack_suite.sh --tinted PROGRAM --brief PROGRAM --book PROGRAM --genlisting PROGRAM
#                        [--only GLOB] [--keep]
# --only runs the attacks whose "context name" matches GLOB, e.g. 'owner *' or '* update-*';
# --keep leaves the work folder for a look afterwards.

# The neighbour's commands run in a shell of their own, their arguments expanded there.
# shellcheck disable=SC2016
set -u
umask 022
export LC_ALL=C

usage() {
  sed -n '10,11p' "$0" | sed 's/^# //' >&2
  exit 2
}

tinted="" brief="" book="" genlisting="" only="" keep=0
while [ $# -gt 0 ]; do
  case $1 in
    --tinted) tinted=${2-}; shift 2 || usage ;;
    --brief) brief=${2-}; shift 2 || usage ;;
    --book) book=${2-}; shift 2 || usage ;;
    --genlisting) genlisting=${2-}; shift 2 || usage ;;
    --only) only=${2-}; shift 2 || usage ;;
    --keep) keep=1; shift ;;
    *) usage ;;
  esac
done
[ -n "$tinted" ] && [ -n "$brief" ] && [ -n "$book" ] && [ -n "$genlisting" ] || usage

if [ "$(id -u)" -ne 0 ]; then
  echo "attack suite skipped: it needs root to make its users and run programs as them"
  exit 77
fi
if [ ! -x /usr/bin/time ]; then
  echo "attack suite: GNU time is missing (Debian package time); memory cannot be measured"
  echo "0 passed, 1 failed"
  exit 1
fi

# The folder's owner, the neighbour, and the group that makes a folder shared with the neighbour.
owner=ravel-owner
neighbour=ravel-neighbour
share=ravel-share
getent group "$share" >/dev/null || groupadd --system "$share" || exit 1
for user in "$owner" "$neighbour"; do
  id -u "$user" >/dev/null 2>&1 ||
    useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" ||
    exit 1
done
id -nG "$neighbour" | grep -qw "$share" || usermod -a -G "$share" "$neighbour" || exit 1

work=$(mktemp -d /tmp/ravel-attack.XXXXXX) || exit 1
chmod 0755 "$work"
background=()
finish() {
  local pid
  for pid in "${background[@]}"; do kill -- "-$pid" 2>/dev/null; done
  wait 2>/dev/null
  if [ "$keep" = 1 ]; then echo "work folder kept: $work"; else rm -rf "$work"; fi
}
trap finish EXIT
trap 'exit 1' INT TERM

# The programs are copied where every user of the suite may start them.
mkdir "$work/bin"
cp "$tinted" "$brief" "$book" "$genlisting" "$work/bin/" || exit 1
tinted=$work/bin/$(basename "$tinted")
brief=$work/bin/$(basename "$brief")
book=$work/bin/$(basename "$book")
genlisting=$work/bin/$(basename "$genlisting")

day=$(date +%d-%m-%y)
report=report_$day.html
process_window=(--start "2026-01-01 00:00:00" --end "2027-12-31 00:00:00")

# Inputs: the sample set, a larger listing whose Process needs its scratch file, and an older
# stored listing with a newer dump for the update.
seed=$work/seed
mkdir "$seed"
"$genlisting" sample "$seed" >/dev/null || exit 1
"$genlisting" listing --jobs 45000 --newest-id 2600000 --out "$seed/big-listing.txt" || exit 1
"$genlisting" listing --jobs 200 --newest-id 5000 --out "$seed/stored.txt" || exit 1
incoming=$work/incoming
mkdir "$incoming"
"$genlisting" listing --jobs 220 --newest-id 5020 --out "$incoming/newer.txt" || exit 1
chmod -R a+rX "$seed" "$incoming"

# A listing line that a run which followed a planted link would carry into its job table.
secret_line() {
  awk -F, -v OFS=, -v token="$1" 'NR == 1 { $1 = 9999999; $5 = token; print; exit }' \
    "$seed/bpdbjobs.txt"
}
root_token=ROOTSECRET$RANDOM$RANDOM
owner_token=OWNERSECRET$RANDOM$RANDOM

# The victim tree: files outside every data folder. Programs run with it as their working folder,
# so a file written beside the caller lands in it too.
victim=$work/victim
make_victim() {
  rm -rf "$victim"
  mkdir -m 0755 "$victim"
  secret_line "$root_token" >"$victim/secret"
  chmod 600 "$victim/secret"
  printf '17 * * * * root cd / && run-parts --report /etc/cron.hourly\n' >"$victim/crontab"
  secret_line "$owner_token" >"$victim/owner-private"
  chmod 600 "$victim/owner-private"
  printf 'notes the owner may write\n' >"$victim/owner-notes"
  mkdir "$victim/cron.d" "$victim/owner-dir"
  chown "$owner:" "$victim/owner-private" "$victim/owner-notes" "$victim/owner-dir"
}
snapshot_victim() {
  (cd "$victim" && find . -printf '%p %y %u %g %m %s %l\n' | sort &&
    find . -type f -exec sha256sum {} + | sort)
}
make_victim
snapshot_victim >"$work/victim.expected"

# The neighbour's own folder, for links it makes outside the data folders.
lair=$work/neighbour
mkdir "$lair"
chown "$neighbour:" "$lair"

as_neighbour() { setpriv --reuid="$neighbour" --regid="$neighbour" --init-groups "$@"; }

# A context is who runs the program on whose folder:
#   root   root, in a folder of root's that the neighbour may write (group-writable)
#   other  root with --allow-other-owner, in the owner's folder that the neighbour may write
#   owner  the owner, in the owner's folder that the neighbour may write
# Links meant to make a run write point at a file its user may write (write_target), or dangle
# into a folder its user may write (create_target, which must not come to exist); links meant to
# make it read point at a file only its user may read (read_target, holding read_token).
use_context() {
  context=$1
  case $context in
    root) run_user=root folder_owner=root allow=() ;;
    other) run_user=root folder_owner=$owner allow=(--allow-other-owner) ;;
    owner) run_user=$owner folder_owner=$owner allow=() ;;
  esac
  if [ "$run_user" = root ]; then
    write_target=$victim/crontab read_target=$victim/secret read_token=$root_token
    create_target=$victim/cron.d/planted
  else
    write_target=$victim/owner-notes read_target=$victim/owner-private read_token=$owner_token
    create_target=$victim/owner-dir/planted
  fi
}

# A fresh data folder of the context's folder owner, shared with the neighbour's group, holding
# the sample listing, policy list and a job marker of mode 600.
sites=0
new_site() {
  sites=$((sites + 1))
  site=$work/site$sites
  mkdir "$site"
  cp "$seed/bpdbjobs.txt" "$seed/policy_list.txt" "$seed/jobid.txt" "$site/"
  chmod 600 "$site/jobid.txt"
  chown -R "$folder_owner:" "$site"
  chgrp "$share" "$site"
  chmod 0775 "$site"
}

# A store folder for the update, made the same way, holding the older stored listing.
new_store() {
  sites=$((sites + 1))
  store=$work/store$sites
  mkdir "$store"
  cp "$seed/stored.txt" "$store/bpdbjobs.txt"
  chown -R "$folder_owner:" "$store"
  chgrp "$share" "$store"
  chmod 0775 "$store"
}

# Names, types, owners, modes and contents of a folder's entries, to tell whether a run changed
# it; the lock file that runs leave is not counted.
folder_state() {
  (cd "$1" && find . ! -name .ravel.lock -printf '%p %y %u %m %s %l\n' | sort &&
    find . -type f ! -name .ravel.lock -exec sha256sum {} + | sort)
}

# run [--limit SECONDS] PROGRAM [ARGUMENT ...]: runs a program as the context's user, in the
# victim folder, with a time limit. Sets status (124 when it had to be stopped), rss_kb, seconds
# and milliseconds; its streams are in $work/out and $work/err.
run() {
  local limit=20
  if [ "$1" = --limit ]; then
    limit=$2
    shift 2
  fi
  local as=()
  [ "$run_user" = root ] || as=(setpriv --reuid="$run_user" --regid="$run_user" --init-groups)
  local start end
  start=$(date +%s%N)
  (cd "$victim" && exec timeout -k 5 "$limit" /usr/bin/time -f %M -o "$work/rss" "${as[@]}" "$@") \
    >"$work/out" 2>"$work/err" </dev/null
  status=$?
  end=$(date +%s%N)
  milliseconds=$(((end - start) / 1000000))
  seconds=$((milliseconds / 1000))
  rss_kb=$(tail -n 1 "$work/rss" 2>/dev/null)
  case $rss_kb in '' | *[!0-9]*) rss_kb=0 ;; esac
}

# The batch run and the console's runs on the current site, with the context's options.
# Each takes an optional --limit SECONDS first, then the program's further arguments.
run_tinted() {
  local limit=()
  if [ "${1-}" = --limit ]; then limit=(--limit "$2") && shift 2; fi
  run "${limit[@]}" "$tinted" --folder "$site" "${allow[@]}" "$@"
}
run_book() {
  local limit=()
  if [ "${1-}" = --limit ]; then limit=(--limit "$2") && shift 2; fi
  run "${limit[@]}" "$book" --folder "$site" "${allow[@]}" "$@"
}
run_process() {
  local limit=()
  if [ "${1-}" = --limit ]; then limit=(--limit "$2") && shift 2; fi
  run "${limit[@]}" "$book" --process "${process_window[@]}" --folder "$site" "${allow[@]}" "$@"
}
run_update() { run "$book" --update "$1" --store "$store"; }

# What went wrong with the current attack, if anything.
why=""
problem() { why+="${why:+; }$*"; }

# The error line, printable and short, for the attack's line.
shown_err() { head -n 1 "$work/err" | head -c 200 | tr -d '\n' | tr -c '[:print:]' '?'; }
outcome() { echo "exit $status: '$(shown_err)'"; }

expect_success() {
  if [ "$status" -ne 0 ] || [ -s "$work/err" ]; then problem "expected success, got $(outcome)"; fi
}

# expect_error CODE TEXT [STATUS]: the run failed with one line "PROGRAM: error CODE: ..."
# holding TEXT, and exit status STATUS (1 by default).
expect_error() {
  local code=$1 text=$2 expected=${3-1}
  local lines
  lines=$(wc -l <"$work/err")
  if [ "$status" -ne "$expected" ] || [ "$lines" -ne 1 ] ||
    ! head -n 1 "$work/err" | grep -Eq "^[a-z-]+: error $code: " ||
    ! grep -qF -- "$text" "$work/err"; then
    problem "expected exit $expected, error $code${text:+ naming $text}, got $(outcome)"
  fi
}

# The run ended at once, without waiting on anything.
expect_quick() { [ "$seconds" -le 5 ] || problem "took ${seconds}s"; }

expect_link() {
  if [ ! -L "$1" ] || [ "$(readlink "$1")" != "$2" ]; then
    problem "the planted link $(basename "$1") was changed"
  fi
}

expect_unread() {
  if grep -rqaF -D skip "$read_token" "$@" "$work/out" "$work/err" 2>/dev/null; then
    problem "the content of $(basename "$read_target") reached the run's files or streams"
  fi
}

expect_marker_kept() {
  cmp -s "$site/jobid.txt" "$seed/jobid.txt" || problem "jobid.txt changed"
  [ ! -e "$site/$report" ] || problem "a report was written"
}

duration() { echo "$((milliseconds / 1000)).$((milliseconds % 1000 / 100)) s"; }

# Programs built with AddressSanitizer (tools/sanitize.sh sets ASAN_OPTIONS) keep shadow memory
# and freed blocks on the side: their bounds are twice as high.
memory_factor=1
[ -n "${ASAN_OPTIONS:-}" ] && memory_factor=2
expect_rss_below() {
  local limit=$(($1 * memory_factor))
  [ "$rss_kb" -le "$limit" ] || problem "peak memory $((rss_kb / 1024)) MB, over $((limit / 1024)) MB"
}

expect_critical() {
  if [ "$status" -ne 2 ] || [ -s "$work/err" ]; then
    problem "expected CRITICAL (exit 2), got $(outcome)"
  fi
}

# selected NAME: whether the attack "context name" is to be run.
selected() {
  [ -z "$only" ] && return 0
  # shellcheck disable=SC2254
  case "$context $1" in $only) return 0 ;; esac
  return 1
}

passed=0 failed=0 keep_site=0
# verdict NAME [FIGURES]: checks the victim tree, prints the attack's line, counts it.
verdict() {
  local name=$1 figures=${2-}
  if ! snapshot_victim | cmp -s - "$work/victim.expected"; then
    local changed
    changed=$(snapshot_victim | diff - "$work/victim.expected" | grep '^[<>]' |
      grep -o '\./[^ ]*' | sort -u | tr '\n' ' ')
    problem "files outside the data folder changed: $changed"
    make_victim
  fi
  [[ $why == *"peak memory"* ]] || expect_rss_below $((256 * 1024))
  [ -n "$figures" ] || figures="exit $status, $((rss_kb / 1024)).$((rss_kb % 1024 * 10 / 1024)) MB"
  if [ -z "$why" ]; then
    passed=$((passed + 1))
    printf 'pass  %-6s %-32s %s\n' "$context" "$name" "$figures"
  else
    failed=$((failed + 1))
    printf 'FAIL  %-6s %-32s %s\n' "$context" "$name" "$why"
  fi
  why=""
  if [ "$keep_site" = 1 ]; then
    keep_site=0
    return
  fi
  [ "$keep" = 1 ] || rm -rf "${site:-/nonexistent}" "${store:-/nonexistent}"
  site="" store=""
}

# ---- Runs without an attack: what the attacks are measured against. ----

attack_clean_run() {
  new_site
  printf 'earlier report of the day\r\n' >"$site/$report"
  chown "$folder_owner:" "$site/$report"
  chmod 640 "$site/$report"
  run_tinted
  expect_success
  local lock=$site/.ravel.lock
  if [ ! -f "$lock" ] || [ -L "$lock" ] || [ "$(stat -c '%U %a' "$lock")" != "$run_user 600" ]; then
    problem ".ravel.lock is not a file of mode 600 owned by $run_user"
  fi
  local now
  now=$(stat -c '%U %a' "$site/jobid.txt" 2>&1)
  [ "$now" = "$folder_owner 600" ] || problem "jobid.txt is now $now, was $folder_owner 600"
  now=$(stat -c '%U %a' "$site/$report" 2>&1)
  [ "$now" = "$folder_owner 640" ] || problem "the report is now $now, was $folder_owner 640"
  grep -qa 'earlier report of the day' "$site/report_$day.1.html" 2>/dev/null ||
    problem "the earlier report of the day was not kept as report_$day.1.html"
  local left
  left=$(cd "$site" && find . -name '*.tmp' | tr '\n' ' ')
  [ -z "$left" ] || problem "temporary files left: $left"
  verdict clean-run
}

# add_newer_job ID: a job ID in front of the site's listing, as the next dump brings it.
add_newer_job() {
  awk -F, -v OFS=, -v id="$1" 'NR == 1 { line = $0; $1 = id; print; print line; next }
                               { print }' "$site/bpdbjobs.txt" >"$work/listing"
  cat "$work/listing" >"$site/bpdbjobs.txt"
}

digest() { sha256sum "$1" 2>&1 | cut -d' ' -f1; }

# A second and third run of the day keep the earlier reports as .1 and .2.
attack_report_history() {
  new_site
  local first second newest
  run_tinted
  first=$(digest "$site/$report")
  for newest in 9000001 9000002; do
    add_newer_job "$newest"
    second=$(digest "$site/$report")
    run_tinted
    expect_success
    grep -qaF ">$newest<" "$site/$report" 2>/dev/null ||
      problem "the day's report lacks job $newest"
  done
  [ "$(digest "$site/report_$day.1.html")" = "$first" ] ||
    problem "report_$day.1.html is not the first report"
  [ "$(digest "$site/report_$day.2.html")" = "$second" ] ||
    problem "report_$day.2.html is not the second report"
  verdict report-history
}

# For a plant whose outcome is not documented: the run may go on or refuse with one line of
# error 70 or 75, but at once.
expect_success_or_refusal() {
  expect_quick
  if [ "$status" -ne 0 ] && { [ "$status" -ne 1 ] || [ "$(wc -l <"$work/err")" -ne 1 ] ||
    ! grep -Eq '^[a-z-]+: error (70|75): ' "$work/err"; }; then
    problem "expected success or error 70 or 75, got $(outcome)"
  fi
}
outcome_figures() { echo "exit $status$([ "$status" -eq 0 ] || echo " ($(shown_err))")"; }

# The neighbour plants the day's report as a link to a file the run may write: the run must not
# write through it, whether it replaces the link or refuses it.
attack_report_link() {
  new_site
  as_neighbour ln -s "$write_target" "$site/$report"
  run_tinted --limit 6
  expect_success_or_refusal
  if [ "$status" -eq 0 ] && { [ -L "$site/$report" ] || [ ! -f "$site/$report" ]; }; then
    problem "the day's name does not hold the new report"
  fi
  verdict report-link "$(outcome_figures)"
}

# The neighbour plants the name the earlier report of the day is to be kept under.
attack_report_history_link() {
  new_site
  run_tinted
  cp "$site/$report" "$work/first-report"
  as_neighbour ln -s "$write_target" "$site/report_$day.1.html"
  add_newer_job 9000001
  run_tinted
  expect_success
  local kept="" file
  for file in "$site"/report_"$day".*.html; do
    [ ! -L "$file" ] && cmp -s "$file" "$work/first-report" && kept=$(basename "$file")
  done
  [ -n "$kept" ] || problem "the earlier report of the day was not kept"
  verdict report-history-link "exit $status, kept as ${kept:-nothing}"
}

# ---- Links at the temporary names that earlier versions used: they redirect nothing. ----

# attack_old_temporary_name NAME KIND: a link at NAME to the write target (symlink) or dangling
# into a folder the run's user may write (dangling). A run that removes a link to a regular file
# at start still follows a dangling one.
attack_old_temporary_name() {
  local name=$1 kind=$2 target
  new_site
  target=$([ "$kind" = symlink ] && echo "$write_target" || echo "$create_target")
  as_neighbour ln -s "$target" "$site/$name"
  if [ "$name" = .out1.txt.groups.tmp ]; then
    # A listing big enough that Process spills its groups into the scratch file: over 2 MiB of
    # rows.
    cp "$seed/big-listing.txt" "$site/bpdbjobs.txt"
    run_process
  else
    run_tinted
  fi
  expect_success
  expect_link "$site/$name" "$target"
  verdict "$kind-at $name"
}

# ---- Outputs written in place: only a regular file of one link, owned by the run's user. ----

# plant_output KIND NAME: the neighbour (root where the neighbour cannot) puts KIND at NAME.
plant_output() {
  local kind=$1 path=$site/$2
  case $kind in
    symlink) as_neighbour ln -s "$write_target" "$path" ;;
    dangling) as_neighbour ln -s "$create_target" "$path" ;;
    fifo) as_neighbour mkfifo -m 666 "$path" ;;
    folder) as_neighbour mkdir "$path" ;;
    # No neighbour can make a device node or, with fs.protected_hardlinks, a hard link to a file
    # it may not write: root plants them, as a careless copy or a system without the
    # protection would.
    device) mknod "$path" c 1 3 && chown "$run_user:" "$path" ;;
    hardlink) ln "$write_target" "$path" ;;
    foreign) as_neighbour sh -c 'printf "neighbour table\r\n" >"$1" && chmod 666 "$1"' - "$path" ;;
  esac
}

expect_output_refused() {
  local kind=$1 name=$2
  if [ "$kind" = foreign ]; then
    expect_error 70 "Permission denied: $name"
  else
    expect_error 75 "Path/File access error: $name"
  fi
  expect_quick
  [ "$kind" != symlink ] || expect_link "$site/$name" "$write_target"
  [ "$kind" != dangling ] || expect_link "$site/$name" "$create_target"
}

attack_batch_output() {
  local kind=$1
  new_site
  plant_output "$kind" out1.txt
  run_tinted --limit 6
  expect_output_refused "$kind" out1.txt
  expect_marker_kept
  verdict "out1.txt-$kind"
}

attack_process_output() {
  local kind=$1 name=$2
  new_site
  plant_output "$kind" "$name"
  run_process --limit 6
  expect_output_refused "$kind" "$name"
  verdict "process-$name-$kind"
}

# ---- Inputs: regular files reached without a link. ----

# attack_input RUN NAME KIND: the neighbour replaces input NAME by KIND (a link to the run
# user's private file, or a FIFO) before RUN.
attack_input() {
  local how=$1 name=$2 kind=$3
  new_site
  rm -f "$site/$name"
  if [ "$kind" = symlink ]; then
    as_neighbour ln -s "$read_target" "$site/$name"
  else
    as_neighbour mkfifo -m 666 "$site/$name"
  fi
  "$how" --limit 6
  expect_error 75 "$name"
  expect_quick
  expect_unread "$site"
  [ "$kind" != symlink ] || expect_link "$site/$name" "$read_target"
  verdict "${how#run_}-input-$name-$kind"
}

# ---- The start-of-run clean-up removes our own leftovers only. ----

attack_cleanup() {
  local fails=$1
  new_site
  local leftover=.$report.0123456789abcdef.tmp
  as_neighbour sh -c 'echo neighbour >"$1/.notes.tmp" && echo x >"$1/.x.tmp"' - "$site"
  as_neighbour ln -s "$write_target" "$site/.jobid.txt.fedcba9876543210.tmp"
  echo "an earlier run's report" >"$site/$leftover"
  chown "$run_user:" "$site/$leftover"
  [ "$fails" = 0 ] || rm "$site/bpdbjobs.txt"
  run_tinted
  if [ "$fails" = 0 ]; then
    expect_success
    [ ! -e "$site/$leftover" ] || problem "our own leftover $leftover was not removed"
  else
    expect_error 53 bpdbjobs.txt
    [ -e "$site/$leftover" ] || problem "a run that found no listing removed $leftover"
  fi
  grep -qx neighbour "$site/.notes.tmp" 2>/dev/null || problem ".notes.tmp was removed or changed"
  grep -qx x "$site/.x.tmp" 2>/dev/null || problem ".x.tmp was removed or changed"
  verdict "$([ "$fails" = 0 ] && echo cleanup-keeps-others || echo cleanup-after-missing-input)"
}

# ---- The lock. ----

# hold_lock PATH: the neighbour takes an flock on PATH and keeps it, in a process group of its
# own (holder); a problem if it does not hold it within five seconds.
hold_lock() {
  setsid setpriv --reuid="$neighbour" --regid="$neighbour" --init-groups flock "$1" sleep 60 &
  holder=$!
  background+=("$holder")
  local tries=0
  until ! flock -n "$1" true; do
    tries=$((tries + 1))
    [ $tries -lt 50 ] || {
      problem "the neighbour's lock on $(basename "$1") was not in place"
      return
    }
    sleep 0.1
  done
}

# The neighbour holds an flock on the folder itself, as it could on any folder it may read.
attack_neighbour_flock() {
  new_site
  hold_lock "$site"
  run_tinted
  expect_success
  expect_quick
  kill -- "-$holder" 2>/dev/null
  wait "$holder" 2>/dev/null
  verdict neighbour-flocks-folder
}

# The neighbour plants the lock file: a link to a file the run may write, or a file of its own
# that it holds locked. No outcome is documented for these; the run must not hang, must leave the
# link's target alone and must end as documented for a refusal if it refuses.
attack_lock_file() {
  local kind=$1 holder=""
  new_site
  if [ "$kind" = symlink ]; then
    as_neighbour ln -s "$write_target" "$site/.ravel.lock"
  else
    as_neighbour sh -c 'umask 0; : >"$1"' - "$site/.ravel.lock"
    hold_lock "$site/.ravel.lock"
  fi
  run_tinted --limit 6
  expect_success_or_refusal
  [ "$kind" != symlink ] || expect_link "$site/.ravel.lock" "$write_target"
  if [ -n "$holder" ]; then
    kill -- "-$holder" 2>/dev/null
    wait "$holder" 2>/dev/null
  fi
  verdict "lock-file-$kind" "$(outcome_figures)"
}

# ---- The owner check. ----

# attack_foreign_folder NAME USER FOLDER_USER [check]: USER runs in a folder of FOLDER_USER's.
attack_foreign_folder() {
  local name=$1 who=$2 folder_user=$3 check=${4-}
  local saved_user=$run_user saved_owner=$folder_owner
  run_user=$who folder_owner=$folder_user allow=()
  new_site
  folder_state "$site" >"$work/before"
  if [ "$check" = check ]; then
    run_tinted --check
    expect_error 70 "" 3
  else
    run_tinted
    expect_error 70 ""
  fi
  grep -qw -- "$folder_user" "$work/err" || problem "the line does not name $folder_user"
  folder_state "$site" | cmp -s - "$work/before" || problem "the folder changed"
  run_user=$saved_user folder_owner=$saved_owner
  verdict "$name"
}

# ---- The update and its store. ----

attack_update_clean() {
  new_store
  run_update "$incoming/newer.txt"
  expect_success
  grep -q 'Finished Updating Database' "$work/out" || problem "no 'Finished Updating Database'"
  [ "$(head -c 5 "$store/bpdbjobs.txt")" = 5020, ] || problem "the stored listing was not merged"
  verdict update-clean
}

# plant_store KIND NAME: KIND at the store's NAME.
plant_store() {
  local kind=$1 path=$store/$2
  rm -f "$path"
  case $kind in
    symlink) as_neighbour ln -s "$write_target" "$path" ;;
    dangling) as_neighbour ln -s "$create_target" "$path" ;;
    readlink) as_neighbour ln -s "$read_target" "$path" ;;
    fifo) as_neighbour mkfifo -m 666 "$path" ;;
    foreign) as_neighbour sh -c 'echo neighbour >"$1" && chmod 666 "$1"' - "$path" ;;
  esac
}

attack_store_file() {
  local kind=$1 name=$2
  new_store
  plant_store "$kind" "$name"
  folder_state "$store" >"$work/before"
  run --limit 6 "$book" --update "$incoming/newer.txt" --store "$store"
  case $kind in
    foreign) expect_error 70 "$name" ;;
    *) expect_error 75 "$name" ;;
  esac
  expect_quick
  [ "$kind" != readlink ] || expect_unread "$store"
  folder_state "$store" | cmp -s - "$work/before" || problem "the store changed"
  verdict "update-store-$name-$kind"
}

# The update file is the store's own listing or merge file, by its name, through a link or by
# another path to it.
attack_update_self() {
  local how=$1 file
  new_store
  case $how in
    listing) file=$store/bpdbjobs.txt ;;
    merge-file)
      printf '5001,x\r\n' >"$store/temp.txt"
      chown "$folder_owner:" "$store/temp.txt"
      file=$store/temp.txt
      ;;
    link)
      as_neighbour ln -s "$store/bpdbjobs.txt" "$lair/newer-$sites.txt"
      file=$lair/newer-$sites.txt
      ;;
    path) file=$store/../$(basename "$store")/./bpdbjobs.txt ;;
  esac
  folder_state "$store" >"$work/before"
  run --limit 6 "$book" --update "$file" --store "$store"
  expect_error 75 ""
  expect_quick
  folder_state "$store" | cmp -s - "$work/before" || problem "the store changed"
  verdict "update-from-store-$how"
}

attack_update_fifo() {
  new_store
  as_neighbour mkfifo -m 666 "$lair/fifo-$sites"
  run --limit 6 "$book" --update "$lair/fifo-$sites" --store "$store"
  expect_error 75 "fifo-$sites"
  expect_quick
  verdict update-file-fifo
}

attack_store_path() {
  local kind=$1
  if [ "$kind" = file ]; then
    as_neighbour touch "$lair/not-a-folder"
    run "$book" --update "$incoming/newer.txt" --store "$lair/not-a-folder"
    expect_error 75 not-a-folder
  else
    run "$book" --update "$incoming/newer.txt" --store "$lair/missing"
    expect_error 76 missing
  fi
  verdict "store-is-$kind"
}

# ---- Memory. ----

# Five million failed jobs under --check; a second run meanwhile must fail at once on the lock.
attack_many_failed_jobs() {
  new_site
  rm -f "$site/bpdbjobs.txt"
  awk 'BEGIN { rest = ",1,1,1,P,c,s,m,1296539110,3725,1296542835,u,1,1,1,1,1,1,1,1,1,1,0"
               for (i = 0; i < 29; ++i) rest = rest ",1"
               for (id = 5000000; id > 0; --id) printf "%d%s\r\n", id, rest }' >"$site/bpdbjobs.txt"
  printf '0\r\n' >"$site/jobid.txt"
  chown "$folder_owner:" "$site/bpdbjobs.txt" "$site/jobid.txt"
  local as=()
  [ "$run_user" = root ] || as=(setpriv --reuid="$run_user" --regid="$run_user" --init-groups)
  local start end
  start=$(date +%s%N)
  setsid sh -c 'cd "$1" && shift && exec "$@"' - "$victim" \
    timeout -k 5 170 /usr/bin/time -f %M -o "$work/big-rss" "${as[@]}" \
    "$brief" --folder "$site" "${allow[@]}" --check >"$work/big-out" 2>"$work/big-err" </dev/null &
  local big=$!
  background+=("$big")
  # Once the run writes its table it holds the folder. It is stopped there while a second run
  # tries the folder, so that the two overlap however fast the first one is.
  local tries=0 paused
  while [ ! -s "$site/out1.txt" ] && kill -0 "$big" 2>/dev/null && [ $tries -lt 600 ]; do
    sleep 0.05
    tries=$((tries + 1))
  done
  paused=$(date +%s%N)
  kill -STOP -- "-$big" 2>/dev/null
  if [ -s "$site/out1.txt" ] && [[ $(ps -o stat= -p "$big") != Z* ]]; then
    run_tinted
    expect_error 70 "another run holds the folder"
    expect_quick
  else
    status=-1 && : >"$work/err"
    problem "the big run ended before a second run could overlap it"
  fi
  kill -CONT -- "-$big" 2>/dev/null
  paused=$(($(date +%s%N) - paused))
  keep_site=1
  verdict run-while-another-runs
  wait "$big"
  status=$?
  end=$(date +%s%N)
  milliseconds=$(((end - start - paused) / 1000000))
  rss_kb=$(tail -n 1 "$work/big-rss" 2>/dev/null)
  case $rss_kb in '' | *[!0-9]*) rss_kb=0 ;; esac
  cp "$work/big-out" "$work/out"
  cp "$work/big-err" "$work/err"
  expect_critical
  grep -q '^RAVEL CRITICAL - 5000000 of 5000000 reported jobs failed' "$work/out" ||
    problem "monitoring line: $(head -c 120 "$work/out")"
  [ "$(wc -c <"$work/out")" -le 1024 ] || problem "a monitoring line of $(wc -c <"$work/out") bytes"
  expect_rss_below $((64 * 1024))
  local mb=$((rss_kb / 1024))
  verdict check-5000000-failed-jobs "exit $status, peak ${mb} MB, $(duration)"
}

# A line of 70,000,000 bytes, past the 64 MiB a line may have.
attack_long_line() {
  new_site
  {
    head -n 1 "$seed/bpdbjobs.txt"
    # Line 2 with its policy field 70,000,000 bytes long.
    awk -F, 'NR == 2 { for (i = 1; i <= 4; ++i) printf "%s,", $i; exit }' "$seed/bpdbjobs.txt"
    head -c 70000000 /dev/zero | tr '\0' p
    awk -F, 'NR == 2 { for (i = 6; i <= NF; ++i) printf ",%s", $i; print ""; exit }' \
      "$seed/bpdbjobs.txt"
    tail -n +3 "$seed/bpdbjobs.txt"
  } >"$site/bpdbjobs.txt"
  run_tinted --limit 60
  expect_error 7 "Out of memory: bpdbjobs.txt line 2: "
  expect_rss_below $((200 * 1024))
  local mb=$((rss_kb / 1024))
  verdict line-of-70-MB "exit $status, peak ${mb} MB, $(duration)"
}

# Three failed jobs whose policy names are 1 MB each, full of terminal escapes and bytes beyond
# ASCII.
attack_long_policy_names() {
  new_site
  local chunk
  chunk=$(printf '\033]0;owned\007\033[2J\377\376\001%0990d' 0)
  for _ in $(seq 1000); do printf '%s' "$chunk"; done >"$work/policy"
  echo >>"$work/policy"
  awk -F, -v OFS=, 'NR == FNR { policy = $0; next }
                    FNR <= 3 { $1 = 9000000 - FNR; $4 = 1; $5 = policy } { print }' \
    "$work/policy" "$seed/bpdbjobs.txt" >"$site/bpdbjobs.txt"
  run_tinted --check
  expect_critical
  local size
  size=$(wc -c <"$work/out")
  [ "$size" -le 1024 ] || problem "a monitoring line of $size bytes"
  [ "$(wc -l <"$work/out")" -eq 1 ] || problem "the monitoring output is not one line"
  if tr -d '\n' <"$work/out" | LC_ALL=C grep -aq '[^ -~]'; then
    problem "bytes outside printable ASCII in the monitoring line"
  fi
  verdict policy-names-of-1-MB "exit $status, a line of $size bytes, $((rss_kb / 1024)) MB"
}

# ---- Arguments: a name full of escapes is shown escaped. ----

attack_escaped_arguments() {
  local escape
  escape=$(printf '\033]0;owned\007\033[2J')
  run "$tinted" "--fol${escape}der"
  [ "$status" -eq 2 ] || problem "an unknown option: $(outcome)"
  grep -aq $'\033' "$work/err" && problem "an unknown option's escape reached standard error raw"
  run "$tinted" --folder "$lair/missing$escape"
  expect_error 76 missing
  grep -aq $'\033' "$work/err" && problem "a folder name's escape reached standard error raw"
  new_store
  run "$book" --update "$lair/missing$escape" --store "$store"
  [ "$status" -eq 1 ] || problem "a missing update file: $(outcome)"
  grep -aq $'\033' "$work/err" && problem "an update file name's escape reached standard error raw"
  verdict escapes-in-arguments "exit $status"
}

# ---- The attacks, context by context. ----

for context_name in root other owner; do
  use_context "$context_name"
  selected clean-run && attack_clean_run
  selected report-history && attack_report_history
  selected report-link && attack_report_link
  selected report-history-link && attack_report_history_link
  for name in .jobid.txt.tmp ".$report.tmp" .out1.txt.groups.tmp; do
    for kind in symlink dangling; do
      selected "$kind-at $name" && attack_old_temporary_name "$name" "$kind"
    done
  done
  for kind in symlink dangling fifo folder device hardlink foreign; do
    selected "out1.txt-$kind" && attack_batch_output "$kind"
  done
  for name in out.txt out2.txt out1.txt; do
    selected "process-$name-symlink" && attack_process_output symlink "$name"
  done
  for kind in dangling fifo; do
    selected "process-out.txt-$kind" && attack_process_output "$kind" out.txt
  done
  for kind in symlink fifo; do
    selected "tinted-input-bpdbjobs.txt-$kind" && attack_input run_tinted bpdbjobs.txt "$kind"
    selected "tinted-input-jobid.txt-$kind" && attack_input run_tinted jobid.txt "$kind"
    selected "book-input-out1.txt-$kind" && attack_input run_book out1.txt "$kind"
    selected "process-input-bpdbjobs.txt-$kind" && attack_input run_process bpdbjobs.txt "$kind"
    selected "process-input-policy_list.txt-$kind" &&
      attack_input run_process policy_list.txt "$kind"
  done
  selected cleanup-keeps-others && attack_cleanup 0
  selected cleanup-after-missing-input && attack_cleanup 1
  selected neighbour-flocks-folder && attack_neighbour_flock
  selected lock-file-symlink && attack_lock_file symlink
  selected lock-file-held && attack_lock_file held
  [ "$context" = other ] && continue
  # The owner check is one of data folders, so the store's attacks run as root in root's store
  # and as the owner in the owner's.
  selected update-clean && attack_update_clean
  for kind in symlink dangling fifo foreign; do
    selected "update-store-temp.txt-$kind" && attack_store_file "$kind" temp.txt
  done
  selected update-store-bpdbjobs.txt-readlink && attack_store_file readlink bpdbjobs.txt
  for how in listing merge-file link path; do
    selected "update-from-store-$how" && attack_update_self "$how"
  done
  selected update-file-fifo && attack_update_fifo
done

use_context root
for name in root-in-owners-folder "root-in-owners-folder --check" owner-in-roots-folder \
  neighbour-in-owners-folder; do
  selected "$name" || continue
  case $name in
    root-in-owners-folder) attack_foreign_folder "$name" root "$owner" ;;
    *--check) attack_foreign_folder "$name" root "$owner" check ;;
    owner-in-roots-folder) attack_foreign_folder "$name" "$owner" root ;;
    neighbour-in-owners-folder) attack_foreign_folder "$name" "$neighbour" "$owner" ;;
  esac
done
selected store-is-file && attack_store_path file
selected store-is-missing && attack_store_path missing
selected escapes-in-arguments && attack_escaped_arguments
selected policy-names-of-1-MB && attack_long_policy_names
selected line-of-70-MB && attack_long_line
selected check-5000000-failed-jobs && attack_many_failed_jobs

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
