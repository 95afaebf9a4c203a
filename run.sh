#!/bin/bash
# The main job: builds Quillpost and runs the example program.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" > /dev/null
"${QUILLPOST_BUILD_DIR:-$root/build}/examples/qp_example"
