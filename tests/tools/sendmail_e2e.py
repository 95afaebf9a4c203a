#!/usr/bin/python3
"""qpmail's sendmail-compatible mode against Debian's aiosmtpd.

Runs the qpmail binary named on the command line through a link named
"sendmail" (and once with --sendmail), with messages piped in as cron, mail
and scripts pipe them, against aiosmtpd on a free port of 127.0.0.1 that the
registry file's Sendmail key names. Checks the exit status (sysexits.h), the
envelope and the bytes the server kept. Ends with "N passed, M failed".

Usage: /usr/bin/python3 sendmail_e2e.py PATH/TO/qpmail
"""

import os
import re
import subprocess
import sys
import tempfile

import dkim
from aiosmtpd.controller import Controller

sys.dont_write_bytecode = True  # nothing left in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_support import free_port  # noqa: E402

SIZE_LIMIT = 4000


class Collector:
    """Keeps every envelope; answers 451 for recipients that begin with
    "later"."""

    def __init__(self):
        self.envelopes = []

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("later"):
            return "451 4.3.0 Try again later"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.envelopes.append(envelope)
        return "250 Message accepted for delivery"


def registry_text(port):
    return ("Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost\\Sendmail]\r\n"
            "\"Server\"=\"127.0.0.1\"\r\n"
            "\"Port\"=dword:%08x\r\n"
            "\"TimeOut\"=\"10\"\r\n" % port)


def main():
    qpmail = os.path.abspath(sys.argv[1])
    collector = Collector()
    port = free_port()
    controller = Controller(collector, hostname="127.0.0.1", port=port, data_size_limit=SIZE_LIMIT)
    controller.start()
    failed = passed = 0
    with tempfile.TemporaryDirectory(prefix="qpmail-sendmail-") as folder:
        sendmail = os.path.join(folder, "sendmail")
        os.symlink(qpmail, sendmail)
        registry = os.path.join(folder, "registry.reg")
        with open(registry, "w") as f:
            f.write(registry_text(port))
        no_key = os.path.join(folder, "empty.reg")
        with open(no_key, "w") as f:
            f.write("REGEDIT4\r\n")
        closed = os.path.join(folder, "closed.reg")
        with open(closed, "w") as f:
            f.write(registry_text(free_port()))

        def run(args, stdin, reg=registry, program=sendmail):
            env = dict(os.environ, QUILLPOST_REGISTRY=reg)
            return subprocess.run([program] + args, input=stdin, capture_output=True, timeout=60, env=env)

        big = b"Subject: big\n\n" + (b"x" * 70 + b"\n") * (SIZE_LIMIT // 70 + 10)
        # name, arguments, standard input, exit status, recipients, checks of the kept bytes, stderr pattern
        # (registry, program) overrides where given.
        cases = [
            ("printf piped in, recipient as argument", ["bob@example.com"],
             b"Subject: Disk space\nFrom: root@host.example\n\nThe disk is full.\n", {}, 0, ["bob@example.com"],
             [rb"^Subject: Disk space\r\nFrom: root@host\.example\r\nDate: .*\r\nMessage-ID: <\w+@host\.example>\r\n"
              rb"\r\nThe disk is full\.\r\n$"], None),
            ("a lone dot ends the input without -i", ["-f", "ann@example.com", "bob@example.com"],
             b"Subject: dots\n\n.leading\n.\nafter the end\n", {}, 0, ["bob@example.com"],
             [rb"\r\n\r\n\.leading\r\n$"], None),
            ("-oi keeps a lone dot, which travels stuffed", ["-oi", "-f", "ann@example.com", "bob@example.com"],
             b"Subject: dots\n\n.\n..two\nend\n", {}, 0, ["bob@example.com"],
             [rb"\r\n\r\n\.\r\n\.\.two\r\nend\r\n$"], None),
            ("-t takes To, Cc and Bcc and removes Bcc",
             ["-t", "-i"],
             b"From: Ann Lee <ann@example.com>\nTo: Bob <bob@example.com>, carol@example.com\n"
             b"Cc: \"Smith, Dan\" <dan@example.com>\nBcc: audit@example.com,\n  archive@example.com\n"
             b"Subject: minutes\n\nSee attached.\n", {}, 0,
             ["bob@example.com", "carol@example.com", "dan@example.com", "audit@example.com",
              "archive@example.com"],
             [rb"^From: Ann Lee <ann@example\.com>\r\nTo: Bob <bob@example\.com>, carol@example\.com\r\n"
              rb"Cc: \"Smith, Dan\" <dan@example\.com>\r\nSubject: minutes\r\nDate: ", rb"^(?!.*Bcc)(?!.*archive)"],
             None),
            ("mail-style: -F names the sender, cron's options ignored",
             ["-FCron Daemon", "-i", "-B8BITMIME", "-oem", "-odi", "-f", "root@host.example", "ops@example.com"],
             b"To: ops@example.com\nSubject: Cron <root@host> backup\n\nDone: caf\xc3\xa9\n", {}, 0,
             ["ops@example.com"],
             [rb"\r\nFrom: \"Cron Daemon\" <root@host\.example>\r\n", rb"\r\n\r\nDone: caf\xc3\xa9\r\n$"], None),
            ("given Date and Message-ID are kept", ["-f", "ann@example.com", "bob@example.com"],
             b"Date: Tue, 01 Dec 2026 10:00:00 +0000\nMessage-ID: <fixed@example.com>\nSubject: x\n\nbody\n", {}, 0,
             ["bob@example.com"],
             [rb"^Date: Tue, 01 Dec 2026 10:00:00 \+0000\r\nMessage-ID: <fixed@example\.com>\r\nSubject: x\r\n"
              rb"From: <ann@example\.com>\r\n\r\nbody\r\n$"], None),
            ("--sendmail does the same", ["--sendmail", "-f", "ann@example.com", "bob@example.com"],
             b"Subject: via option\n\nbody\n", {"program": qpmail}, 0, ["bob@example.com"],
             [rb"^Subject: via option\r\n"], None),
            ("over the server's SIZE", ["-f", "ann@example.com", "bob@example.com"], big, {}, 69, None, [],
             rb"^sendmail: error 9552: "),
            ("4xx reply", ["-f", "ann@example.com", "later@example.com"], b"Subject: x\n\nx\n", {}, 75, None, [],
             rb"^sendmail: error 9451: 4\.3\.0 Try again later"),
            ("no recipient", ["-f", "ann@example.com"], b"Subject: x\n\nx\n", {}, 64, None, [],
             rb"^sendmail: no recipient: "),
            ("-t without an address line", ["-t"], b"From: ann@example.com\nSubject: x\n\nx\n", {}, 64, None, [],
             rb"^sendmail: no recipient: the message has no To, Cc or Bcc line"),
            ("unknown option", ["-Z", "bob@example.com"], b"x\n", {}, 64, None, [],
             rb"^sendmail: unknown option '-Z'"),
            ("queue run", ["-q"], b"", {}, 64, None, [], rb"^sendmail: there is no mail queue"),
            ("no Sendmail key", ["bob@example.com"], b"From: ann@example.com\n\nx\n", {"reg": no_key}, 78, None,
             [], rb"^sendmail: no server: the registry has no key HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold"),
            ("server not listening", ["bob@example.com"], b"From: ann@example.com\n\nx\n", {"reg": closed}, 69,
             None, [], rb"^sendmail: error 10061: Connection refused \(127\.0\.0\.1 port \d+\)"),
        ]
        for name, args, stdin, overrides, status, recipients, patterns, stderr in cases:
            before = len(collector.envelopes)
            result = run(args, stdin, **overrides)
            problems = []
            if result.returncode != status:
                problems.append("exit status %d, expected %d" % (result.returncode, status))
            if stderr is not None and not re.search(stderr, result.stderr):
                problems.append("stderr %r does not match %r" % (result.stderr, stderr))
            if stderr is None and result.stderr:
                problems.append("stderr %r" % result.stderr)
            new = collector.envelopes[before:]
            if recipients is None:
                if new:
                    problems.append("the server kept a message")
            elif len(new) != 1:
                problems.append("%d messages kept" % len(new))
            else:
                envelope = new[0]
                if envelope.rcpt_tos != recipients:
                    problems.append("recipients %r" % envelope.rcpt_tos)
                for pattern in patterns:
                    if not re.search(pattern, envelope.original_content, re.S):
                        problems.append("content %r does not match %r" % (envelope.original_content, pattern))
            if problems:
                failed += 1
                print("FAIL %s: %s" % (name, "; ".join(problems)))
            else:
                passed += 1
                print("ok   %s" % name)
        # A key named in the registry for the sender's domain signs the message
        # as it was handed over; SIZE (in the EHLO session that "may" asks
        # for) counts the signature line too.
        key = os.path.join(folder, "dkim.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "ED25519", "-out", key], check=True, capture_output=True)
        record = subprocess.run([qpmail, "--dkim-print-record", "--dkim-key", key], check=True, capture_output=True,
                                text=True).stdout.strip()
        signing = os.path.join(folder, "signing.reg")
        with open(signing, "w") as f:
            f.write(registry_text(port) + "\"Security\"=\"may\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost\\Dkim\\example.com]"
                    "\r\n\"Selector\"=\"cron\"\r\n\"KeyFile\"=\"%s\"\r\n" % key)
        before = len(collector.envelopes)
        result = run(["-f", "ann@example.com", "bob@example.com"],
                     b"To: bob@example.com\nSubject: signed  report\n\nAll  well. \n\n\n", reg=signing)
        new = collector.envelopes[before:]
        problems = []
        if result.returncode != 0 or len(new) != 1:
            problems.append("exit status %d, %d messages kept, stderr %r" % (result.returncode, len(new), result.stderr))
        else:
            content = new[0].original_content
            size = [o for o in new[0].mail_options if o.upper().startswith("SIZE=")]
            if not content.startswith(b"DKIM-Signature: ") or b"d=example.com" not in content:
                problems.append("no signature for example.com: %r" % content[:200])
            if not dkim.verify(content, dnsfunc=lambda name, timeout=5: record.encode()):
                problems.append("the signature does not verify: %r" % content)
            if size != ["SIZE=%d" % len(content)]:
                problems.append("MAIL FROM said %r for %d octets" % (size, len(content)))
        if problems:
            failed += 1
            print("FAIL signed by the registry's key: %s" % "; ".join(problems))
        else:
            passed += 1
            print("ok   signed by the registry's key")
    controller.stop()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
