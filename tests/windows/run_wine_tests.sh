#!/bin/sh
# The Windows build under Wine: registers qpmailer.dll in a fresh prefix,
# reads its type library (embedded, and as registered), runs the VBScript
# smoke test against a local SMTP server, sends over STARTTLS to a second
# port of that server (refused, then trusted through a CA file), unregisters, and
# compares everything printed, and everything the server received, with
# expected.txt. Wine's cscript exits 0 even when a script fails, so the
# transcript is the verdict.
#
# Usage: tests/windows/run_wine_tests.sh [BUILD_DIR]   (default build/windows)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build/windows}" && pwd)
dll="$build/server/qpmailer.dll"
[ -f "$dll" ] || { echo "no $dll: build with 'cmake --preset windows && cmake --build --preset windows'" >&2; exit 2; }

wine=/usr/lib/wine/wine64
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDLLOVERRIDES="mscoree=" WINEDEBUG=-all
# A zone with summer time, so that the Date header's offset is checked
# against the zone's rules (by the server, from the same TZ).
export TZ=America/New_York
unset DISPLAY
server_pid=

cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    /usr/lib/wine/wineserver64 -k 2>/dev/null || true
    /usr/lib/wine/wineserver64 -w 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# The type library reader is built here: one file over the system's own
# automation library.
x86_64-w64-mingw32-g++-posix -municode -O1 -static -o "$work/typelib_check.exe" "$here/typelib_check.cpp" \
    -loleaut32 -lole32 -luuid

"$wine" wineboot -i >/dev/null 2>&1

# A certificate authority of the test's own, trusted only through the CA
# file, and two certificates from it: one for the server named localhost,
# one for another name.
ssl_() { openssl "$@" >/dev/null 2>&1; }
ssl_ req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.pem" -days 2 \
    -subj "/CN=Quillpost Wine Test CA"
for name in localhost wrong.example; do
    ssl_ req -newkey rsa:2048 -nodes -keyout "$work/$name.key" -out "$work/$name.csr" -subj "/CN=$name"
    printf 'subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\n' "$name" >"$work/$name.ext"
    ssl_ x509 -req -in "$work/$name.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
        -out "$work/$name.pem" -days 2 -extfile "$work/$name.ext"
done

# The server reads until its standard input closes: a fifo held open here.
# Its second and third ports require STARTTLS with the certificates above.
mkfifo "$work/hold"
/usr/bin/python3 "$here/smtp_recorder.py" "$work/received.txt" "$work/localhost.pem" "$work/localhost.key" \
    "$work/wrong.example.pem" "$work/wrong.example.key" <"$work/hold" >"$work/port" 2>"$work/server.log" &
server_pid=$!
exec 9>"$work/hold"
for _ in 1 2 3 4 5 6 7 8 9 10; do [ "$(wc -l <"$work/port")" -ge 3 ] && break; sleep 0.5; done
port=$(sed -n 1p "$work/port")
tls_port=$(sed -n 2p "$work/port")
wrong_port=$(sed -n 3p "$work/port")

{
    "$wine" regsvr32 /s "$(winpath "$dll")"
    echo "register: $?"
    "$wine" "$(winpath "$work/typelib_check.exe")" "$(winpath "$dll")"
    "$wine" reg add 'HKLM\SOFTWARE\Brackenfold\Quillpost\Servers\localhost' /v Security /d tls /f >/dev/null
    "$wine" reg add 'HKLM\SOFTWARE\Brackenfold\Quillpost\Servers\localhost' /v UserName /d someone /f >/dev/null
    "$wine" reg add 'HKLM\SOFTWARE\Brackenfold\Quillpost\Servers\localhost' /v Password /d secret /f >/dev/null
    key='HKLM\SOFTWARE\Brackenfold\Quillpost\Servers\127.1'
    "$wine" reg add "$key" /v UserName /d someone /f >/dev/null
    "$wine" reg add "$key" /v Password /d secret /f >/dev/null
    "$wine" reg add "$key" /v AllowPlainTextAuth /d True /f >/dev/null
    "$wine" cscript //nologo "$(winpath "$here/smoke.vbs")" "$port"
    # STARTTLS through localhost's key: refused while the test's CA is
    # known to nobody, accepted once the key names the CA file.
    "$wine" reg add 'HKLM\SOFTWARE\Brackenfold\Quillpost\Servers\localhost' /v Security /d starttls /f >/dev/null
    "$wine" cscript //nologo "$(winpath "$here/starttls.vbs")" "$tls_port" "without the CA file" 1
    "$wine" reg add 'HKLM\SOFTWARE\Brackenfold\Quillpost\Servers\localhost' /v CAFile /d "$(winpath "$work/ca.pem")" /f >/dev/null
    "$wine" cscript //nologo "$(winpath "$here/starttls.vbs")" "$tls_port" "with the CA file" 1
    # Some 130 KB: many records each way of the sealing.
    "$wine" cscript //nologo "$(winpath "$here/starttls.vbs")" "$tls_port" "of a large message" 2000
    # A certificate from the trusted CA, but for another name.
    "$wine" cscript //nologo "$(winpath "$here/starttls.vbs")" "$wrong_port" "to a server of another name" 1
    "$wine" regsvr32 /u /s "$(winpath "$dll")"
    echo "unregister: $?"
    "$wine" cscript //nologo "$(winpath "$here/unregistered.vbs")"
    exec 9>&-
    wait "$server_pid" 2>/dev/null || true
    server_pid=
    echo "--- received by the server ---"
    cat "$work/received.txt" 2>/dev/null || true
} 2>&1 | tr -d '\r' >"$work/actual.txt"

if diff -u "$here/expected.txt" "$work/actual.txt"; then
    echo "Wine smoke test passed"
else
    cp "$work/actual.txt" "$build/wine-transcript.txt"
    cat "$work/server.log" >&2
    echo "Wine smoke test FAILED: the transcript (kept as $build/wine-transcript.txt) differs from tests/windows/expected.txt" >&2
    exit 1
fi
