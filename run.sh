#!/bin/bash
# The main job: builds Quillpost, starts a local SMTP server (aiosmtpd on a
# free port of 127.0.0.1), sends a message with a text body, an HTML body and
# an attachment through qpmail, and says whether the server accepted it. One
# line per step; the tools' output goes to build/run.log, the trace and what
# the server received to build/demo/.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
build="${QUILLPOST_BUILD_DIR:-$root/build}"
mkdir -p "$build"
export QUILLPOST_LOG="$build/run.log"
: >"$QUILLPOST_LOG"
source "$root/scripts/steps.sh"

"$root/scripts/install-deps.sh"
# The demo needs the library and qpmail only; ./test.sh builds the rest.
QUILLPOST_BUILD_DIR="$build" "$root/scripts/build.sh" qpmailer qpmail

demo="$root/examples/demo"
out="$build/demo"
rm -rf "$out"
mkdir -p "$out/received"
trace="$out/trace.log"

server=""
stop_server() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
}
trap stop_server EXIT

qp_begin "starting a local SMTP server"
/usr/bin/python3 "$root/tools/demo_smtp_server.py" "$out/port" "$out/received" >>"$QUILLPOST_LOG" 2>&1 &
server=$!
for _ in $(seq 100); do
  [ -s "$out/port" ] && break
  kill -0 "$server" 2>/dev/null || qp_failed
  sleep 0.1
done
[ -s "$out/port" ] || { echo "no port after 10 seconds" >>"$QUILLPOST_LOG"; qp_failed; }
port="$(cat "$out/port")"
qp_done "127.0.0.1:$port"

command=("$build/tools/qpmail"
  --server 127.0.0.1 --port "$port" --timeout 10
  --from "Ann Lee <ann@example.com>"
  --to "Bob Smith <bob@example.com>" --cc carol@example.com --bcc audit@example.com
  --reply-to "Sales Desk <sales@example.com>"
  --subject "Quarterly figures"
  --text "$demo/hello.txt" --html "$demo/hello.html" --attach "$demo/chart.png"
  --priority high --organization "Brackenfold" --header "X-Campaign: demo"
  --trace "$trace")
qp_begin "sending a message with qpmail"
echo "== ${command[*]}" >>"$QUILLPOST_LOG"
status=0
"${command[@]}" >>"$QUILLPOST_LOG" 2>&1 || status=$?
if [ "$status" -eq 0 ]; then
  qp_done "ok, received as $out/received/message-1.eml"
  echo "quillpost: the server accepted the message; trace: $trace"
else
  qp_done "failed (exit status $status)"
  echo "quillpost: the server did not accept the message: $(grep '^qpmail: ' "$QUILLPOST_LOG" | tail -n 1); trace: $trace; full output: $QUILLPOST_LOG"
fi
exit "$status"
