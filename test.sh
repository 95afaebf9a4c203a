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
# Temporary files of every step (Wine's server folder, lintian's, the
# tests' own) go under the build tree, so nothing is left in /tmp.
export TMPDIR="$build/tmp"
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"
: >"$QUILLPOST_LOG"
source "$root/scripts/steps.sh"

"$root/scripts/install-deps.sh" --tests
QUILLPOST_BUILD_DIR="$build" "$root/scripts/build.sh"

qp_begin "testing"
echo "== ctest" >>"$QUILLPOST_LOG"
ctest_output="$build/ctest.log"
if ctest --test-dir "$build" --output-on-failure -j"$(nproc)" >"$ctest_output" 2>&1; then
  status=0
else
  status=$?
fi
cat "$ctest_output" >>"$QUILLPOST_LOG"
# "all 413 passed, 1 skipped: NAME": a skipped test is counted apart and named.
total="$(grep -o 'tests failed out of [0-9]*' "$ctest_output" | tail -n 1 | grep -o '[0-9]*$' || true)"
skipped="$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$ctest_output" | paste -sd ',' - | sed 's/,/, /g')"
skipped_count="$(sed -n '/^[[:space:]]*[0-9]* - .* (Skipped)$/p' "$ctest_output" | wc -l)"
skipped_text=""
[ "$skipped_count" -gt 0 ] && skipped_text=", $skipped_count skipped: $skipped"
if [ "$status" -eq 0 ] && [ -n "$total" ]; then
  qp_done "all $((total - skipped_count)) passed$skipped_text"
else
  qp_failed "$(grep -o '[0-9]* tests failed out of [0-9]*' "$ctest_output" | tail -n 1 || echo failed)$skipped_text"
fi

# Each prints its own lines into the log; the step shows the last one.
last_line() { tail -n 1 "$QUILLPOST_LOG"; }

# The Debian package, as a new user meets it: built, installed, every recipe
# of the README's "Installing" section run as written, purged (as root).
qp_begin "the Debian package (scripts/package_test.sh)"
package_output="$build/package-test.out"
if QUILLPOST_LOG="$build/package-test.log" "$root/scripts/package_test.sh" >"$package_output" 2>&1; then
  cat "$package_output" >>"$QUILLPOST_LOG"
  if grep -q "skipped" "$package_output"; then
    qp_done "$(tail -n 1 "$package_output" | sed 's/.*\.\.\. //')"
  else
    qp_done "$(grep -c '^quillpost: recipe' "$package_output") README recipes run, nothing left after the purge"
  fi
else
  cat "$package_output" "$build/package-test.log" >>"$QUILLPOST_LOG"
  qp_failed
fi
qp_begin "sanitizers (scripts/sanitize.sh)"
if "$root/scripts/sanitize.sh" >>"$QUILLPOST_LOG" 2>&1; then qp_done "$(last_line)"; else qp_failed; fi
qp_begin "fuzzing 20 s per target (scripts/fuzz.sh 20)"
if "$root/scripts/fuzz.sh" 20 >>"$QUILLPOST_LOG" 2>&1; then
  qp_done "nothing found in $(grep -c 'nothing found' "$QUILLPOST_LOG") targets"
else
  qp_failed
fi

"$root/scripts/windows.sh"
