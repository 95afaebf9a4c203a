#!/bin/bash
# Many messages over one connection and kept-alive sends against Postfix's
# smtp-sink (see bench/bench_connection.py). Needs what bench_send.sh
# installs; builds first when bench_send or minimal_client is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-${QUILLPOST_BUILD_DIR:-$root/build}}"
if [ ! -x "$build/bench/bench_send" ] || [ ! -x "$build/bench/minimal_client" ]; then
  "$root/scripts/install-deps.sh"
  QUILLPOST_BUILD_DIR="$build" "$root/scripts/build.sh"
fi
exec /usr/bin/python3 "$root/bench/bench_connection.py" "$build"
