#!/usr/bin/python3
"""Sending speed over implicit TLS on loopback: stunnel in front of Postfix's
smtp-sink, so that the server is not the bottleneck.

1. One message with a 20 MiB attachment: Quillpost (bench_send, timed around
   `send`) against curl sending the same message, pre-encoded, through the
   same TLS endpoint. Best of five.
2. 1,000 small messages, one TLS conversation each: bench_send against
   Python's smtplib (SMTP_SSL) with the email package.
3. The same 1,000 `send` calls (KeepAlive 0) with TLS session resumption as
   built against switched off (bench_send many-full): the time a resumed
   handshake saves. Best of three, alternating. A second stunnel, logging
   each handshake, counts the sessions resumed in each run, so that the
   figure stands only when resumption is seen to happen.

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

sys.dont_write_bytecode = True  # nothing left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_send  # noqa: E402  (the smtp-sink wrapper and the message the baselines send)

RUNS = 5
SMALL_COUNT = 1000
RESUMPTION_RUNS = 3


class Stunnel:
    """stunnel accepting TLS on a free port and passing the plain text on."""

    def __init__(self, folder, target_port, log=None):
        # With a log, stunnel writes a line per handshake to that file,
        # saying whether the client resumed a session.
        self.folder, self.target_port, self.log = folder, target_port, log

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
            # Not to syslog too: without a syslog daemon, each line would go
            # to the console, slowly.
            f.write(f"foreground = yes\nsyslog = no\npid =\ndebug = {'info' if self.log else 0}\n"
                    f"options = -NO_TICKET\n"
                    f"[smtps]\naccept = 127.0.0.1:{self.port}\n"
                    f"connect = 127.0.0.1:{self.target_port}\ncert = {self.ca}\n"
                    f"key = {os.path.join(self.folder, 'key.pem')}\n")
        # In the foreground, stunnel logs to its standard error.
        errors = open(self.log, "ab") if self.log else subprocess.DEVNULL
        self.process = subprocess.Popen(["stunnel4", config], stdout=subprocess.DEVNULL, stderr=errors)
        if self.log:
            errors.close()
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


def handshakes(log):
    """(resumed, full) handshakes stunnel has logged so far."""
    with open(log, encoding="utf-8", errors="replace") as f:
        text = f.read()
    return text.count("previous session reused"), text.count("new session negotiated")


def time_resumption(bench, tunnel, count):
    """Best times of `count` sends with resumption on and off, and the
    handshakes stunnel saw in each mode's runs."""
    best = {"many": float("inf"), "many-full": float("inf")}
    seen = {"many": [0, 0], "many-full": [0, 0]}
    for _ in range(RESUMPTION_RUNS):
        for mode in best:
            before = handshakes(tunnel.log)
            best[mode] = min(best[mode], bench_send.run_bench(bench, mode, tunnel.port, count)["seconds"])
            after = handshakes(tunnel.log)
            seen[mode] = [seen[mode][i] + after[i] - before[i] for i in range(2)]
    return best, seen


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

        # In turns, best of three, so that both meet the machine in the same state.
        quill = python = float("inf")
        for _ in range(3):
            quill = min(quill, bench_send.run_bench(bench, "many", tunnel.port, SMALL_COUNT)["seconds"])
            python = min(python, time_smtplib_many(tunnel.port, tunnel.ca, SMALL_COUNT))
        print(f"\n{SMALL_COUNT} small messages over TLS, one conversation each, best of 3 in turns:")
        print(f"  Quillpost (bench_send)       {quill:8.3f} s  ({SMALL_COUNT / quill:7.0f} messages/s)")
        print(f"  smtplib + email              {python:8.3f} s  ({SMALL_COUNT / python:7.0f} messages/s)")
        print(f"  rate Quillpost / smtplib     {python / quill:8.2f}x  " + verdict(python / quill >= 3, "at least 3x"))

    with tempfile.TemporaryDirectory(prefix="qp-tls-bench-") as folder, bench_send.SmtpSink() as sink, \
            Stunnel(folder, sink.port, log=os.path.join(folder, "stunnel.log")) as tunnel:
        os.environ["QP_BENCH_CA_FILE"] = tunnel.ca
        best, seen = time_resumption(bench, tunnel, SMALL_COUNT)
        on, off = best["many"], best["many-full"]
        sends = RESUMPTION_RUNS * SMALL_COUNT
        print(f"\n{SMALL_COUNT} sends over TLS, KeepAlive 0, session resumption on against off, "
              f"best of {RESUMPTION_RUNS}:")
        print(f"  resumption on                {on:8.3f} s  ({on / SMALL_COUNT * 1e6:6.0f} us per send)")
        print(f"  resumption off               {off:8.3f} s  ({off / SMALL_COUNT * 1e6:6.0f} us per send)")
        print(f"  saved per handshake          {(off - on) / SMALL_COUNT * 1e6:8.0f} us")
        print(f"  time off / on                {off / on:8.2f}x")
        print(f"  stunnel saw, resumption on:  {seen['many'][0]} resumed, {seen['many'][1]} full handshakes")
        print(f"  stunnel saw, resumption off: {seen['many-full'][0]} resumed, {seen['many-full'][1]} full handshakes")
        # The first send of each run has no session to resume.
        resumed = seen["many"] == [sends - RESUMPTION_RUNS, RESUMPTION_RUNS] and seen["many-full"] == [0, sends]
        print("  " + verdict(resumed, "every send after a run's first resumes; none when off"))

    print("\nall targets met" if not missed else f"\ntargets missed: {', '.join(missed)}")
    return 0 if not missed else 1


if __name__ == "__main__":
    sys.exit(main())
