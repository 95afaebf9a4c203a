#!/bin/bash
# Sending speed over implicit TLS (see bench/bench_tls.py). Installs stunnel4
# and curl when missing.
set -euo pipefail
bench_programs=(bench/bench_send)
source "$(dirname "$0")/prepare.sh"
for p in stunnel4 curl; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    { [ "$(id -u)" -eq 0 ] || sudo=sudo; ${sudo:-} apt-get install -y -q --no-install-recommends "$p" > /dev/null; }
done
exec /usr/bin/python3 "$root/bench/bench_tls.py" "$build"
