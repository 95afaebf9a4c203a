#!/bin/bash
# The main job: builds Quillpost, starts a local SMTP server (aiosmtpd on a
# free port of 127.0.0.1), sends a message with a text body, an HTML body and
# an attachment through qpmail, and shows the trace and what the server
# received.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" > /dev/null
build="${QUILLPOST_BUILD_DIR:-$root/build}"
demo="$root/examples/demo"

work="$(mktemp -d)"
server=""
stop_server() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap stop_server EXIT

/usr/bin/python3 "$root/tools/demo_smtp_server.py" "$work/port" "$work/received" &
server=$!
for _ in $(seq 100); do
  [ -s "$work/port" ] && break
  kill -0 "$server" 2>/dev/null || { echo "the SMTP server did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/port" ] || { echo "the SMTP server did not start within 10 seconds" >&2; exit 1; }
port="$(cat "$work/port")"

echo "== SMTP server (aiosmtpd) listening on 127.0.0.1:$port"
echo
command=("$build/tools/qpmail"
  --server 127.0.0.1 --port "$port" --timeout 10
  --from "Ann Lee <ann@example.com>"
  --to "Bob Smith <bob@example.com>" --cc carol@example.com --bcc audit@example.com
  --reply-to "Sales Desk <sales@example.com>"
  --subject "Quarterly figures"
  --text "$demo/hello.txt" --html "$demo/hello.html" --attach "$demo/chart.png"
  --priority high --organization "Brackenfold" --header "X-Campaign: demo"
  --trace "$work/trace.log")
shown="== qpmail"
for arg in "${command[@]:1}"; do
  case "$arg" in *[\ \<\>]*) shown+=" '$arg'" ;; *) shown+=" $arg" ;; esac
done
echo "$shown"
status=0
"${command[@]}" || status=$?
echo "== qpmail exit status: $status"
echo
echo "== Trace file"
if [ -f "$work/trace.log" ]; then tr -d '\r' < "$work/trace.log"; else echo "(no trace file)"; fi
echo
for message in "$work"/received/*.eml; do
  [ -e "$message" ] || { echo "== The server received nothing"; break; }
  echo "== Envelope received by the server"
  cat "${message%.eml}.envelope"
  echo
  echo "== Message received by the server"
  tr -d '\r' < "$message"
done
exit "$status"
