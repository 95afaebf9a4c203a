#!/bin/bash
# Many messages over one connection and kept-alive sends against Postfix's
# smtp-sink (see bench/bench_connection.py).
set -euo pipefail
bench_programs=(bench/bench_send bench/minimal_client)
source "$(dirname "$0")/prepare.sh"
exec /usr/bin/python3 "$root/bench/bench_connection.py" "$build"
