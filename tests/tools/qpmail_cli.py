#!/usr/bin/python3
"""The qpmail command line, one row a case.

Each row runs the qpmail binary named on the command line and checks its exit
status, the first line of standard output and of standard error (regular
expressions; None: nothing at all) and how many connections reached the
listening port. The listener plays a server that refuses every recipient, so
a row that should connect sees the server's own reply. Rows marked "tty" get
a terminal as standard error. Ends with "N passed, M failed"; exits 0 only
when every row passed.

Usage: /usr/bin/python3 qpmail_cli.py PATH/TO/qpmail PROJECT_VERSION
"""

import atexit
import os
import pty
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

REFUSAL = "550 5.1.1 <nobody@example.com>: Recipient address rejected"


class Listener:
    """Counts connections; answers each as a server that refuses every RCPT."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]
        self.connections = 0
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            conn, _ = self.sock.accept()
            self.connections += 1
            threading.Thread(target=self.talk, args=(conn,), daemon=True).start()

    @staticmethod
    def talk(conn):
        with conn, conn.makefile("rb") as lines:
            conn.sendall(b"220 test ready\r\n")
            for line in lines:
                verb = line[:4].upper()
                if verb == b"QUIT":
                    conn.sendall(b"221 bye\r\n")
                    return
                reply = REFUSAL if verb == b"RCPT" else "250 OK"
                conn.sendall(reply.encode() + b"\r\n")


class Silent:
    """Accepts connections and never says a word."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]
        self.held = []
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            self.held.append(self.sock.accept()[0])


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def first_line(data):
    """The first line of the output, None when there is no output; a progress
    line rewritten in place counts as its last state."""
    if not data:
        return None
    line = data.decode(errors="replace").replace("\r\n", "\n").split("\n", 1)[0]
    return line.rsplit("\r", 1)[-1].rstrip()


def run(qpmail, args, folder, tty):
    if not tty:
        result = subprocess.run([qpmail] + args, cwd=folder, capture_output=True, timeout=30,
                                stdin=subprocess.DEVNULL)
        return result.returncode, result.stdout, result.stderr
    leader, follower = pty.openpty()
    process = subprocess.Popen([qpmail] + args, cwd=folder, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=follower)
    os.close(follower)
    err = []

    def read_terminal():
        while True:
            try:
                chunk = os.read(leader, 4096)
            except OSError:  # the terminal's other end is gone
                return
            if not chunk:
                return
            err.append(chunk)

    reader = threading.Thread(target=read_terminal, daemon=True)
    reader.start()
    out, _ = process.communicate(timeout=30)
    reader.join(timeout=10)
    os.close(leader)
    return process.returncode, out, b"".join(err)


def main():
    qpmail, version = sys.argv[1], sys.argv[2]
    listener = Listener()
    closed = closed_port()
    silent = Silent()
    # Removed with everything in it when the run ends.
    holder = tempfile.TemporaryDirectory(prefix="qpmail-cli-")
    folder = holder.name
    with open(os.path.join(folder, "chart.png"), "wb") as f:
        f.write(b"\x89PNG" + bytes(range(256)) * 8)
    with open(os.path.join(folder, "big.bin"), "wb") as f:
        f.write(os.urandom(4 << 20))
    for name, content, mode in (("pw.txt", "secret\n", 0o600), ("empty.txt", "\n", 0o600),
                                ("open.txt", "secret\n", 0o644)):
        with open(os.path.join(folder, name), "w") as f:
            f.write(content)
        os.chmod(os.path.join(folder, name), mode)
    subprocess.run(["openssl", "genpkey", "-algorithm", "ED25519", "-out", os.path.join(folder, "key.pem")],
                   check=True, capture_output=True)
    def server(port=listener.port):
        return ["--server", "127.0.0.1", "--port", str(port), "--timeout", "10"]

    def sendable(port=listener.port):
        return server(port) + ["--from", "ann@example.com", "--to", "nobody@example.com"]

    usage = r"Usage: qpmail \[OPTION\]\.\.\.$"
    usage_error = r"qpmail: "

    # name, arguments, tty, exit status, stdout's first line, stderr's first line, connections
    rows = [
        ("no arguments", [], False, 2, usage, None, 0),
        ("-h", ["-h"], False, 0, usage, None, 0),
        ("--help", ["--help"], False, 0, usage, None, 0),
        ("--version", ["--version"], False, 0, rf"qpmail \(Quillpost\) {re.escape(version)}$", None, 0),
        ("no recipient", server() + ["--from", "ann@example.com", "--subject", "s"], False, 2, None,
         r"qpmail: no recipient: give at least one --to, --cc or --bcc$", 0),
        ("no sender", server() + ["--to", "bob@example.com"], False, 2, None,
         r"qpmail: no sender: give --from ADDRESS$", 0),
        ("priority out of range", sendable() + ["--priority", "9"], False, 2, None,
         r"qpmail: --priority takes 0 to 5 .*not '9'$", 0),
        ("priority unknown word", sendable() + ["--priority", "urgent"], False, 2, None,
         r"qpmail: --priority takes 0 to 5 .*not 'urgent'$", 0),
        ("port out of range", sendable("70000"), False, 2, None, usage_error + r"--port takes", 0),
        ("unknown option", sendable() + ["--bogus"], False, 2, None, r"qpmail: unknown option '--bogus'$", 0),
        ("misspelt option", sendable() + ["--too", "bob@example.com"], False, 2, None,
         r"qpmail: unknown option '--too'; did you mean --to\?$", 0),
        ("trace file in a missing folder", sendable() + ["--trace", "missing/trace.log"], False, 1, None,
         r"qpmail: error 76: Path not found: missing/trace\.log$", 0),
        ("silent server", server(silent.port)[:-1] + ["1", "--from", "ann@example.com", "--to", "bob@example.com"],
         False, 1, None, r"qpmail: error 9998: Timeout error while waiting for response from server "
         rf"\(127\.0\.0\.1 port {silent.port}, waiting for the greeting\)$", 0),
        ("verbose", sendable() + ["-v"], False, 1, None,
         r"\+ Connecting to server 127\.0\.0\.1 at port -?\d+$", 1),
        ("second attachment missing", sendable() + ["--attach", "chart.png", "--attach", "report.pdf"], False, 1,
         None, r"qpmail: error 53: File not found: report.pdf$", 0),
        ("nothing listening", sendable(closed), False, 1, None,
         rf"qpmail: error 10061: Connection refused \(127\.0\.0\.1 port {closed}\)$", 0),
        ("server refuses the recipient", sendable(), False, 1, None, "qpmail: error 9550: " + re.escape(
            REFUSAL[4:]) + "$", 1),
        ("password file without --user", sendable() + ["--password-file", "pw.txt"], False, 1, None,
         r"qpmail: error 9977: Login credentials can not be blank: UserName$", 0),
        ("--user with an empty password file", sendable() + ["--user", "ann", "--password-file", "empty.txt"], False,
         1, None, r"qpmail: error 9977: Login credentials can not be blank: Password: empty\.txt$", 0),
        ("password file that others can read", sendable() + ["--user", "ann", "--password-file", "open.txt"], False,
         1, None, r"qpmail: warning: open\.txt can be read by other users", 1),
        ("dry run", sendable() + ["--dry-run", "--subject", "Report", "--attach", "chart.png"], False, 0,
         r"Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d \w{3} \d{4} ", None, 0),
        ("progress on a terminal", sendable() + ["--dry-run", "--attach", "big.bin"], True, 0, r"Date: ",
         r"qpmail: attachments 4\.0 MiB of 4\.0 MiB \(100%\)(, [\d.]+ [KMG]?i?B/s)?$", 0),
        ("quiet on a terminal", sendable() + ["--dry-run", "--quiet", "--attach", "big.bin"], True, 0, r"Date: ",
         None, 0),
        ("no progress off a terminal", sendable() + ["--dry-run", "--attach", "big.bin"], False, 0, r"Date: ",
         None, 0),
        ("DKIM record without a key", ["--dkim-print-record"], False, 2, None,
         r"qpmail: --dkim-print-record needs --dkim-key FILE$", 0),
        ("DKIM record", ["--dkim-print-record", "--dkim-key", "key.pem"], False, 0,
         r"v=DKIM1; k=ed25519; p=[A-Za-z0-9+/]{43}=$", None, 0),
        ("unusable DKIM key, before connecting", sendable() + ["--dkim-selector", "s", "--dkim-key", "chart.png"],
         False, 1, None, r"qpmail: error 9988: DKIM key cannot be used: chart\.png holds no unencrypted private key",
         0),
    ]

    failed = 0
    for name, args, tty, status, out_pattern, err_pattern, connections in rows:
        before = listener.connections
        code, out, err = run(qpmail, args, folder, tty)
        time.sleep(0.05)  # a connection made just before the exit is still counted for this row
        problems = []
        if code != status:
            problems.append(f"exit status {code}, expected {status}")
        for what, data, pattern in (("stdout", out, out_pattern), ("stderr", err, err_pattern)):
            line = first_line(data)
            if pattern is None and line is not None:
                problems.append(f"{what}: expected nothing, got {line!r}")
            elif pattern is not None and (line is None or not re.match(pattern, line)):
                problems.append(f"{what}: first line {line!r} does not match {pattern!r}")
        if listener.connections - before != connections:
            problems.append(f"{listener.connections - before} connections, expected {connections}")
        if problems:
            failed += 1
            print(f"FAIL {name}: " + "; ".join(problems))
        else:
            print(f"ok   {name}")
    # After the error's line, one line of advice where qpmail has some; the
    # whole dialogue with -v, the error last.
    for name, args, expected in [
        ("hint", sendable(closed), [rf"qpmail: error 10061: .*", r"qpmail: hint: nothing accepts connections there"]),
        ("verbose dialogue", sendable() + ["--verbose"], [r"\+ Connecting", r"< 220 test ready", r"> HELO ",
                                                          r"< 250 OK", r"> MAIL FROM: <ann@example\.com>",
                                                          r"< 250 OK", r"\+ Sending recipient addresses",
                                                          r"> RCPT TO: <nobody@example\.com>", r"< 550 5\.1\.1 ", r"> quit",
                                                          r"\+ Error 9550: ", r"qpmail: error 9550: "]),
    ]:
        rows.append(name)
        _, _, err = run(qpmail, args, folder, False)
        lines = [line for line in err.decode(errors="replace").splitlines()
                 if not re.match(r"\+ (Waiting|Finished|Calling|Returned|CommWait|Received)", line)]
        if len(lines) == len(expected) and all(re.match(p, line) for p, line in zip(expected, lines)):
            print(f"ok   {name}")
        else:
            failed += 1
            print(f"FAIL {name}: stderr {lines!r}, expected {expected!r}")
    print(f"{len(rows) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
