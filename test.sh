#!/bin/bash
# Installs what is needed, builds, and runs every test: the regular build,
# then the sanitizer builds and the fuzz targets, then the Windows DLLs
# under Wine. One line per step; the
# tools' output goes to build/test.log.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
build="${QUILLPOST_BUILD_DIR:-$root/build}"
mkdir -p "$build"
export QUILLPOST_LOG="$build/test.log"
: >"$QUILLPOST_LOG"
source "$root/scripts/steps.sh"

"$root/scripts/install-deps.sh"
QUILLPOST_BUILD_DIR="$build" "$root/scripts/build.sh"

qp_begin "testing"
echo "== ctest" >>"$QUILLPOST_LOG"
if ctest --test-dir "$build" --output-on-failure -j"$(nproc)" >>"$QUILLPOST_LOG" 2>&1; then
  qp_done "$(grep -o '[0-9]* tests failed out of [0-9]*' "$QUILLPOST_LOG" | tail -n 1 | sed 's/^0 tests failed out of \(.*\)/all \1 passed/')"
else
  qp_failed "$(grep -o '[0-9]* tests failed out of [0-9]*' "$QUILLPOST_LOG" | tail -n 1 || echo failed)"
fi

# Each prints its own lines into the log; the step shows the last one.
last_line() { tail -n 1 "$QUILLPOST_LOG"; }
qp_begin "sanitizers (scripts/sanitize.sh)"
if "$root/scripts/sanitize.sh" >>"$QUILLPOST_LOG" 2>&1; then qp_done "$(last_line)"; else qp_failed; fi
qp_begin "fuzzing 20 s per target (scripts/fuzz.sh 20)"
if "$root/scripts/fuzz.sh" 20 >>"$QUILLPOST_LOG" 2>&1; then
  qp_done "nothing found in $(grep -c 'nothing found' "$QUILLPOST_LOG") targets"
else
  qp_failed
fi

"$root/scripts/windows.sh"
