#!/usr/bin/python3
"""Many messages over one connection, against Postfix's smtp-sink, measured
side by side in one run:

1. 10,000 small messages over one Connection (bench_send connection),
   against Python's smtplib sending them over one reused connection, and a
   minimal pipelined client on a raw socket (MAIL FROM, RCPT TO and DATA in
   one write, then the message and its final dot in one write), written once
   in Python and once in C++ (bench/minimal_client_posix.cpp).
   Targets: at least 10 times smtplib, at least as fast as the minimal client.
   The C++ client shows the floor: two round trips a message, which every
   client that waits for each message's own reply pays.
2. 1,000 `send` calls in one process with KeepAlive 5 against KeepAlive 0,
   both with Security may (so both pipeline). Target: at least 3 times faster.

The variants run in turns, so that each meets the machine in the same state;
each time is the best of five turns. Prints every figure and ratio; the exit
status is 1 when a target is missed.

Usage: bench/bench_connection.sh [BUILD_DIR], or
/usr/bin/python3 bench/bench_connection.py [BUILD_DIR]
"""

import os
import smtplib
import socket
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # nothing left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_send import ROOT, SmtpSink, build_email, encoded_message, read_reply, run_bench  # noqa: E402

RUNS = 5
MESSAGES = 10000
SENDS = 1000


def time_smtplib_reused(port, count):
    message = build_email()
    start = time.perf_counter()
    with smtplib.SMTP("127.0.0.1", port, timeout=60) as smtp:
        for _ in range(count):
            smtp.send_message(message)
    return time.perf_counter() - start


def time_pipelined_socket(port, count):
    data = encoded_message(None) + b".\r\n"
    envelope = b"MAIL FROM:<ann@example.com>\r\nRCPT TO:<bob@example.com>\r\nDATA\r\n"
    start = time.perf_counter()
    with socket.create_connection(("127.0.0.1", port), timeout=60) as s:
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        reader = s.makefile("rb")
        read_reply(reader, b"220")
        s.sendall(b"EHLO bench.localdomain\r\n")
        read_reply(reader, b"250")
        for _ in range(count):
            s.sendall(envelope)
            read_reply(reader, b"250")
            read_reply(reader, b"250")
            read_reply(reader, b"354")
            s.sendall(data)
            read_reply(reader, b"250")
        s.sendall(b"QUIT\r\n")
    return time.perf_counter() - start


def best_in_turns(functions):
    """The best time of each function, run in turns RUNS times."""
    times = [float("inf")] * len(functions)
    for _ in range(RUNS):
        for i, function in enumerate(functions):
            times[i] = min(times[i], function())
    return times


def time_minimal_client(client, port, count, message_file):
    result = subprocess.run([client, str(port), str(count), message_file], capture_output=True, text=True,
                            timeout=600, check=True)
    return float(result.stdout.split()[1])


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("QUILLPOST_BUILD_DIR", os.path.join(ROOT, "build"))
    bench = os.path.join(build, "bench", "bench_send")
    missed = []

    def verdict(ok, target):
        if not ok:
            missed.append(target)
        return "met" if ok else "MISSED"

    client = os.path.join(build, "bench", "minimal_client")
    with SmtpSink() as sink, tempfile.TemporaryDirectory(prefix="qp-bench-connection-") as folder:
        message_file = os.path.join(folder, "message.eml")
        with open(message_file, "wb") as f:
            f.write(encoded_message(None))
        print(f"smtp-sink on 127.0.0.1:{sink.port}\n")
        quill, python, raw, floor = best_in_turns([
            lambda: run_bench(bench, "connection", sink.port, MESSAGES)["seconds"],
            lambda: time_smtplib_reused(sink.port, MESSAGES),
            lambda: time_pipelined_socket(sink.port, MESSAGES),
            lambda: time_minimal_client(client, sink.port, MESSAGES, message_file),
        ])
        print(f"{MESSAGES} small messages over one connection:")
        print(f"  Quillpost Connection   {quill:8.3f} s  {MESSAGES / quill:9.0f} messages/s")
        print(f"  smtplib, reused        {python:8.3f} s  {MESSAGES / python:9.0f} messages/s")
        print(f"  minimal client, Python {raw:8.3f} s  {MESSAGES / raw:9.0f} messages/s")
        print(f"  minimal client, C++    {floor:8.3f} s  {MESSAGES / floor:9.0f} messages/s")
        print(f"  Quillpost / smtplib: {python / quill:.1f} times as fast, "
              f"target 10: {verdict(python / quill >= 10, 'Connection 10x smtplib')}")
        print(f"  (the C++ minimal client is {python / floor:.1f} times as fast as smtplib)")
        print(f"  Quillpost / minimal client: {raw / quill:.2f} (Python), {floor / quill:.2f} (C++), "
              f"target 1: {verdict(raw / quill >= 1, 'Connection as fast as the minimal client')}\n")

        keep0, keep5 = best_in_turns([
            lambda: run_bench(bench, "keep0", sink.port, SENDS)["seconds"],
            lambda: run_bench(bench, "keep5", sink.port, SENDS)["seconds"],
        ])
        print(f"{SENDS} sends in one process, Security may:")
        print(f"  KeepAlive 0            {keep0:8.3f} s  {SENDS / keep0:9.0f} sends/s")
        print(f"  KeepAlive 5            {keep5:8.3f} s  {SENDS / keep5:9.0f} sends/s")
        print(f"  {keep0 / keep5:.1f} times as fast, target 3: {verdict(keep0 / keep5 >= 3, 'KeepAlive 3x')}")

    if missed:
        print("\nmissed: " + "; ".join(missed))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
