#!/bin/bash
# Builds the fuzz targets with clang's libFuzzer and the address and
# undefined-behaviour sanitizers into ./build-fuzz, and runs each for SECONDS
# (default 30) on a copy of its seed corpus. One line per target; exits 1
# when any target found something (its input is kept under
# build-fuzz/findings/TARGET/, to be copied to fuzz/regressions/TARGET/ with
# the fix).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}"
build="$root/build-fuzz"
log="$build/fuzz.log"

# clang and the libFuzzer runtime (libclang-rt-14-dev holds libclang_rt.fuzzer).
packages=(clang-14 libclang-rt-14-dev cmake make)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q >/dev/null
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi

mkdir -p "$build"
: >"$log"
if ! { cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
         -DQUILLPOST_FUZZ=ON -DQUILLPOST_BUILD_TESTS=OFF -DQUILLPOST_BUILD_BENCH=OFF &&
       cmake --build "$build" -j"$(nproc)" --target fuzz_targets; } >>"$log" 2>&1; then
  echo "fuzz build failed; log: $log"
  exit 1
fi

# The longest input worth trying for each target.
declare -A max_len=(
  [reply_reader]=4096 [header_parse]=1024 [variant]=256
  [qpmail_options]=1024 [base64]=2048 [registry]=4096 [invoke]=64
)
found=0
for target in reply_reader header_parse variant qpmail_options base64 registry invoke; do
  work="$build/corpus-run/$target"
  findings="$build/findings/$target"
  rm -rf "$work" "$findings"
  mkdir -p "$work" "$findings"
  cp "$root/fuzz/corpus/$target/"* "$work/"
  target_log="$build/fuzz-$target.log"
  status=0
  (cd "$findings" && "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len="${max_len[$target]}" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
      "$work" "$root/fuzz/regressions/$target") >"$target_log" 2>&1 || status=$?
  cat "$target_log" >>"$log"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$target_log" | tail -n 1)
  rate=$(sed -n 's/.*exec\/s: \([0-9]*\).*/\1/p' "$target_log" | tail -n 1)
  [ -n "$rate" ] || rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$target_log" | tail -n 1)
  artifacts=$(find "$findings" -type f | wc -l)
  if [ "$status" -ne 0 ] || [ "$artifacts" -gt 0 ]; then
    found=1
    printf '%-15s %8s exec/s  %10s runs  FOUND: %s\n' "$target" "${rate:-?}" "${runs:-?}" \
      "$(find "$findings" -type f | head -1)"
  else
    printf '%-15s %8s exec/s  %10s runs  nothing found\n' "$target" "${rate:-?}" "${runs:-?}"
  fi
done
if [ "$found" -ne 0 ]; then
  echo "findings; full log: $log"
  exit 1
fi
