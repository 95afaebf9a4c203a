#!/usr/bin/python3
"""XOAUTH2 with tokens that the component gets itself from an OAuth 2.0
token endpoint.

Starts, on loopback, an HTTPS token endpoint (http.server with ssl, its
certificate from a test CA made by openssl) that checks each form and issues
short-lived tokens, and an SMTP peer over TLS that accepts XOAUTH2 only with
a live token. Runs qpmail against them, one table row a case, and then, when
QP_SERVER names the component, a script through the Python client that is
configured by registry values alone and sends for longer than its tokens
live. Ends with "N passed, M failed"; the exit status is 0 only when all
passed.

Usage: /usr/bin/python3 e2e_oauth.py PATH/TO/qpmail
       /usr/bin/python3 e2e_oauth.py --wine WINEPREFIX PATH/TO/qpmail.exe
The second form runs the Windows build under Wine (WinHTTP, the Schannel
certificate check), without the cases that need file modes or the client.
"""

import base64
import http.server
import json
import os
import socket
import ssl
import stat
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import urllib.parse

sys.dont_write_bytecode = True  # nothing left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_tls import context, free_port, make_certificates, openssl  # noqa: E402

CLIENT_ID, SECRET, SCOPE = "qp-app", "cl13nt-S3cret-value", "https://mail.example/.default"
USER = "box@example.org"


class Endpoint:
    """The token endpoint's state: valid refresh tokens, issued tokens, requests."""

    def __init__(self):
        self.lock = threading.Lock()
        self.requests = []          # the forms received, as dicts
        self.bodies = []            # every request body, as received
        self.refresh = {"rtok-first"}     # refresh tokens that are valid
        self.rotate = False         # issue a new refresh token with every answer
        self.expires_in = 3600
        self.live = {}              # access token -> time it expires
        self.issued = []            # every secret handed out (access and refresh tokens)
        self.count = 0

    def answer(self, form):
        with self.lock:
            self.requests.append(form)
            if form.get("client_id") != CLIENT_ID or form.get("client_secret") != SECRET:
                return 401, {"error": "invalid_client", "error_description": "Client authentication failed"}
            grant = form.get("grant_type")
            if grant == "client_credentials" and form.get("scope") != SCOPE:
                return 400, {"error": "invalid_scope", "error_description": "unknown scope"}
            body = {}
            if grant == "refresh_token":
                if form.get("refresh_token") not in self.refresh:
                    return 400, {"error": "invalid_grant", "error_description": "Token has been expired or revoked."}
                if self.rotate:
                    self.refresh.discard(form["refresh_token"])
                    body["refresh_token"] = "rtok-%d" % (len(self.requests) + 1)
                    self.refresh.add(body["refresh_token"])
                    self.issued.append(body["refresh_token"])
            elif grant != "client_credentials":
                return 400, {"error": "unsupported_grant_type"}
            self.count += 1
            token = "at-%d-%s" % (self.count, base64.b32encode(os.urandom(10)).decode())
            self.live[token] = time.monotonic() + self.expires_in
            self.issued.append(token)
            body.update(access_token=token, token_type="Bearer", expires_in=self.expires_in)
            return 200, body

    def is_live(self, token):
        with self.lock:
            return self.live.get(token, 0) > time.monotonic()

    def revoke(self, token):
        with self.lock:
            self.live.pop(token, None)


def start_endpoint(state, ssl_context):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            length = int(self.headers.get("Content-Length", 0))
            raw = self.rfile.read(length).decode()
            state.bodies.append(raw)
            form = {k: v[0] for k, v in urllib.parse.parse_qs(raw, keep_blank_values=True).items()}
            if self.headers.get("Content-Type") != "application/x-www-form-urlencoded" or self.path != "/token":
                status, body = 400, {"error": "invalid_request"}
            else:
                status, body = state.answer(form)
            data = json.dumps(body).encode()
            self.send_response(status)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            try:
                self.wfile.write(data)
            except OSError:
                pass  # a client that refused the endpoint has gone

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.socket = ssl_context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


class SmtpPeer:
    """Implicit TLS; EHLO offers only XOAUTH2; AUTH succeeds with a live token
    of the endpoint for USER. Records each connection's logins and messages."""

    def __init__(self, endpoint, ssl_context):
        self.endpoint, self.ctx = endpoint, ssl_context
        self.connections = []  # per connection: list of (token, accepted)
        self.delivered = 0
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.talk, args=(conn,), daemon=True).start()

    def talk(self, raw):
        logins = []
        self.connections.append(logins)
        try:
            conn = self.ctx.wrap_socket(raw, server_side=True)
        except (ssl.SSLError, OSError):
            raw.close()
            return
        with conn:
            f = conn.makefile("rb")
            conn.sendall(b"220 peer ready\r\n")
            authenticated = False
            for line in f:
                line = line.rstrip(b"\r\n").decode("latin-1")
                verb = line.split(" ")[0].upper()
                if verb == "EHLO":
                    conn.sendall(b"250-peer\r\n250 AUTH XOAUTH2\r\n")
                elif verb == "AUTH":
                    parts = line.split(" ")
                    grant = base64.b64decode(parts[2]).decode() if len(parts) == 3 else ""
                    fields = dict(p.split("=", 1) for p in grant.split("\x01") if "=" in p)
                    token = fields.get("auth", "").removeprefix("Bearer ")
                    authenticated = fields.get("user") == USER and self.endpoint.is_live(token)
                    logins.append((token, authenticated))
                    conn.sendall(b"235 2.7.0 accepted\r\n" if authenticated else b"535 5.7.8 token not accepted\r\n")
                elif verb in ("MAIL", "RCPT"):
                    conn.sendall(b"250 ok\r\n" if authenticated else b"530 5.7.0 authentication required\r\n")
                elif verb == "DATA":
                    conn.sendall(b"354 go on\r\n")
                    for body in f:
                        if body == b".\r\n":
                            break
                    self.delivered += 1
                    conn.sendall(b"250 queued\r\n")
                elif verb == "QUIT":
                    conn.sendall(b"221 bye\r\n")
                    return
                else:
                    conn.sendall(b"502 no\r\n")


def main():
    wine = sys.argv[1] == "--wine"
    qpmail = os.path.abspath(sys.argv[-1])
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="qp-oauth-") as folder:
        make_certificates(folder)
        # A certificate for localhost that no trusted authority issued.
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "self.key", "-out", "self.pem",
                "-days", "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                cwd=folder)
        ca = os.path.join(folder, "ca.pem")
        endpoint = Endpoint()
        good = start_endpoint(endpoint, context(folder, "good"))
        refused = Endpoint()
        untrusted = start_endpoint(refused, context(folder, "self"))
        peer = SmtpPeer(endpoint, context(folder, "good"))
        token_url = "https://localhost:%d/token" % good.server_address[1]

        def write(name, text, mode=0o600):
            path = os.path.join(folder, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, mode)
            return path

        secret_file = write("secret", SECRET + "\n")
        wrong_secret = write("wrong-secret", "nope\n")
        open_secret = write("open-secret", SECRET + "\n", 0o644)
        refresh_file = write("refresh", "rtok-first\n", 0o640)
        trace = os.path.join(folder, "trace.log")

        def qp(*extra, url=token_url, secret=secret_file, timeout="10"):
            if os.path.exists(trace):
                os.remove(trace)
            # Wine's Schannel matches no address entry of a certificate: a name there.
            args = [qpmail, "--server", "localhost" if wine else "127.0.0.1", "--port", str(peer.port), "--security", "tls", "--ca-file", ca,
                    "--user", USER, "--from", "web@example.org", "--to", "ann@example.org", "--timeout", timeout,
                    "--trace", trace, "--oauth-client-id", CLIENT_ID, "--oauth-client-secret-file", secret,
                    "--oauth-token-url", url, *extra]
            env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
            env["QUILLPOST_REGISTRY"] = os.path.join(folder, "empty.reg")
            if wine:
                args = ["/usr/lib/wine/wine64"] + [
                    "Z:" + a.replace("/", "\\") if a.startswith(folder) else a for a in args]
                env.update(WINEPREFIX=os.path.abspath(sys.argv[2]), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree=")
                env.pop("DISPLAY", None)
            run = subprocess.run(args, capture_output=True, text=True, timeout=60, env=env)
            text = open(trace).read() if os.path.exists(trace) else ""
            return run, text

        def no_secrets(*texts):
            for text in texts:
                for secret in [SECRET, "rtok-first", *endpoint.issued]:
                    assert secret not in text, "a secret in the output: %r" % text
                for line in text.splitlines():
                    assert not line.startswith("> AUTH") or line == "> AUTH XOAUTH2 ****", line

        def new_tokens(action):
            before = len(endpoint.requests)
            result = action()
            return result, endpoint.requests[before:]

        # Each case: name, function raising AssertionError on failure.
        def client_credentials():
            (run, text), asked = new_tokens(lambda: qp("--oauth-scope", SCOPE))
            assert run.returncode == 0, run.stderr
            assert [a["grant_type"] for a in asked] == ["client_credentials"] and asked[0]["scope"] == SCOPE, asked
            assert peer.connections[-1][-1][1], peer.connections[-1]
            assert "+ Requesting an OAuth token from " + token_url + " (client credentials)" in text, text
            assert run.stderr == "" or wine, run.stderr
            no_secrets(run.stderr, text)

        def open_secret_file_warns():
            run, text = qp("--oauth-scope", SCOPE, secret=open_secret)
            assert run.returncode == 0, run.stderr
            assert "warning: %s can be read by other users" % open_secret in run.stderr, run.stderr
            no_secrets(run.stderr, text)

        def refresh_token_kept():
            endpoint.rotate = False
            (run, text), asked = new_tokens(lambda: qp("--oauth-refresh-token-file", refresh_file))
            assert run.returncode == 0, run.stderr
            assert [(a["grant_type"], a["refresh_token"]) for a in asked] == [("refresh_token", "rtok-first")], asked
            assert open(refresh_file).read() == "rtok-first\n"
            no_secrets(run.stderr, text)

        def refresh_token_rotated():
            endpoint.rotate = True
            named = refresh_file if wine else os.path.join(folder, "refresh-link")
            if not wine:
                os.symlink(refresh_file, named)
            (run, text), asked = new_tokens(lambda: qp("--oauth-refresh-token-file", named))
            endpoint.rotate = False
            assert run.returncode == 0, run.stderr
            new = open(refresh_file).read().strip()
            assert new in endpoint.refresh and new != "rtok-first", new
            assert wine or stat.S_IMODE(os.stat(refresh_file).st_mode) == 0o640
            assert wine or os.path.islink(named)
            assert [f for f in os.listdir(folder) if ".new" in f] == []
            no_secrets(run.stderr, text)

        def explicit_token_wins():
            _, asked = new_tokens(lambda: qp("--oauth-scope", SCOPE))
            live = [t for t, ok in peer.connections[-1] if ok][-1]
            token_file = write("token", live + "\n")
            (run, _), asked = new_tokens(lambda: qp("--oauth-scope", SCOPE, "--oauth-token-file", token_file))
            assert run.returncode == 0 and asked == [], (run.stderr, asked)

        # Failures: extra arguments, options of qp, the text qpmail must print.
        closed = free_port()
        silent = socket.socket()  # takes connections, never says a word
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)
        failures = [
            ("invalid_client", ["--oauth-scope", SCOPE], dict(secret=wrong_secret),
             "error 9978: OAuth token request failed: invalid_client: Client authentication failed (HTTP 401)"),
            ("invalid_grant", ["--oauth-refresh-token-file", write("stale", "rt-stale\n")], {},
             "error 9978: OAuth token request failed: invalid_grant: Token has been expired or revoked. (HTTP 400)"),
            ("untrusted endpoint", ["--oauth-scope", SCOPE],
             dict(url="https://localhost:%d/token" % untrusted.server_address[1]),
             "error 9978: OAuth token request failed: the certificate of localhost is not trusted"),
            ("untrusted endpoint, --insecure", ["--oauth-scope", SCOPE, "--insecure"],
             dict(url="https://localhost:%d/token" % untrusted.server_address[1]),
             "error 9978: OAuth token request failed: the certificate of localhost is not trusted"),
            ("plain http", ["--oauth-scope", SCOPE], dict(url="http://localhost:%d/token" % good.server_address[1]),
             "error 9978: OAuth token request failed: the token URL must begin with https://"),
            ("unreachable", ["--oauth-scope", SCOPE], dict(url="https://127.0.0.1:%d/token" % closed),
             "error 9978: OAuth token request failed: cannot connect to 127.0.0.1"),
            ("time-out", ["--oauth-scope", SCOPE], dict(url="https://127.0.0.1:%d/token" % silent.getsockname()[1],
                                                         timeout="2"),
             "error 9978: OAuth token request failed: no answer from 127.0.0.1 within 2 seconds"),
            ("host not found", ["--oauth-scope", SCOPE], dict(url="https://no-such-host.invalid/token", timeout="5"),
             "error 9978: OAuth token request failed: host not found (no-such-host.invalid)"),
        ]

        def failure_case(extra, options, expected):
            def run_case():
                delivered = peer.delivered
                run, text = qp(*extra, **options)
                assert run.returncode == 1 and expected in run.stderr, run.stderr
                assert peer.delivered == delivered
                assert "+ Error 9978: " in text, text
                assert not any(SECRET in body for body in refused.bodies), refused.bodies
                no_secrets(run.stderr, text)
            return run_case

        cases = [("client credentials", client_credentials)]
        if not wine:
            cases.append(("open secret file", open_secret_file_warns))
        cases += [("refresh token", refresh_token_kept), ("refresh token rotated", refresh_token_rotated),
                 ("explicit token wins", explicit_token_wins)]
        # Wine's WinHTTP does not bound a TLS handshake that gets no answer by
        # the time-outs it was given (still waiting after a minute).
        cases += [(name, failure_case(extra, options, expected)) for name, extra, options, expected in failures
                  if not (wine and name == "time-out")]
        if os.environ.get("QP_SERVER") and not wine:
            cases.append(("script with registry values only", lambda: registry_script(folder, ca, token_url, peer,
                                                                                        endpoint)))
        for name, case in cases:
            try:
                case()
                passed += 1
                print("ok   " + name)
            except Exception:
                failed += 1
                print("FAIL " + name)
                traceback.print_exc(file=sys.stdout)
        good.shutdown()
        untrusted.shutdown()
        peer.listener.close()
        silent.close()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


SCRIPT = r'''
import os, sys, time, quillpost

def send():
    m = quillpost.CreateObject("Quillpost.Message")
    port = int(sys.argv[2])
    m.Server, m.Port, m.TimeOut = sys.argv[1], port - 65536 if port > 32767 else port, 10
    m.FromAddress = "web@example.org"
    m.Recipients.Add("ann@example.org")
    m.TextBody = "Hello.\r\n"
    m.send()

for step in sys.argv[3:]:
    if step == "wait":
        time.sleep(2.5)
    elif step == "revoke":
        print("revoke", flush=True)
        sys.stdin.readline()
    else:
        send()
print("sent")
'''


def registry_script(folder, ca, token_url, peer, endpoint):
    """An unchanged script, settings only in the registry: the token is kept
    across sends, renewed after it expires, asked again when revoked (on the
    same connection), and a rotated refresh token replaces the registry's."""
    registry = os.path.join(folder, "registry.reg")
    key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost\\Servers\\127.0.0.1]\n"
    common = key + ('"Security"="tls"\n"CAFile"="%s"\n"UserName"="%s"\n"OAuthTokenUrl"="%s"\n"OAuthClientId"="%s"\n'
                    '"OAuthClientSecret"="%s"\n' % (ca, USER, token_url, CLIENT_ID, SECRET))
    section = common + '"OAuthScope"="%s"\n\n' % SCOPE
    with open(registry, "w") as f:
        f.write("REGEDIT4\n\n" + section)
    os.chmod(registry, 0o640)
    env = dict(os.environ, QUILLPOST_REGISTRY=registry)
    env = {k: v for k, v in env.items() if "proxy" not in k.lower()}
    subprocess.run([os.environ["QP_REGSVR"], os.environ["QP_SERVER"]], check=True, env=env,
                   stdout=subprocess.DEVNULL)

    def script(*steps, revoke=None):
        before, connections = len(endpoint.requests), len(peer.connections)
        run = subprocess.Popen([sys.executable, "-c", SCRIPT, "127.0.0.1", str(peer.port), *steps], env=env,
                               text=True, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if revoke:
            assert run.stdout.readline() == "revoke\n"
            revoke()
            run.stdin.write("\n")
            run.stdin.flush()
        out, err = run.communicate(timeout=60)
        assert run.returncode == 0 and out.endswith("sent\n"), (out, err)
        assert err == "", err
        return endpoint.requests[before:], peer.connections[connections:]

    # Client credentials: one token for three sends.
    endpoint.expires_in = 3600
    asked, connections = script("send", "send", "send")
    assert len(asked) == 1 and len(connections) == 3, (asked, connections)
    assert len({logins[0][0] for logins in connections}) == 1 and all(len(c) == 1 for c in connections)

    # Revoked while kept: refused once, a new token, the login again on the same connection.
    def revoke_last():
        endpoint.revoke(peer.connections[-1][-1][0])
    asked, connections = script("send", "revoke", "send", revoke=revoke_last)
    assert len(asked) == 2 and len(connections) == 2, (asked, connections)
    assert [ok for _, ok in connections[1]] == [False, True], connections[1]

    # Refresh token with rotation, tokens living 2 seconds: the script sends
    # for longer than a token lives, and each new refresh token replaces the
    # registry's.
    text = open(registry).read()
    with open(registry, "w") as f:
        f.write(text.replace(section, common + '"OAuthRefreshToken"="rtok-first"\n\n'))
    endpoint.rotate, endpoint.expires_in, endpoint.refresh = True, 2, {"rtok-first"}
    asked, connections = script("send", "wait", "send", "wait", "send")
    endpoint.rotate = False
    assert [a["grant_type"] for a in asked] == ["refresh_token"] * 3, asked
    assert asked[0]["refresh_token"] == "rtok-first" and len(connections) == 3, asked
    assert all([ok for _, ok in logins] == [True] for logins in connections), connections
    (current,) = endpoint.refresh
    text = open(registry).read()
    assert '"OAuthRefreshToken"="%s"' % current in text and "rtok-first" not in text, text
    assert stat.S_IMODE(os.stat(registry).st_mode) == 0o640

if __name__ == "__main__":
    sys.exit(main())
