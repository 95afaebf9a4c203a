#!/bin/bash
# Tests the Debian package the way a new user meets it: runs every recipe of
# the README's "Installing" section exactly as written (the package is built
# and installed with dpkg, a local test server started, a message sent with
# /usr/bin/qpmail, the Python client, a C++ program built with CMake and with
# pkg-config, and the sendmail-compatible link), checks what the server
# received, checks the package with dpkg-deb and lintian, then purges it and
# checks that nothing of it is left. The recipes run with a clean
# environment. Needs root (CI runs as root on a machine of its own); one line
# per step, the tools' output in $QUILLPOST_LOG.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLPOST_BUILD_DIR:-$root/build}"
mkdir -p "$build"
export QUILLPOST_LOG="${QUILLPOST_LOG:-$build/package-test.log}"
source "$root/scripts/steps.sh"

if [ "$(id -u)" -ne 0 ]; then
  echo "quillpost: package test ... skipped: dpkg -i needs root"
  exit 0
fi
if dpkg-query -W -f='${Status}' quillpost 2>/dev/null | grep -q "installed"; then
  echo "quillpost: package test ... refused: quillpost is installed already, and the test would purge it" >&2
  exit 1
fi
if [ -e /etc/quillpost ]; then
  echo "quillpost: package test ... refused: /etc/quillpost exists, and the test would remove it" >&2
  exit 1
fi
"$root/scripts/install-deps.sh" lintian dpkg-dev python3-aiosmtpd cmake g++ make pkgconf

work="$build/package-test"
rm -rf "$work"
mkdir -p "$work/recipes" "$work/home"
background=()
cleanup() {
  for pid in "${background[@]}"; do
    kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if dpkg-query -W -f='${Status}' quillpost 2>/dev/null | grep -q "installed"; then
    dpkg --purge quillpost >>"$QUILLPOST_LOG" 2>&1 || true
  fi
  # It was not there before the test (checked above).
  rm -rf /etc/quillpost
  rm -rf "$work"
}
trap cleanup EXIT

# A clean environment: no variable of this shell, Debian's default PATH.
clean_env=(env -i HOME="$work/home" PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8)
deb_name=""

qp_begin "reading the README's recipes"
"$root/tests/package/readme_recipes.py" "$root/README.md" "$work/recipes" >"$work/recipes.list" 2>>"$QUILLPOST_LOG" ||
  qp_failed
qp_done "$(wc -l <"$work/recipes.list") recipes"

received() { grep -c '^---------- MESSAGE FOLLOWS ----------$' "$work/server.out" 2>/dev/null || true; }

while read -r number kind name; do
  block="$work/recipes/$number.$kind"
  case "$kind" in
    file)
      cp "$block" "$work/$name"
      ;;
    run|tree)
      first="$(grep -v '^#' "$block" | head -n 1)"
      qp_begin "recipe $number: ${first:0:60}"
      { echo "== recipe $number ($kind):"; cat "$block"; } >>"$QUILLPOST_LOG"
      dir="$work"
      [ "$kind" = tree ] && dir="$root"
      before="$(received)"
      if (cd "$dir" && "${clean_env[@]}" bash -e "$block") >>"$QUILLPOST_LOG" 2>&1; then
        sleep 0.5
        after="$(received)"
        if [ "${after:-0}" -gt "${before:-0}" ]; then qp_done "ok, the server received it"; else qp_done; fi
      else
        qp_failed
      fi
      ;;
    background)
      qp_begin "recipe $number: $(head -n 1 "$block")"
      # Unbuffered, so that what the server prints is there to check at once.
      (cd "$work" && exec setsid "${clean_env[@]}" PYTHONUNBUFFERED=1 bash -e "$block") >"$work/server.out" 2>&1 &
      background+=("$!")
      for _ in $(seq 100); do
        ss -ltn | grep -q ':8025 ' && break
        sleep 0.1
      done
      ss -ltn | grep -q ':8025 ' || { cat "$work/server.out" >>"$QUILLPOST_LOG"; qp_failed "not listening on port 8025"; }
      qp_done "listening"
      ;;
  esac
  # After the install, the package as installed: its files, and the checks
  # of Debian's tools.
  if [ -z "$deb_name" ] && dpkg-query -W -f='${Status}' quillpost 2>/dev/null | grep -q "install ok installed"; then
    # Where the README's recipe builds it: the build folder of the tree.
    deb_name="$(ls "$root"/build/quillpost_*_"$(dpkg --print-architecture)".deb)"
    dpkg -L quillpost >"$work/files"
    qp_step "dpkg-deb --info $(basename "$deb_name")" dpkg-deb --info "$deb_name"
    qp_step "lintian $(basename "$deb_name")" lintian --fail-on error "$deb_name"
    qp_begin "the registry file"
    mode="$(stat -c '%a %U' /etc/quillpost/registry.reg)"
    grep -q '^\[HKEY_CLASSES_ROOT\\Quillpost.Message\]' /etc/quillpost/registry.reg || qp_failed "no registration"
    [ "$mode" = "600 root" ] || qp_failed "mode and owner $mode"
    qp_done "registered, mode 0600"
  fi
done <"$work/recipes.list"

qp_begin "what the server received"
{ echo "== the server's output:"; cat "$work/server.out"; } >>"$QUILLPOST_LOG"
for subject in "Hello from qpmail" "Hello from Python" "Hello from C++ (CMake)" "Hello from C++ (pkg-config)" \
               "Hello from qpmail-sendmail"; do
  grep -qxF "Subject: $subject" "$work/server.out" || qp_failed "no message with the subject \"$subject\""
done
qp_done "$(received) messages"

# Nothing of the package may be left: its files (but folders that other
# packages share) and /etc/quillpost.
check_gone() {
  local left=()
  while read -r path; do
    [ "$path" = "/." ] && continue
    [ -e "$path" ] || [ -L "$path" ] || continue
    [ -d "$path" ] && [ ! -L "$path" ] && dpkg -S "$path" >/dev/null 2>&1 && continue
    left+=("$path")
  done <"$work/files"
  [ -e /etc/quillpost ] && left+=(/etc/quillpost)
  if [ ${#left[@]} -gt 0 ]; then
    echo "left behind: ${left[*]}" >>"$QUILLPOST_LOG"
    return 1
  fi
}
installed() { dpkg-query -W -f='${Status}' quillpost 2>/dev/null | grep -q "installed"; }

qp_begin "after the README's purge"
[ -n "$deb_name" ] || qp_failed "the recipes never installed the package"
installed && qp_failed "still installed"
check_gone || qp_failed "files left behind"
qp_done "nothing left"

# The purge keeps /etc/quillpost when the administrator's settings are in it
# (without the component's own keys), and removes it otherwise.
qp_begin "purging with settings of the administrator's"
{
  dpkg -i "$deb_name"
  printf '\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost\\Servers\\mail.example.com]\r\n"Security"="tls"\r\n' \
    >>/etc/quillpost/registry.reg
  dpkg --purge quillpost
} >>"$QUILLPOST_LOG" 2>&1 || qp_failed
[ -f /etc/quillpost/registry.reg ] || qp_failed "/etc/quillpost was removed"
grep -q 'Servers\\mail.example.com' /etc/quillpost/registry.reg || qp_failed "the settings are gone"
if grep -q 'CLSID\|Quillpost\.Message' /etc/quillpost/registry.reg; then qp_failed "the component is still registered"; fi
rm -rf /etc/quillpost
qp_done "kept, without the component's keys"
qp_begin "purging without"
{ dpkg -i "$deb_name" && dpkg --purge quillpost; } >>"$QUILLPOST_LOG" 2>&1 || qp_failed
check_gone || qp_failed "files left behind"
qp_done "nothing left"
