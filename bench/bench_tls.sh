#!/bin/bash
# Sending speed over implicit TLS (see bench/bench_tls.py). Installs stunnel4
# and curl when missing, and builds first when bench_send is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-${QUILLPOST_BUILD_DIR:-$root/build}}"
for p in stunnel4 curl; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    { [ "$(id -u)" -eq 0 ] || sudo=sudo; ${sudo:-} apt-get install -y -q --no-install-recommends "$p" > /dev/null; }
done
if [ ! -x "$build/bench/bench_send" ]; then
  "$root/scripts/install-deps.sh"
  QUILLPOST_BUILD_DIR="$build" "$root/scripts/build.sh" > /dev/null
fi
exec /usr/bin/python3 "$root/bench/bench_tls.py" "$build"
