#!/usr/bin/env bash
# Whole-program benchmark: generates a job listing, then times complete runs of the built
# programs as processes, side by side with `wc -l` (the cost of reading the file) and an awk
# one-liner that writes the same job table (what an operator would write instead). Prints the
# median wall time of each case, its ratios to both baselines, and its peak resident memory.
#
#   bench/run.sh                 1,000,000 jobs (about 300 MB), 5 runs per case
#   bench/run.sh --runs 9        more runs per case
#   bench/run.sh --lines 20000   a smaller listing
#   bench/run.sh --smoke         a tiny listing, one run, the build folder as it is: checks that
#                                the script and the programs work (CI)
# Other options: --build-dir DIR (default build-bench), --work DIR (default a temporary folder,
# deleted at the end), --keep (keep the work folder). Peak memory needs GNU time
# (/usr/bin/time, Debian package time); without it the smoke run shows none.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

lines=1000000
runs=5
build="$root/build-bench"
work=""
keep=0
smoke=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --lines) lines=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --build-dir) build=$(realpath -m "$2"); shift 2 ;;
    --work) work=$(realpath -m "$2"); shift 2 ;;
    --keep) keep=1; shift ;;
    --smoke) smoke=1; lines=3000; runs=1; shift ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
if [[ ! -x /usr/bin/time && $smoke -eq 0 ]]; then
  echo "run.sh: needs GNU time for peak memory: apt-get install time" >&2
  exit 1
fi

# Build. The smoke run takes the build folder as it is configured (CI's tree).
if [[ $smoke -eq 1 && -f "$build/CMakeCache.txt" ]]; then
  cmake --build "$build" --parallel "$(nproc)" --target ravelrun-tinted ravelbook ravel-genlisting >/dev/null
else
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --parallel "$(nproc)" --target ravelrun-tinted ravelbook ravel-genlisting >/dev/null
fi

if [[ -z $work ]]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/ravel-bench.XXXXXX")
  [[ $keep -eq 1 ]] || trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"

# The inputs, shared by every case through hard links or copies in each case's folder.
echo "Generating $lines jobs and a 1000-line policy list in $work ..." >&2
"$build/tools/ravel-genlisting" listing --jobs "$lines" --out "$work/bpdbjobs.txt"
"$build/tools/ravel-genlisting" policies --count 1000 --out "$work/policy_list.txt"
listing_bytes=$(stat -c %s "$work/bpdbjobs.txt")
newest_id=$(head -n 1 "$work/bpdbjobs.txt" | cut -d, -f1)
new_jobs=$((lines > 5000 ? 5000 : lines / 2))
daily_marker=$(sed -n "$((new_jobs + 1))p" "$work/bpdbjobs.txt" | cut -d, -f1)

# One folder per case, as a scheduler would set it up: the program beside its inputs. Each case
# replaces its own outputs of the run before, as daily runs do.
setup_folder() {
  local folder=$1 program=$2
  mkdir -p "$folder"
  ln -f "$work/bpdbjobs.txt" "$folder/bpdbjobs.txt"
  ln -f "$work/policy_list.txt" "$folder/policy_list.txt"
  cp "$program" "$folder/"
}
for name in conversion daily every; do setup_folder "$work/$name" "$build/batch/ravelrun-tinted"; done
setup_folder "$work/process" "$build/console/ravelbook"
mkdir -p "$work/awk"

awk_program='BEGIN { FS = ","; OFS = ","; ORS = "\r\n"
  print "Job ID,Status,Policy,Client,Schedule,Schedule_Type,Media_Server,Storage Unit,Start Time,End Time,Elapsed,KiloBytes,Files,KB/s,Retention,Bkup_ID" }
{ sub(/\r$/, ""); t = $23
  if (t == "0") t = "Full Backup"; else if (t == "1") t = "Differential"
  else if (t == "2") t = "User Backup"; else if (t == "4") t = "Cumulative"
  print $1, $4, $5, $7, $6, t, $8, $12, $9, $11, $10, $15, $16, $35, $28, $52 }'

# The cases: a name, the text shown, what to prepare before the clock starts, and the command,
# which time starts itself, so that it measures the program alone.
names=(wc awk conversion daily every process start)
declare -A label prepare command
label[wc]="wc -l (reading the file)"
label[awk]="awk one-liner, 16-column table"
label[conversion]="ravelrun-tinted, marker = newest"
label[daily]="ravelrun-tinted, $new_jobs new jobs"
label[every]="ravelrun-tinted, marker 0"
label[process]="ravelbook --process, 1000 policies"
label[start]="ravelbook --version (start-up alone)"
prepare[conversion]="echo $newest_id >$work/conversion/jobid.txt"
prepare[daily]="echo $daily_marker >$work/daily/jobid.txt"
prepare[every]="echo 0 >$work/every/jobid.txt"
command[wc]="wc -l $work/bpdbjobs.txt >/dev/null"
command[awk]="awk '$awk_program' $work/bpdbjobs.txt >$work/awk/out1.txt"
command[conversion]="$work/conversion/ravelrun-tinted"
command[daily]="$work/daily/ravelrun-tinted"
command[every]="$work/every/ravelrun-tinted"
command[process]="$work/process/ravelbook --process --start '1902-01-01 00:00:00' --end '2038-01-01 00:00:00'"
command[start]="$work/process/ravelbook --version >/dev/null"

# Prints the wall time in microseconds and the peak resident set in KiB of one run of a case.
# Each run meets the folder as a daily run does: the job table and interim files of the run
# before are there and get replaced, the day's report is not there yet (a report is named after
# its day). Before the clock starts, what earlier runs wrote is written out to the disk (sync),
# so that no run pays for the one before it.
run_once() {
  local name=$1
  [[ -n ${prepare[$name]:-} ]] && sh -c "${prepare[$name]}"
  [[ -d $work/$name ]] && rm -f "$work/$name"/report_*.html
  sync
  local timer="" before after
  [[ -x /usr/bin/time ]] && timer="/usr/bin/time -f %M -o '$work/rss'" || echo 0 >"$work/rss"
  before=$EPOCHREALTIME
  if ! eval "$timer ${command[$name]}"; then
    echo "run.sh: failed: ${command[$name]}" >&2
    exit 1
  fi
  after=$EPOCHREALTIME
  echo "$((${after/./} - ${before/./})) $(tail -n 1 "$work/rss")"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

cat "$work/bpdbjobs.txt" >/dev/null  # Every case reads the listing from the page cache.
declare -A seconds rss
for name in "${names[@]}"; do
  times=()
  peak=0
  for ((i = 0; i < runs; ++i)); do
    read -r micros kib < <(run_once "$name")
    times+=("$micros")
    ((kib > peak)) && peak=$kib
  done
  seconds[$name]=$(printf '%s\n' "${times[@]}" | median | awk '{ printf "%.3f", $1 / 1e6 }')
  rss[$name]=$(awk -v k="$peak" 'BEGIN { if (k > 0) printf "%.1f", k / 1024; else print "n/a" }')
  echo "  ${label[$name]}: ${seconds[$name]} s" >&2
done

# The baseline writes the very table the conversion writes.
if ! cmp -s "$work/awk/out1.txt" "$work/conversion/out1.txt"; then
  echo "run.sh: the awk baseline and ravelrun-tinted wrote different job tables" >&2
  exit 1
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }'; }
row() { printf '| %-38s | %8s | %7s | %10s | %9s | %14s |\n' "$@"; }
printf '\nListing: %s jobs, %.1f MB; median of %s runs; %s\n\n' "$lines" \
  "$(awk -v b="$listing_bytes" 'BEGIN { print b / 1e6 }')" "$runs" "$(uname -srm)"
row "Case" "Time (s)" "MB/s" "awk / case" "case / wc" "Peak RSS (MiB)"
row "" "" "" "" "" "" | tr ' ' '-' | sed 's/^-/|/'
for name in "${names[@]}"; do
  if [[ $name == start ]]; then
    row "${label[$name]}" "${seconds[$name]}" "" "" "" "${rss[$name]}"
    continue
  fi
  row "${label[$name]}" "${seconds[$name]}" \
    "$(awk -v b="$listing_bytes" -v s="${seconds[$name]}" 'BEGIN { printf "%.0f", (s > 0 ? b / 1e6 / s : 0) }')" \
    "$(ratio "${seconds[awk]}" "${seconds[$name]}")" "$(ratio "${seconds[$name]}" "${seconds[wc]}")" \
    "${rss[$name]}"
done

# The targets, each a ratio measured in this run.
check() {
  local text=$1 holds=$2
  printf '  %-66s %s\n' "$text" "$([[ $holds -eq 1 ]] && echo holds || echo MISSED)"
}
at_most() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a <= b) }' && echo 1 || echo 0; }
echo
echo "Targets:"
check "conversion-only at least 10x faster than awk ($(ratio "${seconds[awk]}" "${seconds[conversion]}")x)" \
  "$(at_most "$(awk -v a="${seconds[conversion]}" 'BEGIN { print a * 10 }')" "${seconds[awk]}")"
check "conversion-only within 4x of wc -l ($(ratio "${seconds[conversion]}" "${seconds[wc]}")x)" \
  "$(at_most "${seconds[conversion]}" "$(awk -v a="${seconds[wc]}" 'BEGIN { print a * 4 }')")"
check "marker 0 at least 3x faster than awk ($(ratio "${seconds[awk]}" "${seconds[every]}")x)" \
  "$(at_most "$(awk -v a="${seconds[every]}" 'BEGIN { print a * 3 }')" "${seconds[awk]}")"
check "process within 3x of conversion-only ($(ratio "${seconds[process]}" "${seconds[conversion]}")x)" \
  "$(at_most "${seconds[process]}" "$(awk -v a="${seconds[conversion]}" 'BEGIN { print a * 3 }')")"
largest=0
for name in conversion daily every process; do
  [[ ${rss[$name]} == n/a ]] && continue
  awk -v a="${rss[$name]}" -v b="$largest" 'BEGIN { exit !(a > b) }' && largest=${rss[$name]}
done
check "peak resident memory of every run at most 16 MiB (${largest} MiB)" "$(at_most "$largest" 16)"
