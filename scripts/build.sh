#!/bin/bash
# Configures and builds into ./build (or $QUILLPOST_BUILD_DIR), one line per
# step; the output of cmake and the compiler goes to $QUILLPOST_LOG (see
# scripts/steps.sh). With target names as arguments (qpmail), only those and
# what they need are built; without, everything: tests, benchmarks, fuzz
# corpus replays.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLPOST_BUILD_DIR:-$root/build}"
source "$root/scripts/steps.sh"
qp_step "configuring" cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
targets=()
for target in "$@"; do targets+=(--target "$target"); done
qp_build_step "building" cmake --build "$build" -j"$(nproc)" "${targets[@]}"
