#!/usr/bin/python3
"""qpmail against a real SMTP server.

Starts Debian's aiosmtpd on a free port of 127.0.0.1, runs the qpmail binary
named on the command line with various messages, parses what the server
received with Python's email package and checks it. A few cases use small
hand-made peers instead (a server that resets the connection, one that stays
silent). Ends with the line "N passed, M failed"; the exit status is 0 only
when every case passed.

Usage: /usr/bin/python3 e2e_aiosmtpd.py PATH/TO/qpmail
"""

import datetime
import email
import email.policy
import email.utils
import os
import re
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zoneinfo

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP

sys.dont_write_bytecode = True  # nothing left in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_support import free_port, run_cases  # noqa: E402

QPMAIL = None
DATE_PATTERN = re.compile(
    r"^(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d{2} (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
    r"\d{4} \d{2}:\d{2}:\d{2} [+-]\d{4}$")
ERROR_LINE = re.compile(r"^qpmail: error \d+: \S[^\r\n]*\n(qpmail: hint: \S[^\r\n]*\n)?$")


# --- the server ------------------------------------------------------------

class Collector:
    """Keeps every envelope that reaches the end of its data; refuses
    recipients whose address starts with "refused"."""

    def __init__(self):
        self.envelopes = []
        self.connections = 0
        self.lock = threading.Lock()

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refused"):
            return "550 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.envelopes.append(envelope)
        return "250 Message accepted for delivery"

    def reset(self):
        with self.lock:
            self.envelopes = []
            self.connections = 0


class CountingController(Controller):
    def factory(self):
        collector = self.handler

        class CountingSMTP(SMTP):
            def connection_made(self, transport):
                with collector.lock:
                    collector.connections += 1
                super().connection_made(transport)

        return CountingSMTP(self.handler, **self.SMTP_kwargs)


# --- helpers -----------------------------------------------------------------

class Fixture:
    def __init__(self, collector, port, folder):
        self.collector = collector
        self.port = port
        self.folder = folder

    def file(self, name, content):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(content)
        return path

    def run(self, args, port=None, env=None, stdin=b"", timeout=10):
        """Runs qpmail against the server (or `port`); returns the result."""
        self.collector.reset()
        command = [QPMAIL, "--server", "127.0.0.1", "--port", str(port or self.port),
                   "--timeout", str(timeout)] + args
        full_env = dict(os.environ)
        full_env.update(env or {})
        return subprocess.run(command, input=stdin, capture_output=True, timeout=40, env=full_env)

    def send(self, args, env=None, stdin=b""):
        """Runs qpmail, requires success, returns (envelope, parsed message)."""
        result = self.run(args, env=env, stdin=stdin)
        check(result.returncode == 0, f"exit status {result.returncode}, stderr {result.stderr!r}")
        check(result.stderr == b"", f"stderr on success: {result.stderr!r}")
        envelopes = self.collector.envelopes
        check(len(envelopes) == 1, f"{len(envelopes)} messages arrived")
        content = envelopes[0].content
        return envelopes[0], email.message_from_bytes(content, policy=email.policy.default), content


def check(condition, text):
    if not condition:
        raise AssertionError(text)


def equal(actual, expected, what):
    if actual != expected:
        raise AssertionError(f"{what}: expected {expected!r}, got {actual!r}")


def body_lines(part):
    """The decoded text of a part, split at its line breaks."""
    return part.get_payload(decode=True).decode("ascii").split("\r\n")


def header_lines(raw):
    """The header block of the raw message, one entry per unfolded line."""
    head = raw.split(b"\r\n\r\n", 1)[0].decode("ascii")
    return re.sub(r"\r\n[ \t]", " ", head).split("\r\n")


def names_in(raw):
    return [line.split(":", 1)[0].lower() for line in header_lines(raw)]


def expect_failure(result, line):
    """qpmail failed with status 1 and exactly `line` on standard error,
    followed by at most one line of advice."""
    equal(result.returncode, 1, "exit status")
    lines = result.stderr.decode().split("\n")
    equal(lines[0], line, "standard error")
    check(lines[-1] == "" and (len(lines) == 2 or (len(lines) == 3 and lines[1].startswith("qpmail: hint: "))),
          f"standard error: {result.stderr!r}")


def date_instant_near_now(value, what):
    moment = email.utils.parsedate_to_datetime(value)
    drift = abs((moment - datetime.datetime.now(datetime.timezone.utc)).total_seconds())
    check(drift < 300, f"{what}: Date {value!r} is {drift:.0f} s away from now")


# --- cases -------------------------------------------------------------------

def case_header_block_of_a_full_message(fx):
    body = fx.file("body.txt", b"Hello,\r\nsee you.\r\n")
    envelope, msg, raw = fx.send([
        "--from", "Ann Lee <ann@example.com>", "--to", "Bob Smith <bob@example.com>", "--to", "dave@example.com",
        "--cc", "carol@example.com", "--cc", "Erin <erin@example.com>", "--bcc", "hidden@example.com",
        "--bcc", "Secret Sam <sam@example.com>", "--reply-to", "Help Desk <help@example.com>",
        "--subject", "Quarterly report", "--organization", "Brackenfold", "--priority", "high",
        "--confirm-reading", "--header", "X-Campaign: winter", "--header", "X-Route: a: b", "--text", body,
    ], env={"TZ": "UTC"})
    equal(envelope.mail_from, "ann@example.com", "MAIL FROM")
    equal(envelope.rcpt_tos, ["bob@example.com", "dave@example.com", "carol@example.com", "erin@example.com",
                              "hidden@example.com", "sam@example.com"], "RCPT TO, in order")
    equal(msg["From"].addresses[0].display_name, "Ann Lee", "From display name")
    equal(msg["From"].addresses[0].addr_spec, "ann@example.com", "From address")
    equal([(a.display_name, a.addr_spec) for a in msg["To"].addresses],
          [("Bob Smith", "bob@example.com"), ("", "dave@example.com")], "To")
    equal([(a.display_name, a.addr_spec) for a in msg["Cc"].addresses],
          [("", "carol@example.com"), ("Erin", "erin@example.com")], "Cc")
    equal([(a.display_name, a.addr_spec) for a in msg["Reply-To"].addresses],
          [("Help Desk", "help@example.com")], "Reply-To")
    check("bcc" not in names_in(raw), f"a Bcc line was sent: {header_lines(raw)}")
    check(b"hidden@example.com" not in raw and b"sam@example.com" not in raw, "a blind copy is named in the data")
    equal(msg["Subject"], "Quarterly report", "Subject")
    equal(msg["Organization"], "Brackenfold", "Organization")
    equal(msg["X-Mailer"], "Quillpost 1.0", "X-Mailer")
    equal(msg["X-Priority"], "2", "X-Priority")
    equal(msg["X-MSMail-Priority"], "2", "X-MSMail-Priority")
    equal(msg["Disposition-Notification-To"], "ann@example.com", "Disposition-Notification-To")
    equal(msg["X-Campaign"], "winter", "X-Campaign")
    equal(msg["X-Route"], "a: b", "X-Route")
    # The caller's header lines come after the standard ones.
    names = names_in(raw)
    check(names.index("x-campaign") > names.index("x-mailer"), f"header order {names}")
    date = msg["Date"]
    check(DATE_PATTERN.match(str(date)), f"Date format {date!r}")
    check(str(date).endswith(" +0000"), f"Date zone in UTC: {date!r}")
    date_instant_near_now(str(date), "UTC")
    equal(msg.get_content_type(), "text/plain", "content type")
    equal(msg.get_content_charset(), "us-ascii", "charset")
    equal(msg.get_payload(decode=True).rstrip(b"\r\n"), b"Hello,\r\nsee you.", "body")


def case_defaults_and_a_sender_without_display_name(fx):
    body = fx.file("body.txt", b"x")
    _, msg, raw = fx.send(["--from", "ann@example.com", "--to", "bob@example.com", "--text", body,
                           "--application", "Reports 2.1"])
    equal(msg["From"].addresses[0].addr_spec, "ann@example.com", "From address")
    equal(msg["Subject"], "[no subject]", "default Subject")
    equal(msg["X-Mailer"], "Reports 2.1", "X-Mailer")
    names = names_in(raw)
    for absent in ("x-priority", "x-msmail-priority", "disposition-notification-to", "organization",
                   "reply-to", "cc", "bcc"):
        check(absent not in names, f"unexpected {absent} line in {names}")


def zone_text(zone, moment):
    """The numeric zone of `zone` at `moment`, as +hhmm or -hhmm."""
    minutes = int(moment.astimezone(zoneinfo.ZoneInfo(zone)).utcoffset().total_seconds() // 60)
    return f"{'+' if minutes >= 0 else '-'}{abs(minutes) // 60:02d}{abs(minutes) % 60:02d}"


def case_date_carries_the_true_local_offset(fx):
    body = fx.file("body.txt", b"x")
    now = datetime.datetime.now(datetime.timezone.utc)
    # Zones with half- and quarter-hour offsets, and zones west of Greenwich
    # with daylight saving time.
    zones = [("Asia/Kolkata", "+0530"), ("Asia/Kathmandu", "+0545"),
             ("America/New_York", zone_text("America/New_York", now)),
             ("America/St_Johns", zone_text("America/St_Johns", now))]
    for zone, expected in zones:
        _, msg, _ = fx.send(["--from", "a@example.com", "--to", "b@example.com", "--text", body],
                            env={"TZ": zone})
        date = str(msg["Date"])
        check(DATE_PATTERN.match(date), f"Date format {date!r}")
        check(date.endswith(" " + expected), f"{zone}: expected zone {expected}, got {date!r}")
        date_instant_near_now(date, zone)


def case_html_only_is_a_single_html_part(fx):
    html = b"<html><body><p>Hi</p></body></html>"
    _, msg, _ = fx.send(["--from", "a@example.com", "--to", "b@example.com",
                         "--html", fx.file("page.html", html)])
    equal(msg.get_content_type(), "text/html", "content type")
    check(not msg.is_multipart(), "multipart for an HTML body alone")
    equal(msg.get_payload(decode=True).rstrip(b"\r\n"), html, "HTML body")


def case_both_bodies_are_alternatives(fx):
    text = b"Plain words.\r\nSecond line."
    html = b"<p>Plain <b>words</b>.</p>\r\n<p>Second line.</p>"
    _, msg, _ = fx.send(["--from", "a@example.com", "--to", "b@example.com",
                         "--text", fx.file("t.txt", text), "--html", fx.file("h.html", html)])
    equal(msg.get_content_type(), "multipart/alternative", "content type")
    parts = msg.get_payload()
    equal([p.get_content_type() for p in parts], ["text/plain", "text/html"], "alternative parts")
    equal(parts[0].get_payload(decode=True).rstrip(b"\r\n"), text, "text part")
    equal(parts[1].get_payload(decode=True).rstrip(b"\r\n"), html, "HTML part")


def case_attachments_arrive_byte_for_byte(fx):
    files = {
        "all-bytes.bin": bytes(range(256)) * 41 + bytes(range(7)),   # not a multiple of 57 bytes
        "empty.dat": b"",
        "notes.txt": b".leading dot\r\n.\r\nbare\nLF and lone\rCR\r\n",
        "exact57": bytes((i * 7) % 256 for i in range(57)),
        "random.bin": os.urandom(300000),
    }
    paths = {name: fx.file(name, data) for name, data in files.items()}
    args = ["--from", "a@example.com", "--to", "b@example.com",
            "--text", fx.file("t.txt", b"See the files."), "--html", fx.file("h.html", b"<p>See the files.</p>")]
    for name in files:
        args += ["--attach", paths[name]]
    _, msg, _ = fx.send(args)
    equal(msg.get_content_type(), "multipart/mixed", "content type")
    parts = msg.get_payload()
    bodies = [p for p in parts if p.get_content_type() == "multipart/alternative"]
    equal(len(bodies), 1, "alternative parts inside the mixed structure")
    equal([p.get_content_type() for p in bodies[0].get_payload()], ["text/plain", "text/html"], "bodies")
    attached = [p for p in parts if p.get_content_disposition() == "attachment"]
    equal([p.get_filename() for p in attached], list(files), "attachment names, in order")
    for part, (name, data) in zip(attached, files.items()):
        equal(part["Content-Transfer-Encoding"].strip().lower(), "base64", f"{name} encoding")
        check(part.get_payload(decode=True) == data, f"{name}: decoded bytes differ from the file")
        for line in part.get_payload().split("\r\n"):
            check(len(line) <= 76, f"{name}: Base64 line of {len(line)} characters")
    by_name = {p.get_filename(): p for p in attached}
    equal(by_name["notes.txt"].get_content_type(), "text/plain", "type of a .txt file")
    equal(by_name["exact57"].get_content_type(), "application/unknown", "type of a file without extension")


def case_attachments_without_bodies(fx):
    data = os.urandom(1000)
    _, msg, _ = fx.send(["--from", "a@example.com", "--to", "b@example.com",
                         "--attach", fx.file("only.bin", data)])
    equal(msg.get_content_type(), "multipart/mixed", "content type")
    attached = [p for p in msg.get_payload() if p.get_content_disposition() == "attachment"]
    equal(len(attached), 1, "attachments")
    check(attached[0].get_payload(decode=True) == data, "decoded bytes differ from the file")


def case_lines_starting_with_a_dot_survive(fx):
    text = b"Hello\r\n.hidden\r\n.\r\n..two\r\nend"
    html = b"<p>x</p>\r\n.dotted html\r\n."
    _, msg, raw = fx.send(["--from", "a@example.com", "--to", "b@example.com",
                           "--text", fx.file("t.txt", text), "--html", fx.file("h.html", html)])
    parts = msg.get_payload()
    equal(body_lines(parts[0])[:5], ["Hello", ".hidden", ".", "..two", "end"], "text lines")
    equal(body_lines(parts[1])[:3], ["<p>x</p>", ".dotted html", "."], "HTML lines")


def case_header_named_with_a_leading_dot_arrives_intact(fx):
    _, msg, raw = fx.send(["--from", "a@example.com", "--to", "b@example.com", "--header", ".X-Tag: 1"])
    equal(msg[".X-Tag"], "1", "the .X-Tag header")


def case_bare_line_feeds_and_carriage_returns_become_line_breaks(fx):
    text = b"one\ntwo\n\nthree\rfour\n.dot after LF\r\r\nend"
    _, msg, raw = fx.send(["--from", "a@example.com", "--to", "b@example.com", "--text", fx.file("t.txt", text)])
    equal(body_lines(msg)[:8], ["one", "two", "", "three", "four", ".dot after LF", "", "end"], "text lines")
    body = raw.split(b"\r\n\r\n", 1)[1]
    check(re.search(rb"\r(?!\n)|(?<!\r)\n", body) is None, "a bare CR or LF reached the server")


def case_body_from_standard_input(fx):
    text = b"From the pipe.\r\nSecond."
    _, msg, _ = fx.send(["--from", "a@example.com", "--to", "b@example.com", "--text", "-"], stdin=text)
    equal(body_lines(msg)[:2], ["From the pipe.", "Second."], "text lines")


def case_trace_file_records_the_conversation(fx):
    trace = os.path.join(fx.folder, "trace.log")
    fx.send(["--from", "a@example.com", "--to", "b@example.com", "--text", fx.file("t.txt", b"x"),
             "--trace", trace])
    with open(trace, "rb") as f:
        lines = f.read().decode("ascii").split("\r\n")
    # The port is traced as the message holds it, in 16 signed bits.
    equal(lines[0], f"+ Connecting to server 127.0.0.1 at port {fx.port - 65536}", "first trace line")
    check("> MAIL FROM: <a@example.com>" in lines, "MAIL FROM in the trace")
    check("> RCPT TO: <b@example.com>" in lines, "RCPT TO in the trace")
    check(any(line.startswith("< 250 Message accepted") for line in lines), "acceptance in the trace")
    check("> quit" in lines, "quit in the trace")
    check(not any(line.startswith("+ Error") for line in lines), "an error in the trace of a success")


def case_line_break_in_a_header_value_fails_before_connecting(fx):
    body = fx.file("t.txt", b"x")
    base = ["--to", "b@example.com", "--text", body]
    result = fx.run(base + ["--from", "a@example.com", "--subject", "Hello\r\nBcc: victim@example.com"])
    expect_failure(result, "qpmail: error 9993: Line break not allowed in Subject")
    equal(fx.collector.connections, 0, "connections for a refused Subject")
    others = [
        (["--from", "Ann\nLee <a2@example.com>"], "FromName"),
        (["--from", "a\r@example.com"], "FromAddress"),
        (["--organization", "Bracken\rfold"], "Organization"),
        (["--application", "App\n"], "Application"),
        (["--to", "<b\nc@example.com>"], "Recipients"),
        (["--cc", "Carol\r\n <c@example.com>"], "CCs"),
        (["--bcc", "Hidden\n <h@example.com>"], "BCCs"),
        (["--reply-to", "r@example.com\nX-Evil: 1"], "ReplyTos"),
        (["--header", "X-Tag: a\r\nX-Evil: 1"], "ExtraHeaders"),
        (["--header", "X-\nTag: a"], "ExtraHeaders"),
        (["--attach", fx.file("bad\nname.txt", b"data")], "Attachments"),
    ]
    for extra, prop in others:
        result = fx.run(base + extra + ([] if "--from" in extra else ["--from", "a@example.com"]))
        expect_failure(result, f"qpmail: error 9993: Line break not allowed in {prop}")
        equal(fx.collector.connections, 0, f"connections for {extra}")


def case_refused_recipient_reports_the_servers_text(fx):
    result = fx.run(["--from", "a@example.com", "--to", "ok@example.com", "--to", "refused@example.com",
                     "--text", fx.file("t.txt", b"x")])
    expect_failure(result, "qpmail: error 9550: No such user here")
    equal(fx.collector.envelopes, [], "messages delivered")


def case_nothing_listening_is_connection_refused(fx):
    port = free_port()
    result = fx.run(["--from", "a@example.com", "--to", "b@example.com"], port=port)
    expect_failure(result, f"qpmail: error 10061: Connection refused (127.0.0.1 port {port})")


def case_usage_errors_and_help(fx):
    for args in (["--port", "0"], ["--port", "65536"], ["--port", "abc"], ["--bogus"], ["--to"],
                 ["--header", "NoSeparator"]):
        result = subprocess.run([QPMAIL] + args, capture_output=True, timeout=20)
        equal(result.returncode, 2, f"exit status for {args}")
        check(result.stderr.startswith(b"qpmail: "), f"stderr for {args}: {result.stderr!r}")
        equal(result.stdout, b"", f"stdout for {args}")
    result = subprocess.run([QPMAIL, "--help"], capture_output=True, timeout=20)
    equal(result.returncode, 0, "exit status of --help")
    check(b"--attach" in result.stdout and b"Exit status" in result.stdout, "help text")
    missing = os.path.join(fx.folder, "missing.pdf")
    result = fx.run(["--from", "a@example.com", "--to", "b@example.com", "--attach", missing])
    expect_failure(result, f"qpmail: error 53: File not found: {missing}")
    equal(fx.collector.connections, 0, "connections for a missing attachment")


def case_dry_run_writes_what_the_server_would_receive(fx):
    # The same message sent and written by --dry-run: the same bytes, but for
    # the Date line and the boundaries, which come from the clock. A leading
    # period in the body shows that the dry run comes before the doubling.
    args = ["--from", "Ann <a@example.com>", "--to", "b@example.com", "--bcc", "c@example.com",
            "--subject", "Same", "--text", fx.file("t.txt", b".first\r\nsecond\r\n"),
            "--html", fx.file("h.html", b"<p>x</p>"), "--attach", fx.file("d.bin", os.urandom(5000)),
            "--priority", "high", "--header", "X-Tag: 1"]
    _, _, sent = fx.send(args)
    result = fx.run(args + ["--dry-run"])
    equal(result.returncode, 0, "exit status of --dry-run")
    equal(fx.collector.connections, 0, "connections of --dry-run")

    def steady(raw):
        raw = re.sub(rb"^Date: [^\r]*\r\n", b"Date: -\r\n", raw, flags=re.M)
        raw = re.sub(rb"^Message-ID: <[0-9a-f]{32}@example\.com>\r\n", b"Message-ID: -\r\n", raw, flags=re.M)
        return re.sub(rb"--QP_(Mix|Alt)Boundary_[0-9_]+", rb"BOUNDARY-\1", raw)

    check(b"\r\n.first\r\n" in result.stdout, "the body's leading period is single in the dry run")
    equal(steady(result.stdout), steady(sent), "dry run against the message received")


def case_high_port_reaches_the_server(fx):
    # Ports above 32767 are stored in 16 signed bits and must still reach the
    # right port.
    check(fx.port > 32767, f"the server's port {fx.port} does not exercise the high range")
    fx.send(["--from", "a@example.com", "--to", "b@example.com", "--text", fx.file("t.txt", b"x")])


# --- text beyond ASCII --------------------------------------------------------

def check_data_section_is_7bit(raw):
    """Every line of the received data section is 7-bit and at most 998
    octets long (the limit of RFC 5322 2.1.1 for a line without its break)."""
    for number, line in enumerate(raw.split(b"\r\n"), 1):
        check(all(byte < 0x80 for byte in line), f"line {number} is not 7-bit: {line[:80]!r}")
        check(len(line) <= 998, f"line {number} has {len(line)} octets")


def header_block_lines(raw):
    """The raw lines of the header block, folds not undone."""
    return raw.split(b"\r\n\r\n", 1)[0].split(b"\r\n")


def decoded_text(part):
    return part.get_payload(decode=True).decode(part.get_content_charset())


def case_header_text_and_bodies_beyond_ascii_arrive_as_written(fx):
    subject = "Grüße aus Köln"
    text = "Liebe Zoë,\r\nviele Grüße = 1 € \r\n.punkt\r\n😀 Ende"
    html = "<p>Grüße aus <b>Köln</b></p>\r\n<p lang=\"de\">Straße</p>"
    envelope, msg, raw = fx.send([
        "--from", "Zoë Ångström <zoe@example.com>", "--to", "Jürgen Groß <juergen@example.com>",
        "--to", "Bob Smith <bob@example.com>", "--cc", "Ærøskøbing Ferry Ünïcödé Øffice Dept. <ferry@example.com>",
        "--subject", subject, "--organization", "Brackenfold – Köln", "--header", "X-Stadt: Köln am Rhein",
        "--text", fx.file("t.txt", text.encode()), "--html", fx.file("h.html", html.encode()),
    ])
    equal(msg["Subject"], subject, "Subject")
    equal(msg["From"].addresses[0].display_name, "Zoë Ångström", "From display name")
    equal(msg["From"].addresses[0].addr_spec, "zoe@example.com", "From address")
    equal([(a.display_name, a.addr_spec) for a in msg["To"].addresses],
          [("Jürgen Groß", "juergen@example.com"), ("Bob Smith", "bob@example.com")], "To")
    equal(msg["Cc"].addresses[0].display_name, "Ærøskøbing Ferry Ünïcödé Øffice Dept.", "Cc display name")
    equal(msg["Organization"], "Brackenfold – Köln", "Organization")
    equal(msg["X-Stadt"], "Köln am Rhein", "X-Stadt")
    equal(envelope.rcpt_tos, ["juergen@example.com", "bob@example.com", "ferry@example.com"], "RCPT TO")
    parts = msg.get_payload()
    equal([p.get_content_type() for p in parts], ["text/plain", "text/html"], "alternative parts")
    for part, body, what in ((parts[0], text, "text"), (parts[1], html, "HTML")):
        equal(part.get_content_charset(), "utf-8", f"{what} charset")
        equal(part["Content-Transfer-Encoding"], "quoted-printable", f"{what} encoding")
        equal(decoded_text(part).rstrip("\r\n"), body, f"{what} body")
    check_data_section_is_7bit(raw)
    for line in header_block_lines(raw):
        check(len(line) <= 78, f"header line of {len(line)} characters: {line!r}")


def case_long_subject_beyond_ascii_is_folded_and_decodes_whole(fx):
    subject = "Größenänderung " * 12 + "😀✓"
    _, msg, raw = fx.send(["--from", "a@example.com", "--to", "b@example.com", "--subject", subject,
                           "--text", fx.file("t.txt", b"x")])
    equal(msg["Subject"], subject, "Subject")
    folded = [line for line in header_block_lines(raw) if line.startswith((b"Subject:", b" "))]
    check(len(folded) > 3, f"Subject in {len(folded)} lines")
    for line in header_block_lines(raw):
        check(len(line) <= 78, f"header line of {len(line)} characters: {line!r}")
    check_data_section_is_7bit(raw)


def case_minified_html_line_of_3000_octets(fx):
    cell = '<td class="c" style="color:#333">Köln=1</td>'
    html = ("<table><tr>" + cell * 200)[:2990]
    html = html[:len(html.encode()[:2990].decode("utf-8", "ignore"))]
    html += "x" * (3000 - len(html.encode()))
    equal(len(html.encode()), 3000, "octets in the HTML line")
    _, msg, raw = fx.send(["--from", "a@example.com", "--to", "b@example.com",
                           "--html", fx.file("min.html", html.encode())])
    equal(msg.get_content_type(), "text/html", "content type")
    equal(msg.get_content_charset(), "utf-8", "charset")
    equal(decoded_text(msg).rstrip("\r\n"), html, "HTML body")
    check_data_section_is_7bit(raw)
    ascii_only = "<i>" + "a" * 2990 + "</i>"
    _, msg, raw = fx.send(["--from", "a@example.com", "--to", "b@example.com",
                           "--html", fx.file("ascii.html", ascii_only.encode())])
    equal(msg["Content-Transfer-Encoding"], "quoted-printable", "encoding of a long ASCII line")
    equal(decoded_text(msg).rstrip("\r\n"), ascii_only, "long ASCII HTML body")
    check_data_section_is_7bit(raw)


def case_attachment_names_beyond_ascii(fx):
    files = {
        "Übersicht Köln.pdf": b"%PDF-1.4 not really",
        "Ærøskøbing–Ünïcödé–Øffice–Grüße–aus–Köln–und–Zürich–Straße–Größe–Übersicht.txt": os.urandom(500),
        "plain.txt": b"plain",
    }
    args = ["--from", "a@example.com", "--to", "b@example.com", "--text", fx.file("t.txt", "Anhänge".encode())]
    for name, data in files.items():
        args += ["--attach", fx.file(name, data)]
    _, msg, raw = fx.send(args)
    attached = [p for p in msg.get_payload() if p.get_content_disposition() == "attachment"]
    equal([p.get_filename() for p in attached], list(files), "attachment names, in order")
    for part, data in zip(attached, files.values()):
        check(part.get_payload(decode=True) == data, f"{part.get_filename()}: decoded bytes differ")
    check(b'FileName = "plain.txt"' in raw, "an ASCII name is written as before")
    check_data_section_is_7bit(raw)
    for line in raw.split(b"\r\n"):
        if b"filename*" in line or b"name=" in line:
            check(len(line) <= 78, f"parameter line of {len(line)} characters: {line!r}")


def case_text_that_is_not_utf8_fails_before_connecting(fx):
    base = ["--from", "a@example.com", "--to", "b@example.com"]
    result = fx.run(base + ["--subject", b"Gr\xc3\xbc\xc3e".decode("utf-8", "surrogateescape")])
    expect_failure(result, "qpmail: error 9986: Text is not valid UTF-8 in Subject")
    result = fx.run(base + ["--text", fx.file("t.txt", b"ok\r\n\xed\xa0\x80 surrogate")])
    expect_failure(result, "qpmail: error 9986: Text is not valid UTF-8 in TextBody")
    result = fx.run(base + ["--html", fx.file("h.html", b"<p>\xc0\xafoverlong</p>")])
    expect_failure(result, "qpmail: error 9986: Text is not valid UTF-8 in HtmlBody")
    equal(fx.collector.connections, 0, "connections for text that is not UTF-8")


# --- header block: identifiers, quoting, folding, names, IDN ------------------

MESSAGE_ID = re.compile(r"^<[A-Za-z0-9]{22,}@([A-Za-z0-9-]+(\.[A-Za-z0-9-]+)*)>$")


def unfolded(raw, name):
    """The raw values of the header lines called `name`, folds taken out."""
    prefix = name.lower() + ":"
    values = []
    for line in re.split(r"\r\n(?![ \t])", raw.split(b"\r\n\r\n", 1)[0].decode("ascii")):
        if line.lower().startswith(prefix):
            values.append(re.sub(r"\r\n(?=[ \t])", "", line)[len(prefix):].removeprefix(" "))
    return values


def check_header_lines_within_998(raw):
    for line in header_block_lines(raw):
        check(len(line) <= 998, f"header line of {len(line)} octets")


def case_every_message_has_one_message_id_of_its_own(fx):
    ids = set()
    for sender, right in (("ann@example.com", "example.com"), ("Ann <ann@b\u00fccher.example>", "xn--bcher-kva.example")):
        for _ in range(10):
            _, msg, raw = fx.send(["--from", sender, "--to", "b@example.com", "--text", fx.file("t.txt", b"x")])
            values = msg.get_all("Message-ID")
            equal(len(values), 1, "Message-ID lines")
            match = MESSAGE_ID.match(str(values[0]))
            check(match, f"Message-ID syntax {values[0]!r}")
            equal(match.group(1), right, "Message-ID right side")
            ids.add(str(values[0]))
            names = names_in(raw)
            equal(names[names.index("date") + 1], "message-id", "the line after Date")
    equal(len(ids), 20, "distinct Message-IDs")
    _, msg, _ = fx.send(["--from", "a@example.com", "--to", "b@example.com",
                         "--header", "message-id: <mine@example.org>", "--header", "Date: Mon, 07 Dec 2026 08:00:00 +0100"])
    equal(msg.get_all("Message-ID"), ["<mine@example.org>"], "the caller's Message-ID")
    equal(msg.get_all("Date"), ["Mon, 07 Dec 2026 08:00:00 +0100"], "the caller's Date")


def case_hostile_names_stay_names(fx):
    hostile = 'Support" <ceo@bank.example>, "x'
    names = [hostile, 'C:\\temp\\ "quoted" \\', 'Zo\u00eb" <ceo@bank.example>, "x']
    for name in names:
        _, msg, raw = fx.send(["--from", f"{name} <ann@example.com>", "--to", f"{name} <bob@example.com>",
                               "--reply-to", f"{name} <help@example.com>", "--text", fx.file("t.txt", b"x")])
        for header, address in (("From", "ann@example.com"), ("To", "bob@example.com"), ("Reply-To", "help@example.com")):
            equal(len(msg.get_all(header)), 1, f"{header} lines for {name!r}")
            equal([(a.display_name, a.addr_spec) for a in msg[header].addresses], [(name, address)], f"{header} of {name!r}")
    files = {'say "hi".txt': b"hi", 'x" y "z.txt': b"z", "A long attachment name, folded at its blanks " * 3 + '"x".txt': b"f"}
    args = ["--from", "a@example.com", "--to", "b@example.com"]
    for name, data in files.items():
        args += ["--attach", fx.file(name, data)]
    _, msg, _ = fx.send(args)
    attached = [p for p in msg.get_payload() if p.get_content_disposition() == "attachment"]
    equal([p.get_filename() for p in attached], list(files), "attachment names")
    equal([p.get_param("name") for p in attached], list(files), "names in the content types")


def case_long_values_are_folded_and_unfold_to_themselves(fx):
    words = " ".join(f"word{i}" for i in range(300))
    run = "r" * 1500
    cases = [("Subject", words), ("Subject", "see " + run + " end"), ("X-Note", words), ("X-Blob", run)]
    for name, value in cases:
        _, msg, raw = fx.send(["--from", "a@example.com", "--to", "b@example.com", "--subject" if name == "Subject" else "--header",
                               value if name == "Subject" else f"{name}: {value}", "--text", fx.file("t.txt", b"x")])
        equal(str(msg[name]), value, f"{name} of {len(value)} characters")
        check_header_lines_within_998(raw)
        if " " in value and len(max(value.split(" "), key=len)) < 70:
            for line in header_block_lines(raw):
                check(len(line) <= 78, f"a line of {len(line)} octets where blanks allow folding: {line[:80]!r}")
            equal(unfolded(raw, name), [value], f"{name} unfolded")
    display = " ".join(["Very Long Display Name"] * 8)
    _, msg, raw = fx.send(["--from", f"{display} <a@example.com>", "--to", "b@example.com", "--text", fx.file("t.txt", b"x")])
    equal(msg["From"].addresses[0].display_name, display, "a long display name")
    for line in header_block_lines(raw):
        check(len(line) <= 78, f"a line of {len(line)} octets: {line[:80]!r}")


def case_domains_beyond_ascii_go_as_a_labels(fx):
    envelope, msg, raw = fx.send([
        "--from", "Ann <ann@b\u00fccher.example>", "--to", "bob@m\u00fcnchen.example", "--cc", "carol@example.com",
        "--bcc", "dave@\u4f8b\u3048.jp", "--reply-to", "help@fa\u00df.example", "--text", fx.file("t.txt", b"x")])
    equal(envelope.mail_from, "ann@xn--bcher-kva.example", "MAIL FROM")
    equal(envelope.rcpt_tos, ["bob@xn--mnchen-3ya.example", "carol@example.com", "dave@xn--r8jz45g.jp"], "RCPT TO")
    check(not any(o.upper() == "SMTPUTF8" for o in envelope.mail_options), f"MAIL FROM options {envelope.mail_options}")
    equal(msg["From"].addresses[0].addr_spec, "ann@xn--bcher-kva.example", "From")
    equal(msg["To"].addresses[0].addr_spec, "bob@xn--mnchen-3ya.example", "To")
    equal(msg["Reply-To"].addresses[0].addr_spec, "help@xn--fa-hia.example", "Reply-To")
    check_data_section_is_7bit(raw)
    # A local part beyond ASCII still needs SMTPUTF8, a reply address's too.
    envelope, _, raw = fx.send(["--from", "a@example.com", "--to", "b@example.com",
                                "--reply-to", "j\u00f6rg@m\u00fcnchen.example"])
    check(any(o.upper() == "SMTPUTF8" for o in envelope.mail_options), f"MAIL FROM options {envelope.mail_options}")
    msg = email.message_from_string(raw.decode("utf-8"), policy=email.policy.default)
    equal(msg["Reply-To"].addresses[0].addr_spec, "j\u00f6rg@m\u00fcnchen.example", "Reply-To beyond ASCII")


# --- hand-made peers -----------------------------------------------------------

class Peer:
    """A one-connection SMTP peer on its own thread, playing `script`."""

    def __init__(self, script):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(1)
        self.listener.settimeout(30)
        self.port = self.listener.getsockname()[1]
        self.script = script
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        try:
            conn, _ = self.listener.accept()
        except OSError:
            return
        conn.settimeout(30)
        try:
            self.script(conn)
        except OSError:
            pass
        finally:
            conn.close()

    def close(self):
        self.listener.close()
        self.thread.join(30)


def read_line(conn):
    data = b""
    while not data.endswith(b"\n"):
        chunk = conn.recv(1)
        if not chunk:
            break
        data += chunk
    return data


def reset(conn):
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    conn.close()


def play_until_data(conn):
    conn.sendall(b"220 peer ready\r\n")
    while True:
        line = read_line(conn)
        if not line:
            return False
        if line.lower().startswith(b"data"):
            conn.sendall(b"354 go ahead\r\n")
            return True
        conn.sendall(b"250 OK\r\n")


def case_peer_resetting_during_the_data_ends_in_an_error_not_a_signal(fx):
    def script(conn):
        if play_until_data(conn):
            conn.recv(65536)
            reset(conn)

    big = fx.file("big.bin", os.urandom(8 * 1024 * 1024))
    for attempt in range(3):
        peer = Peer(script)
        try:
            result = fx.run(["--from", "a@example.com", "--to", "b@example.com", "--attach", big], port=peer.port)
        finally:
            peer.close()
        check(result.returncode >= 0, f"qpmail died of signal {-result.returncode}")
        equal(result.returncode, 1, "exit status")
        check(ERROR_LINE.match(result.stderr.decode()), f"stderr {result.stderr!r}")


def case_peer_resetting_after_its_greeting(fx):
    # A connection closed by the peer reads as a server that says nothing, so
    # the wait for the reply to HELO ends with its time-out.
    def script(conn):
        conn.sendall(b"220 peer ready\r\n")
        read_line(conn)
        reset(conn)

    peer = Peer(script)
    try:
        result = fx.run(["--from", "a@example.com", "--to", "b@example.com"], port=peer.port, timeout=2)
    finally:
        peer.close()
    check(result.returncode >= 0, f"qpmail died of signal {-result.returncode}")
    equal(result.returncode, 1, "exit status")
    check(ERROR_LINE.match(result.stderr.decode()), f"stderr {result.stderr!r}")


def case_silent_server_times_out(fx):
    def script(conn):
        conn.sendall(b"220 peer ready\r\n")
        read_line(conn)
        time.sleep(4)

    peer = Peer(script)
    try:
        command = [QPMAIL, "--server", "127.0.0.1", "--port", str(peer.port), "--timeout", "1",
                   "--from", "a@example.com", "--to", "b@example.com"]
        result = subprocess.run(command, capture_output=True, timeout=30)
    finally:
        peer.close()
    expect_failure(result, "qpmail: error 9998: Timeout error while waiting for response from server "
                           f"(127.0.0.1 port {peer.port}, waiting for the reply to HELO)")


CASES = [value for name, value in list(globals().items()) if name.startswith("case_")]


def main():
    global QPMAIL
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    QPMAIL = os.path.abspath(sys.argv[1])
    collector = Collector()
    # A port above 32767, so that every case also crosses the 16-bit port.
    port = free_port()
    controller = CountingController(collector, hostname="127.0.0.1", port=port)
    controller.start()
    def run_one(case):
        with tempfile.TemporaryDirectory(prefix="qpmail-e2e-") as folder:
            case(Fixture(collector, port, folder))

    try:
        return run_cases(CASES, run_one)
    finally:
        controller.stop()


if __name__ == "__main__":
    sys.exit(main())
