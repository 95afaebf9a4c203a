#!/bin/bash
# Sending speed and memory against Postfix's smtp-sink: Quillpost, Python's
# smtplib and a plain socket write loop (see bench/bench_send.py).
set -euo pipefail
bench_programs=(bench/bench_send tools/qpmail)
source "$(dirname "$0")/prepare.sh"
exec /usr/bin/python3 "$root/bench/bench_send.py" "$build"
