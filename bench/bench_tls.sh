#!/bin/bash
# Sending speed over implicit TLS (see bench/bench_tls.py). Installs stunnel4
# and curl when missing.
set -euo pipefail
bench_programs=(bench/bench_send)
source "$(dirname "$0")/prepare.sh"
"$root/scripts/install-deps.sh" stunnel4 curl
exec /usr/bin/python3 "$root/bench/bench_tls.py" "$build"
