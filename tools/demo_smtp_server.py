#!/usr/bin/python3
"""A local SMTP server for the demo: Debian's aiosmtpd on a free port of
127.0.0.1 that keeps every message it receives.

Each message is written to FOLDER/message-N.eml exactly as it arrived (after
the server has undone the dot-stuffing), and its envelope to
FOLDER/message-N.envelope. Once listening, the server writes its port to
PORT_FILE. It runs until it receives SIGTERM or SIGINT.

Usage: /usr/bin/python3 demo_smtp_server.py PORT_FILE FOLDER
"""

import os
import signal
import socket
import sys
import threading

from aiosmtpd.controller import Controller


class KeepEveryMessage:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            base = os.path.join(self.folder, f"message-{self.count}")
        with open(base + ".envelope", "w") as f:
            f.write(f"MAIL FROM: <{envelope.mail_from}>\n")
            for rcpt in envelope.rcpt_tos:
                f.write(f"RCPT TO: <{rcpt}>\n")
        # Written under another name first, so that a reader never sees half a
        # message.
        with open(base + ".part", "wb") as f:
            f.write(envelope.content)
        os.rename(base + ".part", base + ".eml")
        return "250 Message accepted for delivery"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    port_file, folder = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())

    port = free_port()
    controller = Controller(KeepEveryMessage(folder), hostname="127.0.0.1", port=port)
    controller.start()
    try:
        with open(port_file + ".part", "w") as f:
            f.write(f"{port}\n")
        os.rename(port_file + ".part", port_file)
        stop.wait()
    finally:
        controller.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
