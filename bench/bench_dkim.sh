#!/bin/bash
# What DKIM signing costs, against Postfix's smtp-sink (see bench/bench_dkim.py).
set -euo pipefail
bench_programs=(bench/bench_send tools/qpmail)
source "$(dirname "$0")/prepare.sh"
exec /usr/bin/python3 "$root/bench/bench_dkim.py" "$build"
