#!/usr/bin/python3
"""A local SMTP server for the Windows smoke test: Debian's aiosmtpd on a
free port of 127.0.0.1. Prints the port on its first line, then writes each
CRAM-MD5 login and each message it accepts to the file named on the command line (envelope, then
the data with the lines that change at every run reduced: Message-ID to
whether it is well-formed with the sender's domain on its right, Date to
whether it is well-formed and carries the offset that the zone named in TZ
has at that local time). Runs until standard input closes.

Each pair of a server certificate and its key starts one more server, on a
free port of its own, that requires STARTTLS with that certificate; the
ports are printed on the following lines, in the order of the pairs. Each
message such a server accepts is logged after a line that tells whether it
came over TLS 1.2 or later, whether the client resumed an earlier
session, and the server name it sent (RFC 6066 3); it offers the same
login, after STARTTLS. When such a connection ends, a line tells whether the
client closed TLS cleanly, with its close_notify alert, or just dropped the
connection. A run
of identical lines (not empty) in a message is logged as the line and its count, so that
a large message stays a short record.

Usage: /usr/bin/python3 smtp_recorder.py LOG [CERTIFICATE KEY]...
"""

import base64
import email.header
import email.utils
import hashlib
import hmac
import os
import random
import re
import socket
import ssl
import sys

import zoneinfo

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, MISSING

DATE_PATTERN = re.compile(
    r"^(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d{2} (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
    r"\d{4} \d{2}:\d{2}:\d{2} [+-]\d{4}$")


def date_verdict(text):
    try:
        sent = email.utils.parsedate_to_datetime(text)
    except (TypeError, ValueError):
        return "(malformed: %s)" % text
    if not DATE_PATTERN.match(text) or sent.tzinfo is None:
        return "(malformed: %s)" % text
    zone = zoneinfo.ZoneInfo(os.environ.get("TZ", "UTC"))
    expected = sent.replace(tzinfo=None).replace(tzinfo=zone).utcoffset()
    if sent.utcoffset() != expected:
        return "(offset %s, the zone says %s: %s)" % (sent.utcoffset(), expected, text)
    return "(well-formed, with the zone's offset)"


class ClosingObject(ssl.SSLObject):
    """The server's end of one TLS connection, which remembers the server
    name the client asked for and whether the client's close_notify came:
    unwrap() returns only once it has (before, it raises SSLWantReadError;
    after a bare end of the connection, asyncio does not call it again)."""

    server_name = None
    closed_cleanly = False

    def unwrap(self):
        result = super().unwrap()
        self.closed_cleanly = True
        return result


def remember_server_name(tls, name, context):
    tls.server_name = name


class ClosingSMTP(SMTP):
    """Logs, as a connection that went over to TLS ends, how it was closed.

    After QUIT over TLS it answers and leaves the close to the client. A
    client may close right after QUIT, with its close_notify, without
    awaiting the answer (RFC 5321 4.1.1.10 only says it SHOULD await it);
    the answer then reaches a closed socket and draws a reset, and a server
    that went on to write its own close_notify would fail on that reset and
    drop the connection before reading the client's alert."""

    async def smtp_QUIT(self, arg):
        if arg or self.session.ssl is None:
            return await super().smtp_QUIT(arg)
        await self.push("221 Bye")

    def connection_lost(self, error):
        tls = self.session.ssl.get("ssl_object") if self.session is not None and self.session.ssl else None
        if tls is not None:
            self.event_handler.note("TLS closed " + ("with the client's close_notify" if tls.closed_cleanly
                                                     else "without the client's close_notify") + "\n")
        super().connection_lost(error)


class ClosingController(Controller):
    def factory(self):
        return ClosingSMTP(self.handler, **self.SMTP_kwargs)


class Recorder:
    def __init__(self, path):
        self.path = path

    def note(self, line):
        with open(self.path, "a", encoding="utf-8") as log:
            log.write(line + "\n")

    # The only login offered, and without TLS: the client's keyed digest is
    # checked against the password "secret".
    async def auth_CRAM__MD5(self, server, args):
        nonce = b"<12345.67890@recorder.example>"
        answer = await server.challenge_auth(nonce)
        if answer is MISSING:
            return AuthResult(success=False, handled=False)
        user, _, digest = answer.decode("ascii", "replace").partition(" ")
        good = hmac.compare_digest(digest, hmac.new(b"secret", nonce, hashlib.md5).hexdigest())
        self.note("AUTH CRAM-MD5 as %s: %s" % (user, "digest matches" if good else "wrong digest " + digest))
        return AuthResult(success=good, handled=False)

    async def handle_DATA(self, server, session, envelope):
        lines = []
        if session.ssl is not None:
            version = (session.ssl.get("cipher") or (None, None))[1]
            tls = session.ssl.get("ssl_object")
            lines.append("STARTTLS: " + ("TLS 1.2 or later" if version in ("TLSv1.2", "TLSv1.3") else str(version)) +
                         (", session resumed" if tls is not None and tls.session_reused else ", new session") +
                         (", server name " + tls.server_name if tls is not None and tls.server_name
                          else ", no server name"))
        lines.append("MAIL FROM: " + envelope.mail_from)
        repeats = 0
        lines += ["RCPT TO: " + to for to in envelope.rcpt_tos]
        for line in envelope.content.decode("utf-8", "replace").split("\r\n"):
            if line.lower().startswith("message-id:"):
                # Random on the left, the sender's domain on the right.
                value = line.split(":", 1)[1].strip()
                domain = envelope.mail_from.rpartition("@")[2]
                if re.fullmatch(r"<[0-9a-f]{32}@" + re.escape(domain) + ">", value):
                    line = "Message-ID: (well-formed, the sender's domain)"
            elif line.lower().startswith("date:"):
                line = "Date: " + date_verdict(line.split(":", 1)[1].strip())
            elif line.lower().startswith("subject:") and "=?" in line:
                # An encoded subject is logged with the text it decodes to.
                decoded = str(email.header.make_header(email.header.decode_header(line.split(":", 1)[1])))
                lines.append(line)
                line = "(decoded: %s)" % decoded
            if line and line == lines[-1]:
                repeats += 1
                continue
            if repeats:
                lines.append("(the line above %d more times)" % repeats)
                repeats = 0
            lines.append(line)
        if repeats:
            lines.append("(the line above %d more times)" % repeats)
        self.note("\n".join(lines))
        return "250 Message accepted for delivery"


def free_port(taken=()):
    # The controller checks its server by connecting to the port it was
    # given, so a free port is found first; below 32768, since a script's
    # Port is a 16-bit integer.
    for port in random.sample(range(20000, 32000), 50):
        if port in taken:
            continue
        with socket.socket() as probe:
            try:
                probe.bind(("127.0.0.1", port))
                return port
            except OSError:
                continue
    raise OSError("no free port")


def main():
    recorder = Recorder(sys.argv[1])
    port = free_port()
    controllers = [Controller(recorder, hostname="127.0.0.1", port=port,
                              auth_require_tls=False, auth_exclude_mechanism=["LOGIN", "PLAIN"])]
    ports = [port]
    for certificate, key in zip(sys.argv[2::2], sys.argv[3::2]):
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(certificate, key)
        context.sslobject_class = ClosingObject
        context.sni_callback = remember_server_name
        ports.append(free_port(ports))
        controllers.append(ClosingController(recorder, hostname="127.0.0.1", port=ports[-1],
                                             tls_context=context, require_starttls=True,
                                             auth_exclude_mechanism=["LOGIN", "PLAIN"]))
    for controller in controllers:
        controller.start()
    for port in ports:
        print(port, flush=True)
    sys.stdin.read()
    for controller in controllers:
        controller.stop()


if __name__ == "__main__":
    main()
