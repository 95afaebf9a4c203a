#!/usr/bin/python3
"""qpmail through TLS and a login, against Debian's aiosmtpd.

Makes a test certificate authority and server certificates with openssl,
starts aiosmtpd servers on loopback (STARTTLS required with AUTH, implicit
TLS, no STARTTLS, IPv6) and a small peer that refuses EHLO, and runs the
qpmail binary named on the command line against them, one table row a case.
Ends with "N passed, M failed"; the exit status is 0 only when all passed.

Usage: /usr/bin/python3 e2e_tls.py PATH/TO/qpmail
"""

import base64
import logging
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import traceback

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

sys.dont_write_bytecode = True  # nothing left in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_support import free_port  # noqa: E402

USER, PASSWORD = "ann", "s3cret-Pa55"


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_certificates(folder):
    """A CA, a certificate for localhost/127.0.0.1/::1, one for another name, and one that names
    localhost in its subject only."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "2", "-subj", "/CN=Quillpost Test CA", cwd=folder)
    for name, subject, extension in (("good", "good", "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1"),
                                     ("wrong", "wrong", "subjectAltName=DNS:wrong.example"),
                                     ("subject-only", "localhost", "extendedKeyUsage=serverAuth")):
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.csr",
                "-subj", f"/CN={subject}", cwd=folder)
        with open(os.path.join(folder, f"{name}.ext"), "w") as f:
            f.write(extension + "\n")
        openssl("x509", "-req", "-in", f"{name}.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                "-out", f"{name}.pem", "-days", "2", "-extfile", f"{name}.ext", cwd=folder)


class Handler:
    def __init__(self):
        self.messages, self.mail_from_seen = [], 0

    async def handle_MAIL(self, server, session, envelope, address, options):
        self.mail_from_seen += 1
        envelope.mail_from = address
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.messages.append((envelope, session.authenticated, bool(session.ssl)))
        return "250 queued"


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = isinstance(auth_data, LoginPassword) and auth_data.login == USER.encode() \
        and auth_data.password == PASSWORD.encode()
    return AuthResult(success=ok)


def context(folder, name):
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(os.path.join(folder, f"{name}.pem"), os.path.join(folder, f"{name}.key"))
    return ctx


def refusing_ehlo_server():
    """Greets, answers EHLO with 502 and HELO with 250, then closes; records the commands."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    commands = []

    def serve():
        while True:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            with conn:
                conn.sendall(b"220 old server\r\n")
                data = b""
                while True:
                    chunk = conn.recv(4096)
                    if not chunk:
                        break
                    data += chunk
                    while b"\r\n" in data:
                        line, data = data.split(b"\r\n", 1)
                        commands.append(line.decode())
                        reply = b"502 what?\r\n" if line.startswith(b"EHLO") else b"250 ok\r\n"
                        if line.startswith(b"data"):
                            reply = b"354 go\r\n"
                        conn.sendall(reply)
    threading.Thread(target=serve, daemon=True).start()
    return listener, commands


def main():
    qpmail = os.path.abspath(sys.argv[1])
    # The servers report the handshakes that qpmail refuses; those are expected.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="qpmail-tls-") as folder:
        make_certificates(folder)
        ca = os.path.join(folder, "ca.pem")
        password_file = os.path.join(folder, "password")
        with open(os.open(password_file, os.O_WRONLY | os.O_CREAT, 0o600), "w") as f:
            f.write(PASSWORD + "\n")
        trace = os.path.join(folder, "trace.log")

        servers = {}
        def start(name, host="127.0.0.1", **kwargs):
            handler = Handler()
            port = free_port(socket.AF_INET6 if ":" in host else socket.AF_INET, host)
            controller = Controller(handler, hostname=host, port=port, **kwargs)
            controller.start()
            servers[name] = (controller, handler, port)

        start("starttls", tls_context=context(folder, "good"), require_starttls=True,
              authenticator=authenticator, auth_require_tls=True)
        start("login-only", tls_context=context(folder, "good"), require_starttls=True,
              authenticator=authenticator, auth_require_tls=True, auth_exclude_mechanism=["PLAIN"])
        start("implicit", ssl_context=context(folder, "good"))
        start("wrong-name", tls_context=context(folder, "wrong"), require_starttls=True)
        start("subject-only", tls_context=context(folder, "subject-only"), require_starttls=True)
        start("plain", authenticator=authenticator, auth_require_tls=False)
        try:
            start("ipv6", host="::1")
        except OSError:
            pass
        old, old_commands = refusing_ehlo_server()
        servers["old"] = (None, None, old.getsockname()[1])

        registry = os.path.join(folder, "registry.reg")
        with open(registry, "w") as f:
            f.write("Windows Registry Editor Version 5.00\n\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost\\Servers\\127.0.0.1]\n"
                    f'"Security"="starttls"\n"UserName"="{USER}"\n"Password"="{PASSWORD}"\n'
                    f'"CAFile"="{ca}"\n')

        auth = ["--user", USER, "--password-file", password_file]
        # name, server, extra arguments, environment, expected exit, expected error number,
        # whether the message must arrive authenticated over TLS
        cases = [
            ("STARTTLS and AUTH PLAIN", "starttls", ["--security", "starttls", "--ca-file", ca] + auth, {}, 0, None, True),
            ("STARTTLS and AUTH LOGIN", "login-only", ["--security", "starttls", "--ca-file", ca] + auth, {}, 0, None, True),
            ("password from the environment", "starttls", ["--security", "starttls", "--ca-file", ca, "--user", USER],
             {"QPMAIL_PASSWORD": PASSWORD}, 0, None, True),
            ("implicit TLS", "implicit", ["--security", "tls", "--ca-file", ca], {}, 0, None, False),
            ("may: STARTTLS when offered", "starttls", ["--security", "may", "--ca-file", ca] + auth, {}, 0, None, True),
            ("may: plain when not offered", "plain", ["--security", "may"], {}, 0, None, False),
            ("may: an untrusted certificate is no reason to fall back", "starttls", ["--security", "may"], {}, 1, 9982, None),
            ("unchecked certificate when asked", "wrong-name", ["--security", "starttls", "--insecure"], {}, 0, None, False),
            ("untrusted without the CA file", "starttls", ["--security", "starttls"] + auth, {}, 1, 9982, None),
            ("certificate for another name", "wrong-name", ["--security", "starttls", "--ca-file", ca], {}, 1, 9982, None),
            # RFC 6125 6.4.4: a name only in the subject's common name names no server.
            ("localhost named in the subject only", "subject-only", ["--security", "starttls", "--ca-file", ca], {}, 1,
             9982, None),
            ("STARTTLS missing while required", "plain", ["--security", "starttls", "--ca-file", ca], {}, 1, 9980, None),
            ("credentials refused over plain text", "plain", auth, {}, 1, 9984, None),
            ("EHLO refused while STARTTLS required", "old", ["--security", "starttls"], {}, 1, 9980, None),
            ("settings from the registry", "starttls", [], {"QUILLPOST_REGISTRY": registry}, 0, None, True),
            ("IPv6 loopback", "ipv6", [], {}, 0, None, False),
        ]
        for name, server, args, env, status, number, secure in cases:
            try:
                if server not in servers:
                    print(f"skip {name}: no such server here")
                    continue
                controller, handler, port = servers[server]
                mail_from_before = handler.mail_from_seen if handler else 0
                host = {"ipv6": "::1", "subject-only": "localhost"}.get(server, "127.0.0.1")
                if os.path.exists(trace):
                    os.remove(trace)
                full_env = dict(os.environ, **env)
                if "QPMAIL_PASSWORD" not in env:
                    full_env.pop("QPMAIL_PASSWORD", None)
                result = subprocess.run(
                    [qpmail, "--server", host, "--port", str(port), "--timeout", "10", "--from", "ann@example.com",
                     "--to", "bob@example.com", "--subject", name, "--trace", trace] + args,
                    capture_output=True, timeout=60, env=full_env)
                stderr = result.stderr.decode(errors="replace")
                assert result.returncode == status, f"exit {result.returncode}: {stderr}"
                if number is not None:
                    assert stderr.startswith(f"qpmail: error {number}: "), stderr
                with open(trace, "rb") as f:
                    traced = f.read()
                for secret in (PASSWORD.encode(), base64.b64encode(PASSWORD.encode()),
                               base64.b64encode(b"\0" + USER.encode() + b"\0" + PASSWORD.encode())):
                    assert secret not in traced, "a secret reached the trace"
                if handler is not None and number in (9980, 9984, 9982):
                    assert handler.mail_from_seen == mail_from_before, "MAIL FROM went out"
                if server == "old":
                    assert not any(c.startswith("MAIL") for c in old_commands), old_commands
                if secure is not None:
                    envelope, authenticated, over_tls = handler.messages.pop()
                    assert envelope.mail_from == "ann@example.com"
                    assert bool(authenticated) == secure and (over_tls or server == "implicit" or not secure), \
                        (authenticated, over_tls)
                passed += 1
                print(f"ok   {name}")
            except Exception:
                failed += 1
                print(f"FAIL {name}\n     " + traceback.format_exc().strip().replace("\n", "\n     "))
        for controller, _, _ in servers.values():
            if controller:
                controller.stop()
        old.close()
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
