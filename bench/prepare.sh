# Sourced by the benchmarks against Postfix's smtp-sink: sets root and build
# (the first argument, QUILLPOST_BUILD_DIR, or ./build), installs Postfix for
# its smtp-sink when missing (left unconfigured, so no mail server starts),
# and builds first when one of the programs named in bench_programs (paths
# under the build folder) is missing.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-${QUILLPOST_BUILD_DIR:-$root/build}}"
"$root/scripts/install-deps.sh" postfix
for program in "${bench_programs[@]}"; do
  if [ ! -x "$build/$program" ]; then
    "$root/scripts/install-deps.sh"
    QUILLPOST_BUILD_DIR="$build" "$root/scripts/build.sh"
    break
  fi
done
