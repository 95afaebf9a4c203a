#!/bin/bash
# Installs what is needed, builds, and runs every test: the regular build,
# then the sanitizer builds.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
ctest --test-dir "${QUILLPOST_BUILD_DIR:-$root/build}" --output-on-failure -j2
"$root/scripts/sanitize.sh"
"$root/scripts/fuzz.sh" 20
