#!/usr/bin/env bash
# Builds the programs and runs the tinted batch reporter on the bundled sample data in a folder
# of its own, as a scheduler would, then says where the report is.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --parallel "$(nproc)"

run="$root/out/sample"
rm -rf "$run"
mkdir -p "$run"
cp "$root/sample/bpdbjobs.txt" "$root/sample/jobid.txt" "$run/"
cp "$root/build/batch/ravelrun-tinted" "$run/"
"$run/ravelrun-tinted"

echo "Job table:     $run/out1.txt"
echo "Job marker:    $run/jobid.txt (now $(tr -d '\r' <"$run/jobid.txt"))"
for report in "$run"/report_*.html; do echo "Backup report: $report"; done
