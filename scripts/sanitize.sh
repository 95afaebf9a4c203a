#!/bin/bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan/), and the concurrency tests built with ThreadSanitizer
# (build-tsan/). Any finding ends the program that made it, and so fails the
# run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
asan="${QUILLPOST_ASAN_DIR:-$root/build-asan}"
tsan="${QUILLPOST_TSAN_DIR:-$root/build-tsan}"
mkdir -p "$asan"
log="$asan/sanitize.log"
: > "$log"
jobs="$(nproc)"

step() {
  echo "sanitize: $1"
  shift
  if ! "$@" >> "$log" 2>&1; then
    echo "sanitize: failed; the full output is in $log" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

step "building with address,undefined" cmake -S "$root" -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLPOST_SANITIZE=address,undefined -DQUILLPOST_BUILD_BENCH=OFF
step "  compiling" cmake --build "$asan" -j"$jobs"
step "  running every test" ctest --test-dir "$asan" --output-on-failure -j"$jobs"
step "building the concurrency tests with thread" cmake -S "$root" -B "$tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLPOST_SANITIZE=thread -DQUILLPOST_BUILD_BENCH=OFF
step "  compiling" cmake --build "$tsan" -j"$jobs" --target concurrency_tests
step "  running them" "$tsan/tests/mailer/concurrency_tests"
rm -f "$log"
echo "sanitize: no findings"
