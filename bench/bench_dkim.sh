#!/bin/bash
# What DKIM signing costs, against Postfix's smtp-sink (see bench/bench_dkim.py).
# Installs Postfix for its smtp-sink when missing (left unconfigured, so no
# mail server starts), and builds first when bench_send or qpmail is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-${QUILLPOST_BUILD_DIR:-$root/build}}"
if ! dpkg-query -W -f='${Status}' postfix 2>/dev/null | grep -q "install ok installed"; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
  "$root/scripts/install-deps.sh" postfix
fi
if [ ! -x "$build/bench/bench_send" ] || [ ! -x "$build/tools/qpmail" ]; then
  "$root/scripts/install-deps.sh"
  QUILLPOST_BUILD_DIR="$build" "$root/scripts/build.sh"
fi
exec /usr/bin/python3 "$root/bench/bench_dkim.py" "$build"
