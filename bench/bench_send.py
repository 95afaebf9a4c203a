#!/usr/bin/python3
"""Sending speed and memory of Quillpost against Postfix's smtp-sink.

Starts /usr/sbin/smtp-sink on a free port of 127.0.0.1 and measures:

1. One message with a 20 MiB attachment, sent three ways:
   - Quillpost: bench_send (the C++ API; the time is taken around `send`, so
     process start is not counted);
   - Python's smtplib with the email package, building and sending the same
     message (same headers, body and attachment);
   - a plain socket write loop: the SMTP envelope, then the message bytes,
     encoded beforehand (the email package's rendering of the same message,
     dot-stuffed), pushed with 1 MiB writes. This is the transfer limit.
2. 1,000 small messages, one conversation each: bench_send against smtplib.
3. Peak resident memory for a 200 MiB attachment above that of an idle
   process: inside bench_send (its high-water mark after a small message,
   then after the big one), and for the qpmail process (/usr/bin/time)
   against a qpmail sending a small message.
4. Big inputs: a 4 GiB attachment (a sparse file) and its memory growth;
   10,000 and 100,000 recipients, 10 MiB and 100 MiB text bodies, whose
   times must grow no faster than their size.

Times are the best of five runs (one run for the 1,000 messages). Prints
every figure and ratio, stops smtp-sink and removes its files at the end. The
exit status is 1 when a target is missed.

Usage: bench/bench_send.sh [BUILD_DIR], or /usr/bin/python3 bench/bench_send.py [BUILD_DIR]
(default: $QUILLPOST_BUILD_DIR, else ./build)
"""

import email.policy
import os
import re
import smtplib
import socket
import subprocess
import sys
import tempfile
import time
from email.message import EmailMessage

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RUNS = 5
SMALL_COUNT = 1000
MiB = 1024 * 1024


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SmtpSink:
    """smtp-sink on 127.0.0.1, stopped on leaving the block."""

    def __enter__(self):
        self.port = free_port()
        command = ["/usr/sbin/smtp-sink", "-4"]
        if os.geteuid() == 0:
            command += ["-u", "nobody"]  # it refuses to keep root's rights
        command += [f"127.0.0.1:{self.port}", "256"]
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"smtp-sink ended at start with status {self.process.returncode}")
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                    return self
            except OSError:
                time.sleep(0.05)
        self.__exit__(None, None, None)
        raise RuntimeError("smtp-sink did not start listening within 10 s")

    def __exit__(self, *exc):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def random_file(path, size):
    with open(path, "wb") as f:
        left = size
        while left:
            block = min(left, 4 * MiB)
            f.write(os.urandom(block))
            left -= block
    return path


# --- the Python side ---------------------------------------------------------

def build_email(attachment=None):
    """The message that bench_send sends, built with the email package."""
    msg = EmailMessage()
    msg["From"] = "Ann Lee <ann@example.com>"
    msg["To"] = "Bob Smith <bob@example.com>"
    msg["Subject"] = "Benchmark message"
    msg.set_content("Hello Bob,\nthe figures are attached.\n")
    if attachment:
        with open(attachment, "rb") as f:
            data = f.read()
        msg.add_attachment(data, maintype="application", subtype="octet-stream",
                           filename=os.path.basename(attachment))
    return msg


def smtplib_send(port, attachment=None):
    with smtplib.SMTP("127.0.0.1", port, timeout=60) as smtp:
        smtp.send_message(build_email(attachment))


def time_smtplib_big(port, attachment):
    start = time.perf_counter()
    smtplib_send(port, attachment)
    return time.perf_counter() - start


def time_smtplib_many(port, count):
    start = time.perf_counter()
    for _ in range(count):
        smtplib_send(port)
    return time.perf_counter() - start


def encoded_message(attachment):
    """The message bytes as they go on the wire: CRLF lines, dot-stuffed."""
    data = build_email(attachment).as_bytes(policy=email.policy.SMTP)
    data = re.sub(rb"(?m)^\.", b"..", data)
    if not data.endswith(b"\r\n"):
        data += b"\r\n"
    return data


def read_reply(reader, code):
    while True:
        line = reader.readline()
        if not line.startswith(code):
            raise RuntimeError(f"expected {code!r}, got {line!r}")
        if line[3:4] != b"-":
            return


def time_socket_loop(port, data):
    start = time.perf_counter()
    with socket.create_connection(("127.0.0.1", port), timeout=60) as s:
        reader = s.makefile("rb")
        read_reply(reader, b"220")
        for command, code in ((b"HELO bench.localdomain", b"250"), (b"MAIL FROM:<ann@example.com>", b"250"),
                              (b"RCPT TO:<bob@example.com>", b"250"), (b"DATA", b"354")):
            s.sendall(command + b"\r\n")
            read_reply(reader, code)
        view = memoryview(data)
        for offset in range(0, len(data), MiB):
            s.sendall(view[offset:offset + MiB])
        s.sendall(b".\r\n")
        read_reply(reader, b"250")
        s.sendall(b"QUIT\r\n")
    return time.perf_counter() - start


# --- the Quillpost side --------------------------------------------------------

def run_bench(bench, *args):
    result = subprocess.run([bench] + [str(a) for a in args], capture_output=True, text=True, timeout=600)
    if result.returncode != 0:
        raise RuntimeError(f"bench_send {' '.join(map(str, args))}: {result.stderr.strip()}")
    return {name: float(value) for name, value in (line.split() for line in result.stdout.splitlines())}


def qpmail_peak_kib(qpmail, port, folder, attachment=None):
    body = os.path.join(folder, "body.txt")
    with open(body, "wb") as f:
        f.write(b"Hello Bob,\r\nthe figures are attached.\r\n")
    command = ["/usr/bin/time", "-f", "%M", qpmail, "--server", "127.0.0.1", "--port", str(port),
               "--timeout", "60", "--from", "Ann Lee <ann@example.com>", "--to", "Bob Smith <bob@example.com>",
               "--subject", "Benchmark message", "--text", body]
    if attachment:
        command += ["--attach", attachment]
    result = subprocess.run(command, capture_output=True, text=True, timeout=600)
    if result.returncode != 0:
        raise RuntimeError(f"qpmail: {result.stderr.strip()}")
    return int(result.stderr.strip().splitlines()[-1])


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("QUILLPOST_BUILD_DIR", os.path.join(ROOT, "build"))
    bench = os.path.join(build, "bench", "bench_send")
    qpmail = os.path.join(build, "tools", "qpmail")
    for program in (bench, qpmail):
        if not os.access(program, os.X_OK):
            print(f"{program} is missing: build first (scripts/build.sh)", file=sys.stderr)
            return 2

    missed = []

    def verdict(ok, target):
        if not ok:
            missed.append(target)
        return f"{'met' if ok else 'MISSED'} (target: {target})"

    with tempfile.TemporaryDirectory(prefix="qp-bench-") as folder, SmtpSink() as sink:
        print(f"smtp-sink on 127.0.0.1:{sink.port}\n")

        big = random_file(os.path.join(folder, "figures.bin"), 20 * MiB)
        wire = encoded_message(big)
        # The three take turns, so that a busy moment of the machine does not
        # fall on one of them only.
        quill = python = raw = float("inf")
        for _ in range(RUNS):
            quill = min(quill, run_bench(bench, "big", sink.port, big)["seconds"])
            python = min(python, time_smtplib_big(sink.port, big))
            raw = min(raw, time_socket_loop(sink.port, wire))
        print(f"One message with a 20 MiB attachment ({len(wire) / MiB:.1f} MiB on the wire), best of {RUNS}:")
        print(f"  Quillpost (bench_send)       {quill:8.3f} s")
        print(f"  smtplib + email              {python:8.3f} s")
        print(f"  plain socket write loop      {raw:8.3f} s")
        print(f"  smtplib / Quillpost          {python / quill:8.2f}x  "
              + verdict(python / quill >= 8, "at least 8x"))
        print(f"  Quillpost / socket loop      {quill / raw:8.2f}x  "
              + verdict(quill / raw <= 1.5, "at most 1.5x"))
        os.remove(big)
        del wire

        quill = run_bench(bench, "many", sink.port, SMALL_COUNT)["seconds"]
        python = time_smtplib_many(sink.port, SMALL_COUNT)
        print(f"\n{SMALL_COUNT} small messages, one conversation each:")
        print(f"  Quillpost (bench_send)       {quill:8.3f} s  ({SMALL_COUNT / quill:7.0f} messages/s)")
        print(f"  smtplib + email              {python:8.3f} s  ({SMALL_COUNT / python:7.0f} messages/s)")
        print(f"  rate Quillpost / smtplib     {python / quill:8.2f}x  "
              + verdict(python / quill >= 3, "at least 3x"))

        huge = random_file(os.path.join(folder, "archive.bin"), 200 * MiB)
        figures = run_bench(bench, "memory", sink.port, huge)
        growth = (figures["peak_kib"] - figures["idle_kib"]) / 1024
        idle_process = qpmail_peak_kib(qpmail, sink.port, folder)
        busy_process = qpmail_peak_kib(qpmail, sink.port, folder, huge)
        process_growth = (busy_process - idle_process) / 1024
        print("\nPeak resident memory with a 200 MiB attachment:")
        print(f"  bench_send: after a small message {figures['idle_kib'] / 1024:7.2f} MiB, "
              f"after the 200 MiB one {figures['peak_kib'] / 1024:7.2f} MiB")
        print(f"  growth                       {growth:8.2f} MiB  " + verdict(growth < 4, "under 4 MiB"))
        print(f"  qpmail process: small message {idle_process / 1024:7.2f} MiB, "
              f"200 MiB attachment {busy_process / 1024:7.2f} MiB")
        print(f"  growth                       {process_growth:8.2f} MiB  "
              + verdict(process_growth < 4, "under 4 MiB"))

        sparse = os.path.join(folder, "sparse.bin")
        with open(sparse, "wb") as f:
            f.truncate(4 * 1024 * MiB)
        figures = run_bench(bench, "memory", sink.port, sparse)
        growth = (figures["peak_kib"] - figures["idle_kib"]) / 1024
        os.remove(sparse)
        print("\nBig inputs:")
        print(f"  4 GiB attachment: memory growth {growth:8.2f} MiB  " + verdict(growth < 8, "under 8 MiB"))
        for mode, small, large, unit in (("recipients", 10000, 100000, "recipients"), ("body", 10, 100, "MiB body")):
            first = min(run_bench(bench, mode, sink.port, small)["seconds"] for _ in range(3))
            second = min(run_bench(bench, mode, sink.port, large)["seconds"] for _ in range(3))
            ratio = second / first / (large / small)
            print(f"  {small:>6} {unit:<10} {first:8.3f} s, {large:>6}: {second:8.3f} s, "
                  f"time per unit x{ratio:5.2f}  " + verdict(ratio < 1.5, "linear: at most x1.5"))

    print("\nall targets met" if not missed else f"\ntargets missed: {', '.join(missed)}")
    return 0 if not missed else 1


if __name__ == "__main__":
    sys.exit(main())
