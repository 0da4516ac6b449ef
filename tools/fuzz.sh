#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer
# into build-fuzz/ and runs each one for the given number of seconds (default 30), starting from
# its seed corpus in fuzz/corpus/. Exits non-zero on any finding; the input that shows it is kept
# in build-fuzz/findings/<target>/, and reruns with: build-fuzz/fuzz/<target> <that file>.
set -euo pipefail
seconds=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
targets=(conversion report process update numeric)

"$root/tools/install-deps.sh"
if ! grep -q 'add_subdirectory(fuzz)' "$root/CMakeLists.txt"; then
  echo "fuzz.sh: the top-level CMakeLists.txt does not add fuzz/ when RAVEL_FUZZ is on" >&2
  exit 2
fi
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DRAVEL_FUZZ=ON -DCMAKE_CXX_FLAGS="$sanitizers" >/dev/null
cmake --build "$build" --target fuzz_targets --parallel "$(nproc)"

# The targets write small files for every input: memory is faster and spares the disk.
scratch=$(mktemp -d "$([[ -w /dev/shm ]] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/ravel-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch

failed=0
printf '%-12s %12s %10s %8s  %s\n' target executions "inputs/s" corpus result
for name in "${targets[@]}"; do
  target=${name}_fuzz
  corpus=$build/corpus/$name
  findings=$build/findings/$target/
  log=$build/logs/$target.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  result=ok
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -max_len=8192 -dict="$root/fuzz/ravel.dict" -print_final_stats=1 \
    -artifact_prefix="$findings" "$corpus" "$root/fuzz/corpus/$name" >"$log" 2>&1 ||
    { result="FINDING (see $log)"; failed=1; }
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  printf '%-12s %12s %10s %8s  %s\n' "$name" "${executions:-?}" "${rate:-?}" \
    "$(find "$corpus" -type f | wc -l)" "$result"
done
exit "$failed"
