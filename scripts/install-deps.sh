#!/bin/bash
# Installs the Debian packages that building, testing and the demo need, or
# the packages named as arguments, when any of them is missing; prints one
# line. Runs as root, or through sudo. apt's own output goes to
# $QUILLPOST_LOG (see scripts/steps.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/steps.sh"
if [ $# -gt 0 ] && [ "$1" != "--tests" ]; then
  packages=("$@")
else
  # What building and the demo need; the demo brings its own SMTP server
  # (aiosmtpd). With --tests, also what only the tests need: the DKIM
  # verifiers, and Postfix, installed unconfigured so that no mail server
  # starts, for a test that runs a private instance on loopback. The
  # benchmarks install what they need when they run.
  packages=(
    cmake g++ make pkgconf libssl-dev openssl libcurl4-openssl-dev nlohmann-json3-dev libidn2-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    python3 python3-aiosmtpd
    media-types tzdata
  )
  if [ "${1:-}" = "--tests" ]; then
    packages+=(python3-dkim libmail-dkim-perl postfix)
  fi
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "quillpost: packages ... all present"
  exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *" postfix "* ]]; then
  echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
fi
qp_begin "installing ${missing[*]}"
echo "== installing: ${missing[*]}" >>"$QUILLPOST_LOG"
if $sudo apt-get update -q >>"$QUILLPOST_LOG" 2>&1 &&
   $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >>"$QUILLPOST_LOG" 2>&1; then
  qp_done
else
  qp_failed
fi
