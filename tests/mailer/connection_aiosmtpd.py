#!/usr/bin/python3
"""Many messages over one Connection (and over kept-alive sends) against
Debian's aiosmtpd.

aiosmtpd refuses recipients that begin with "refused" (550) and every
message whose subject ends in "50" at the end of its data (552). The driver
named on the command line sends a thousand messages; each must arrive once
with its own envelope and subject, every refused one must be reported with
its error and the others delivered, over one connection (with KeepAlive, one
more after each failed send). One table row per way of sending. Ends with "N passed, M failed".

Usage: /usr/bin/python3 connection_aiosmtpd.py PATH/TO/connection_driver
"""

import email
import logging
import os
import subprocess
import sys

from aiosmtpd.controller import Controller

sys.dont_write_bytecode = True  # nothing left in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_support import free_port  # noqa: E402

COUNT = 1000


class Handler:
    def __init__(self):
        self.messages, self.hellos = [], 0

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        self.hellos += 1
        session.host_name = hostname
        return responses

    async def handle_RCPT(self, server, session, envelope, address, options):
        if address.startswith("refused"):
            return "550 no such user"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        parsed = email.message_from_bytes(envelope.content)
        if parsed["Subject"].endswith("50"):
            return "552 too large"
        self.messages.append((envelope.mail_from, list(envelope.rcpt_tos), parsed["Subject"]))
        return "250 queued"


def check(driver, mode, connections):
    handler = Handler()
    port = free_port()
    controller = Controller(handler, hostname="127.0.0.1", port=port)
    controller.start()
    try:
        args = [driver, str(port), str(COUNT)] + ([mode] if mode else [])
        run = subprocess.run(args, capture_output=True, text=True, timeout=300)
    finally:
        controller.stop()
    problems = []
    errors = {}
    for line in run.stdout.splitlines():
        n, number = line.split()
        errors[int(n)] = int(number)
    for i in range(COUNT):
        want = 9550 if i % 100 == 7 else 9552 if i % 100 == 50 else 0
        if errors.get(i) != want:
            problems.append(f"message {i}: error {errors.get(i)}, expected {want}")
    delivered = [i for i in range(COUNT) if i % 100 not in (7, 50)]
    seen = sorted(int(subject.split()[1]) for _, _, subject in handler.messages)
    if seen != delivered:
        problems.append(f"{len(seen)} messages arrived, {len(delivered)} expected (or some twice)")
    for sender, recipients, subject in handler.messages:
        n = subject.split()[1]
        if sender != f"s{n}@example.com" or recipients != [f"r{n}@example.com"]:
            problems.append(f"{subject}: envelope {sender} {recipients}")
    if handler.hellos != connections:
        problems.append(f"{handler.hellos} connections (EHLO), expected {connections}")
    if run.returncode != 0:
        problems.append(f"driver exit {run.returncode}: {run.stderr}")
    return problems


def main():
    logging.disable(logging.CRITICAL)
    driver = sys.argv[1]
    refused = len([i for i in range(COUNT) if i % 100 in (7, 50)])
    # A Connection goes on after a refusal; a send that failed never leaves
    # its connection for the next one.
    rows = [("one Connection", None, 1), ("send with KeepAlive 5", "keep", 1 + refused)]
    passed = failed = 0
    for name, mode, connections in rows:
        problems = check(driver, mode, connections)
        if problems:
            failed += 1
            print(f"FAIL {name}: " + "; ".join(problems[:5]))
        else:
            passed += 1
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
