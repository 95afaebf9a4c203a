#!/usr/bin/python3
"""Sending speed over implicit TLS on loopback: stunnel in front of Postfix's
smtp-sink, so that the server is not the bottleneck.

1. One message with a 20 MiB attachment: Quillpost (bench_send, timed around
   `send`) against curl sending the same message, pre-encoded, through the
   same TLS endpoint. Best of five.
2. 1,000 small messages, one TLS conversation each: bench_send against
   Python's smtplib (SMTP_SSL) with the email package.

Prints every figure; the exit status is 1 when a target is missed.

Usage: bench/bench_tls.sh [BUILD_DIR]
"""

import os
import smtplib
import ssl
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_send  # noqa: E402  (the smtp-sink wrapper and the message the baselines send)

RUNS = 5
SMALL_COUNT = 1000


class Stunnel:
    """stunnel accepting TLS on a free port and passing the plain text on."""

    def __init__(self, folder, target_port):
        self.folder, self.target_port = folder, target_port

    def __enter__(self):
        # An ECDSA key, and session tickets switched back on (stunnel turns
        # them off): a mail relay worth the name resumes sessions cheaply.
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-keyout", "key.pem",
                        "-out", "cert.pem", "-days", "1", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1"], cwd=self.folder, check=True, capture_output=True)
        self.ca = os.path.join(self.folder, "cert.pem")
        self.port = bench_send.free_port()
        config = os.path.join(self.folder, "stunnel.conf")
        with open(config, "w") as f:
            f.write(f"foreground = yes\npid =\ndebug = 0\noptions = -NO_TICKET\n[smtps]\naccept = 127.0.0.1:{self.port}\n"
                    f"connect = 127.0.0.1:{self.target_port}\ncert = {self.ca}\n"
                    f"key = {os.path.join(self.folder, 'key.pem')}\n")
        self.process = subprocess.Popen(["stunnel4", config], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                ctx = ssl.create_default_context(cafile=self.ca)
                with smtplib.SMTP_SSL("127.0.0.1", self.port, context=ctx, timeout=5):
                    return self
            except OSError:
                time.sleep(0.1)
        raise RuntimeError("stunnel did not start")

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait()


def time_curl(port, ca, message):
    start = time.perf_counter()
    subprocess.run(["curl", "-s", "--url", f"smtps://127.0.0.1:{port}", "--cacert", ca,
                    "--mail-from", "ann@example.com", "--mail-rcpt", "bob@example.com", "--upload-file", message],
                   check=True)
    return time.perf_counter() - start


def time_smtplib_many(port, ca, count):
    start = time.perf_counter()
    for _ in range(count):
        ctx = ssl.create_default_context(cafile=ca)
        with smtplib.SMTP_SSL("127.0.0.1", port, context=ctx, timeout=60) as smtp:
            smtp.send_message(bench_send.build_email())
    return time.perf_counter() - start


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("QUILLPOST_BUILD_DIR",
                                                                  os.path.join(bench_send.ROOT, "build"))
    bench = os.path.join(build, "bench", "bench_send")
    missed = []

    def verdict(ok, target):
        if not ok:
            missed.append(target)
        return f"{'met' if ok else 'MISSED'} (target: {target})"

    with tempfile.TemporaryDirectory(prefix="qp-tls-bench-") as folder, bench_send.SmtpSink() as sink, \
            Stunnel(folder, sink.port) as tunnel:
        os.environ["QP_BENCH_CA_FILE"] = tunnel.ca
        print(f"stunnel on 127.0.0.1:{tunnel.port} in front of smtp-sink on 127.0.0.1:{sink.port}\n")
        big = bench_send.random_file(os.path.join(folder, "figures.bin"), 20 * bench_send.MiB)
        message = os.path.join(folder, "message.eml")
        with open(message, "wb") as f:
            f.write(bench_send.build_email(big).as_bytes())
        quill = curl = float("inf")
        for _ in range(RUNS):
            quill = min(quill, bench_send.run_bench(bench, "big", tunnel.port, big)["seconds"])
            curl = min(curl, time_curl(tunnel.port, tunnel.ca, message))
        print(f"One message with a 20 MiB attachment over TLS, best of {RUNS}:")
        print(f"  Quillpost (bench_send)       {quill:8.3f} s")
        print(f"  curl                         {curl:8.3f} s")
        print(f"  Quillpost / curl             {quill / curl:8.2f}x  " + verdict(quill <= curl * 1.05, "at most curl's time"))

        quill = bench_send.run_bench(bench, "many", tunnel.port, SMALL_COUNT)["seconds"]
        python = time_smtplib_many(tunnel.port, tunnel.ca, SMALL_COUNT)
        print(f"\n{SMALL_COUNT} small messages over TLS, one conversation each:")
        print(f"  Quillpost (bench_send)       {quill:8.3f} s  ({SMALL_COUNT / quill:7.0f} messages/s)")
        print(f"  smtplib + email              {python:8.3f} s  ({SMALL_COUNT / python:7.0f} messages/s)")
        print(f"  rate Quillpost / smtplib     {python / quill:8.2f}x  " + verdict(python / quill >= 3, "at least 3x"))

    print("\nall targets met" if not missed else f"\ntargets missed: {', '.join(missed)}")
    return 0 if not missed else 1


if __name__ == "__main__":
    sys.exit(main())
