#!/usr/bin/python3
"""TLS session resumption seen by a Python ssl server.

Makes a test CA and a certificate for 127.0.0.1 with openssl, serves TLS
on two ports from one server context (so that one port would accept the
other's session), and runs the probe named on the command line with a list
of connections per table row, all in one process. The server records for
each connection whether the client resumed a session; the row says which
connections must and must not have resumed. Ends with "N passed, M failed".

Usage: /usr/bin/python3 tls_resume.py PATH/TO/tls_resume_probe
"""

import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def make_certificates(folder):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "2", "-subj", "/CN=Quillpost Test CA", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "good.key", "-out", "good.csr",
            "-subj", "/CN=good", cwd=folder)
    with open(os.path.join(folder, "good.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", "good.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", "good.pem", "-days", "2", "-extfile", "good.ext", cwd=folder)
    # The same CA under another name: another trust setting.
    shutil.copy(os.path.join(folder, "ca.pem"), os.path.join(folder, "ca-copy.pem"))


class Server:
    """Accepts TLS connections on a port, writes a greeting, waits for the
    client's close and records (port, session_reused, clean close)."""

    def __init__(self, context, log):
        self.context, self.log = context, log
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.run, daemon=True).start()

    def run(self):
        while True:
            try:
                plain, _ = self.listener.accept()
            except OSError:
                return
            try:
                with self.context.wrap_socket(plain, server_side=True) as tls:
                    tls.settimeout(10)
                    tls.sendall(b"220 ready\r\n")
                    clean = tls.recv(100) == b""  # the close_notify
                    self.log.append((self.port, tls.session_reused, clean))
            except (OSError, ssl.SSLError) as e:
                self.log.append((self.port, None, str(e)))


def main():
    probe = sys.argv[1]
    folder = tempfile.mkdtemp(prefix="qp-resume-")
    try:
        make_certificates(folder)
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(os.path.join(folder, "good.pem"), os.path.join(folder, "good.key"))
        log = []
        one, two = Server(context, log), Server(context, log)
        ca, copy = os.path.join(folder, "ca.pem"), os.path.join(folder, "ca-copy.pem")
        tls12 = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls12.load_cert_chain(os.path.join(folder, "good.pem"), os.path.join(folder, "good.key"))
        tls12.maximum_version = ssl.TLSVersion.TLSv1_2
        old = Server(tls12, log)
        # Each row: connections (server, CA file or "-") made in one process,
        # whether each resumed, and any first argument of the probe's.
        rows = [
            ("the second connection resumes", [(one, ca), (one, ca), (one, ca)], [False, True, True]),
            ("TLS 1.2 session identifiers", [(old, ca), (old, ca)], [False, True]),
            ("another port is another server", [(one, ca), (two, ca)], [False, False]),
            ("an unchecked session never stands in for a check", [(one, "-"), (one, ca), (one, "-")],
             [False, False, True]),
            ("a checked session is not offered unchecked", [(one, ca), (one, "-")], [False, False]),
            ("another CA file is another trust setting", [(one, ca), (one, copy), (one, ca)],
             [False, False, True]),
            ("switched off, nothing is resumed", [(one, ca), (one, ca), (old, ca), (old, ca)],
             [False, False, False, False], "no-resume"),
        ]
        passed = failed = 0
        for name, connections, expected, *options in rows:
            log.clear()
            args = [probe, *options]
            for server, trust in connections:
                args += [str(server.port), trust]
            run = subprocess.run(args, capture_output=True, text=True, timeout=60)
            for _ in range(50):
                if len(log) >= len(connections):
                    break
                threading.Event().wait(0.1)
            got = [reused for _, reused, _ in log]
            clean = all(c is True for _, _, c in log)
            ports = [port for port, _, _ in log]
            ok = (run.returncode == 0 and got == expected and clean
                  and ports == [server.port for server, _ in connections])
            if ok:
                passed += 1
            else:
                failed += 1
                print(f"FAIL {name}: expected {expected}, got {log}; probe said {run.stdout!r} {run.stderr!r}")
        print(f"{passed} passed, {failed} failed")
        return 0 if failed == 0 else 1
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
