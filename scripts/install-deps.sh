#!/bin/bash
# Installs the Debian packages that building, testing and the demo need,
# when any of them is missing. Runs as root, or through sudo.
set -euo pipefail
packages=(
  cmake g++ make pkgconf libssl-dev openssl
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  python3 python3-aiosmtpd postfix
  media-types tzdata
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
