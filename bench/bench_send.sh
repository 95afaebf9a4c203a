#!/bin/bash
# Sending speed and memory against Postfix's smtp-sink: Quillpost, Python's
# smtplib and a plain socket write loop (see bench/bench_send.py). Builds
# first when bench_send or qpmail is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-${QUILLPOST_BUILD_DIR:-$root/build}}"
if [ ! -x "$build/bench/bench_send" ] || [ ! -x "$build/tools/qpmail" ]; then
  "$root/scripts/install-deps.sh"
  QUILLPOST_BUILD_DIR="$build" "$root/scripts/build.sh" > /dev/null
fi
exec /usr/bin/python3 "$root/bench/bench_send.py" "$build"
