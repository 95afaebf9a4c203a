# Sourced by the scripts that a person runs and watches: each step prints one
# short line, and the tools' own output (apt, cmake, the compiler, ctest)
# goes to one log file, whose path is printed when a step fails.
#
#   QUILLPOST_LOG   the log file (set by the caller; one is made under /tmp
#                   otherwise, and removed again when the script succeeds)

if [ -z "${QUILLPOST_LOG:-}" ]; then
  QUILLPOST_LOG="$(mktemp /tmp/quillpost.XXXXXX.log)"
  # A failure prints the log's path, so only a success takes it away.
  trap 'status=$?; [ "$status" -ne 0 ] || rm -f "$QUILLPOST_LOG"; exit "$status"' EXIT
fi
export QUILLPOST_LOG

# "NAME ..." and the time the step began; ended by qp_done or qp_failed.
qp_begin() {
  printf 'quillpost: %s ...' "$1"
  qp_started=$SECONDS
}

qp_elapsed() {
  local seconds=$((SECONDS - qp_started))
  [ "$seconds" -ge 5 ] && printf ' (%d s)' "$seconds"
  return 0
}

# Ends the step's line: "ok", or what the caller says.
qp_done() {
  printf ' %s' "${1:-ok}"
  qp_elapsed
  printf '\n'
}

# Ends the step's line as failed (or with what the caller says), shows the
# end of the log and leaves.
qp_failed() {
  printf ' %s' "${1:-failed}"
  qp_elapsed
  printf '\n'
  echo "quillpost: the last lines of the log:" >&2
  tail -n 15 "$QUILLPOST_LOG" | sed 's/^/  | /' >&2
  echo "quillpost: full output: $QUILLPOST_LOG" >&2
  exit 1
}

# qp_step NAME COMMAND...: one line for a command whose output is kept in
# the log.
qp_step() {
  local name="$1"
  shift
  qp_begin "$name"
  echo "== $name: $*" >>"$QUILLPOST_LOG"
  if "$@" >>"$QUILLPOST_LOG" 2>&1; then qp_done; else qp_failed; fi
}

# Shows the percentages of a build's output ("[ 42%] Building ...") as they
# come: rewritten in place on a terminal, every tenth appended otherwise, so
# that a log of the run stays short.
qp_percent_filter() {
  local shown=-1 line percent
  while IFS= read -r line; do
    [[ $line =~ ^\[\ *([0-9]+)%\] ]] || continue
    percent=${BASH_REMATCH[1]}
    if [ -t 1 ]; then
      [ "$percent" -ne "$shown" ] && printf '\r\033[Kquillpost: %s ... %3d%%' "$qp_name" "$percent"
      shown=$percent
    elif [ $((percent / 10)) -gt $((shown / 10)) ] || [ "$shown" -lt 0 ]; then
      printf ' %d%%' "$percent"
      shown=$percent
    fi
  done
}

# qp_build_step NAME COMMAND...: a step whose output carries build
# percentages, shown as they come.
qp_build_step() {
  qp_name="$1"
  shift
  qp_begin "$qp_name"
  echo "== $qp_name: $*" >>"$QUILLPOST_LOG"
  local status
  set +e
  "$@" 2>&1 | tee -a "$QUILLPOST_LOG" | qp_percent_filter
  status=${PIPESTATUS[0]}
  set -e
  if [ "$status" -eq 0 ]; then qp_done; else qp_failed; fi
}
