#!/usr/bin/env bash
# Builds the tests whose code runs on more than one thread (the pipe between two steps, the
# Process action's steps side by side, the console form that drives them, the programs)
# with ThreadSanitizer into build-tsan/ and runs them; any data race fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-tsan
tests=(text_file_test process_test console_form_test ravelbook_test program_test)

"$root/tools/install-deps.sh"
flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
  -DCMAKE_MODULE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target ravelbook ravelrun-tinted ravelrun-plain ravelrun-brief "${tests[@]}"

export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
for test in "${tests[@]}"; do
  "$build/tests/$test" --gtest_brief=1
done
