#!/bin/sh
# The Windows build under Wine: registers qpmailer.dll in a fresh prefix,
# reads its type library (embedded, and as registered), drives the object
# model from VBScript and from an early-bound C++ client, sends to a local
# SMTP server (plainly, after a login, from a page whose context answers the
# server's name, and over STARTTLS: refused, then trusted through a CA file,
# twice from one process to see whether the session is resumed and whether
# each connection ends with the close_notify alert, by name and by address),
# unregisters, loads the uninstall library and calls its hooks, and compares
# everything printed, and everything the server received, with expected.txt.
# Wine's cscript exits 0 even when a script fails, so the transcript is the
# verdict.
#
# Usage: tests/windows/run_wine_tests.sh [BUILD_DIR]   (default build/windows)
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build/windows}" && pwd)
dll="$build/server/qpmailer.dll"
uninst="$build/uninstall/uninstQuillpost.dll"
for f in "$dll" "$uninst"; do
    [ -f "$f" ] || { echo "no $f: build with 'cmake --preset windows && cmake --build --preset windows'" >&2; exit 2; }
done

wine=/usr/lib/wine/wine64
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDLLOVERRIDES="mscoree=" WINEDEBUG=-all
# Wine's server keeps its socket folder under TMPDIR: inside the work folder,
# it goes with it.
mkdir "$work/tmp"
export TMPDIR="$work/tmp"
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
# Every Wine program runs under a time limit, so that a hang fails the test
# instead of stalling it. Scripts start cscript.exe itself, not through the
# shell's program search, which has failed to launch it now and then.
run() { timeout 300 "$wine" "$@"; }
script() { name=$1; shift; run 'C:\windows\system32\cscript.exe' //nologo "$(winpath "$here/$name")" "$@"; }
imports() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | xargs; }

# The type library reader is built here: one file over the system's own
# automation library.
x86_64-w64-mingw32-g++-posix -municode -O1 -static -o "$work/typelib_check.exe" "$here/typelib_check.cpp" \
    -loleaut32 -lole32 -luuid
# The early-bound client: its declarations and identifiers are written by
# widl from the build's IDL, so it calls the slots the type library declares.
x86_64-w64-mingw32-widl -h -u -I/usr/include/wine/wine/windows -L/usr/lib/x86_64-linux-gnu/wine/x86_64-windows \
    -H "$work/quillpost.h" -U "$work/quillpost_i.c" "$build/server/quillpost.idl"
x86_64-w64-mingw32-g++-posix -std=c++20 -Wall -Wextra -municode -O1 -static -I"$work" -o "$work/early_bound.exe" \
    "$here/early_bound.cpp" "$work/quillpost_i.c" -loleaut32 -lole32 -luuid
x86_64-w64-mingw32-g++-posix -std=c++20 -Wall -Wextra -O1 -static -o "$work/uninst_check.exe" "$here/uninst_check.cpp" -lole32

run wineboot -i >/dev/null 2>&1

# A certificate authority of the test's own, trusted only through the CA
# file, and three certificates from it: one for the server named localhost,
# one for another name, and one that names localhost in its subject only.
ssl_() { openssl "$@" >/dev/null 2>&1; }
ssl_ req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.pem" -days 2 \
    -subj "/CN=Quillpost Wine Test CA"
for name in localhost wrong.example subject-only; do
    if [ "$name" = subject-only ]; then
        ssl_ req -newkey rsa:2048 -nodes -keyout "$work/$name.key" -out "$work/$name.csr" -subj "/CN=localhost"
        printf 'extendedKeyUsage=serverAuth\n' >"$work/$name.ext"
    else
        ssl_ req -newkey rsa:2048 -nodes -keyout "$work/$name.key" -out "$work/$name.csr" -subj "/CN=$name"
        printf 'subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\n' "$name" >"$work/$name.ext"
    fi
    ssl_ x509 -req -in "$work/$name.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial \
        -out "$work/$name.pem" -days 2 -extfile "$work/$name.ext"
done

# The server reads until its standard input closes: a fifo held open here.
# Its second to fourth ports require STARTTLS with the certificates above.
mkfifo "$work/hold"
/usr/bin/python3 "$here/smtp_recorder.py" "$work/received.txt" "$work/localhost.pem" "$work/localhost.key" \
    "$work/wrong.example.pem" "$work/wrong.example.key" "$work/subject-only.pem" "$work/subject-only.key" \
    <"$work/hold" >"$work/port" 2>"$work/server.log" &
server_pid=$!
exec 9>"$work/hold"
# Up to 30 s for the four ports: a busy machine starts Python slowly.
for _ in $(seq 60); do [ "$(wc -l <"$work/port")" -ge 4 ] && break; sleep 0.5; done
[ "$(wc -l <"$work/port")" -ge 4 ] || { cat "$work/server.log" >&2; echo "the SMTP server did not start" >&2; exit 1; }
port=$(sed -n 1p "$work/port")
tls_port=$(sed -n 2p "$work/port")
wrong_port=$(sed -n 3p "$work/port")
subject_only_port=$(sed -n 4p "$work/port")

{
    echo "qpmailer.dll imports: $(imports "$dll")"
    echo "uninstQuillpost.dll imports: $(imports "$uninst")"
    run regsvr32 /s "$(winpath "$dll")"
    echo "register: $?"
    run "$(winpath "$work/typelib_check.exe")" "$(winpath "$dll")"
    script objects.vbs
    key='HKLM\SOFTWARE\Brackenfold\Quillpost\Servers\localhost'
    run reg add "$key" /v Security /d tls /f >/dev/null
    run reg add "$key" /v UserName /d someone /f >/dev/null
    run reg add "$key" /v Password /d secret /f >/dev/null
    login='HKLM\SOFTWARE\Brackenfold\Quillpost\Servers\127.1'
    run reg add "$login" /v UserName /d someone /f >/dev/null
    run reg add "$login" /v Password /d secret /f >/dev/null
    run reg add "$login" /v AllowPlainTextAuth /d True /f >/dev/null
    script smoke.vbs "$port"
    run "$(winpath "$work/early_bound.exe")" "$port"
    # The product key asks for senders of the page's own domain.
    run reg add 'HKLM\SOFTWARE\Brackenfold\Quillpost' /v RequireLocalSender /d True /f >/dev/null
    script page.vbs "$port"
    run reg delete 'HKLM\SOFTWARE\Brackenfold\Quillpost' /v RequireLocalSender /f >/dev/null
    # STARTTLS through localhost's key: refused while the test's CA is
    # known to nobody, accepted once the key names the CA file.
    run reg add "$key" /v Security /d starttls /f >/dev/null
    script starttls.vbs "$tls_port" "without the CA file" 1
    run reg add "$key" /v CAFile /d "$(winpath "$work/ca.pem")" /f >/dev/null
    script starttls.vbs "$tls_port" "with the CA file" 1
    # Two sends from one process, with the one credentials handle and the
    # same target name: the server logs whether the second resumed the
    # first's session from Schannel's cache. Wine's Schannel (GnuTLS
    # underneath, never handed an earlier session) makes a new session each
    # time, and the transcript records that; Windows' own cache would resume.
    script starttls.vbs "$tls_port" "twice from one process" 1 2
    # The same server by its address: Schannel gets the address as the
    # target, which keys its session cache. Windows' Schannel sends no
    # server name for an address; Wine's (GnuTLS underneath) sends the
    # address, and the transcript records that. Under Wine a certificate
    # that names 127.0.0.1 among its addresses is still refused for
    # 127.0.0.1, so this key skips the check. After every STARTTLS
    # connection the server logs whether the client closed TLS with its
    # close_notify: each send does, a refused certificate does not.
    address='HKLM\SOFTWARE\Brackenfold\Quillpost\Servers\127.0.0.1'
    run reg add "$address" /v Security /d starttls /f >/dev/null
    run reg add "$address" /v VerifyCertificate /d False /f >/dev/null
    script starttls.vbs "$tls_port" "to the address, twice from one process" 1 2 127.0.0.1
    run reg delete "$address" /f >/dev/null
    # Some 130 KB: many records each way of the sealing.
    script starttls.vbs "$tls_port" "of a large message" 2000
    # A certificate from the trusted CA, but for another name.
    script starttls.vbs "$wrong_port" "to a server of another name" 1
    # Names are looked for in the subject alternative names only.
    script starttls.vbs "$subject_only_port" "to a server named in the subject only" 1
    # Another version of the type library, registered by someone else,
    # outlives the unregistration; this one's does not.
    typelib='HKCR\TypeLib\{BEEF4987-D50D-4052-BB1C-CD8A6FAB64A1}'
    run reg add "$typelib\2.0" /ve /d "Quillpost 2" /f >/dev/null
    run regsvr32 /u /s "$(winpath "$dll")"
    echo "unregister: $?"
    for version in 1.0 2.0; do
        if run reg query "$typelib\\$version" >/dev/null 2>&1; then state=kept; else state=removed; fi
        echo "type library $version after unregister: $state"
    done
    script unregistered.vbs
    # No web server here: the removal binds nothing and reports nothing.
    run "$(winpath "$work/uninst_check.exe")" "$(winpath "$uninst")"
    echo "uninst_check: $?"
    # qpmail warns about a password file that others may read (Wine gives a
    # file the access list of its mode); nothing listens on port 1.
    printf 'secret\n' >"$work/open-password" && chmod 644 "$work/open-password"
    printf 'secret\n' >"$work/own-password" && chmod 600 "$work/own-password"
    for file in open-password own-password; do
        status=0
        (cd "$work" && run "$(winpath "$build/tools/qpmail.exe")" --server 127.0.0.1 --port 1 --from a@example.com \
            --to b@example.com --user someone --password-file "$file") || status=$?
        echo "qpmail with $file: $status"
    done
    # DKIM with the system's cryptography: the record of an RSA key as
    # openssl writes the public key, a message signed because the registry
    # names a key for the sender's domain (verified by python3-dkim), and an
    # Ed25519 key refused.
    qpmail="$(winpath "$build/tools/qpmail.exe")"
    ssl_ genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/dkim.pem"
    ssl_ genpkey -algorithm ED25519 -out "$work/ed25519.pem"
    record=$(run "$qpmail" --dkim-print-record --dkim-key "$(winpath "$work/dkim.pem")" | tr -d '\r')
    if [ "$record" = "v=DKIM1; k=rsa; p=$(openssl pkey -in "$work/dkim.pem" -pubout -outform DER | base64 -w0)" ]; then
        echo "dkim record: as openssl writes it"
    else
        echo "dkim record: $record"
    fi
    dkim='HKLM\SOFTWARE\Brackenfold\Quillpost\Dkim\example.com'
    run reg add "$dkim" /v Selector /d wine /f >/dev/null
    run reg add "$dkim" /v KeyFile /d "$(winpath "$work/dkim.pem")" /f >/dev/null
    printf 'Signed under Wine.\r\n' >"$work/body.txt"
    # Standard output is in text mode: each line break gains a carriage return.
    run "$qpmail" --dry-run --from ann@example.com --to bob@example.org --text "$(winpath "$work/body.txt")" |
        sed 's/\r\r$/\r/' >"$work/signed.eml"
    run reg delete "$dkim" /f >/dev/null
    /usr/bin/python3 -c 'import dkim, sys
print("dkim signature:", "pass" if dkim.verify(open(sys.argv[1], "rb").read(),
      dnsfunc=lambda name, timeout=5: sys.argv[2].encode()) else "fail")' "$work/signed.eml" "$record"
    run "$qpmail" --dkim-print-record --dkim-key "$(winpath "$work/ed25519.pem")" 2>&1 | sed 's/ in .*: / in KEY: /'
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
