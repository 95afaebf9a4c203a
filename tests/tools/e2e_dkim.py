#!/usr/bin/python3
"""Signed messages from qpmail, verified by two independent verifiers.

Starts Debian's aiosmtpd on a free port of 127.0.0.1 (offering SIZE), sends
messages signed with RSA and Ed25519 keys made by openssl for the run, and
verifies what the server received with python3-dkim and with Perl's
Mail::DKIM (dkim_verify.pl), each given the key's record instead of DNS.
Every case also checks that SIZE= of MAIL FROM is the exact size of what the
server received. One message also goes through a private Postfix instance on
loopback (Debian's postfix, run as root) that relays it to aiosmtpd. Ends with "N passed, M failed"; exit status 0 only when
every case passed.

Usage: /usr/bin/python3 e2e_dkim.py PATH/TO/qpmail
"""

import email
import email.policy
import os
import pwd
import shutil
import socket
import subprocess
import sys
import tempfile
import time

import dkim

sys.dont_write_bytecode = True  # nothing left in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from e2e_support import free_port, run_cases  # noqa: E402
from aiosmtpd.controller import Controller

QPMAIL = None
PERL_VERIFIER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "dkim_verify.pl")


class Collector:
    def __init__(self):
        self.envelopes = []
        self.mail_options = []

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        self.mail_options.append(mail_options)
        envelope.mail_from = address
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.envelopes.append(envelope)
        return "250 Message accepted for delivery"


def check(condition, text):
    if not condition:
        raise AssertionError(text)


class Run:
    def __init__(self, folder, port, collector):
        self.folder, self.port, self.collector = folder, port, collector
        self.keys = {}
        for kind, args in (("rsa", ["-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048"]),
                           ("ed25519", ["-algorithm", "ED25519"])):
            path = os.path.join(folder, kind + ".pem")
            subprocess.run(["openssl", "genpkey", *args, "-out", path], check=True, capture_output=True)
            record = subprocess.run([QPMAIL, "--dkim-print-record", "--dkim-key", path], check=True,
                                    capture_output=True).stdout.decode().strip()
            check(record.startswith(f"v=DKIM1; k={kind}; p="), record)
            self.keys[kind] = (path, record)

    def file(self, name, content):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(content)
        return path

    def qpmail(self, args, env=None):
        self.collector.envelopes.clear()
        self.collector.mail_options.clear()
        full_env = dict(os.environ)
        full_env.update(env or {})
        return subprocess.run([QPMAIL, "--server", "127.0.0.1", "--port", str(self.port), "--security", "may",
                               "--from", "Ann Lee <ann@example.com>", "--to", "bob@example.org", *args],
                              capture_output=True, timeout=120, env=full_env)

    def send(self, args, env=None):
        """Sends, requires success and the exact SIZE; returns the received bytes."""
        result = self.qpmail(args, env)
        check(result.returncode == 0, f"exit {result.returncode}: {result.stderr!r}")
        check(len(self.collector.envelopes) == 1, "one message received")
        data = self.collector.envelopes[0].original_content
        check(self.collector.mail_options[0] == [f"SIZE={len(data)}"],
              f"{self.collector.mail_options[0]} for {len(data)} octets")
        return data

    def signed(self, kind, args, env=None):
        """Sends with the key of `kind`; both verifiers must pass."""
        path, record = self.keys[kind]
        data = self.send(["--dkim-selector", "qp", "--dkim-key", path, *args], env)
        verify(data, record, kind)
        return data


def python_verifies(data, record):
    return dkim.verify(data, dnsfunc=lambda name, timeout=5: record.encode())


def perl_verifies(data, record, folder):
    path = os.path.join(folder, "received.eml")
    with open(path, "wb") as f:
        f.write(data)
    result = subprocess.run(["perl", PERL_VERIFIER, path, record], capture_output=True, timeout=300)
    return result.returncode == 0, result.stdout.decode().strip()


def verify(data, record, kind):
    signature = b"DKIM-Signature: v=1; a=" + (b"rsa" if kind == "rsa" else b"ed25519")
    check(data.startswith(signature) or b"\r\n" + signature in data.split(b"\r\n\r\n")[0], data[:80])
    check(python_verifies(data, record), "python3-dkim does not verify the signature")
    # Debian 12's Mail::DKIM (1.20230212) knows rsa-sha256 only.
    if kind == "rsa":
        with tempfile.TemporaryDirectory(prefix="qp-dkim-") as folder:
            ok, detail = perl_verifies(data, record, folder)
        check(ok, "Mail::DKIM: " + detail)


# --- cases ---------------------------------------------------------------------

def case_text_only_rsa(run):
    run.signed("rsa", ["--subject", "Report", "--text", run.file("t.txt", b"Hello Bob,\r\nsee you.\r\n")])


def case_bodies_and_attachments_both_keys(run):
    pdf = run.file("report.pdf", bytes(range(256)) * 40)
    empty = run.file("empty.txt", b"")
    for kind in ("rsa", "ed25519"):
        data = run.signed(kind, ["--text", run.file("t.txt", b"Text\r\n"), "--html", run.file("h.html", b"<p>Html</p>"),
                                 "--attach", pdf, "--attach", empty])
        msg = email.message_from_bytes(data, policy=email.policy.default)
        parts = [p.get_filename() for p in msg.iter_attachments()]
        check(parts == ["report.pdf", "empty.txt"], parts)


def case_text_beyond_ascii(run):
    for kind in ("rsa", "ed25519"):
        data = run.signed(kind, ["--from-name", "Zoë Ærø", "--subject", "Grüße aus Köln – 東京",
                                 "--text", run.file("t.txt", "Übermäßig schön, naïve café.\r\n".encode()),
                                 "--attach", run.file("bericht-ä.txt", "ä\n".encode())])
        msg = email.message_from_bytes(data, policy=email.policy.default)
        check(str(msg["Subject"]) == "Grüße aus Köln – 東京", msg["Subject"])


def case_extra_headers_are_signed(run):
    data = run.signed("rsa", ["--header", "X-Campaign: spring", "--header", "X-Tag: one",
                              "--header", "List-Unsubscribe: <mailto:unsubscribe@example.com>",
                              "--text", run.file("t.txt", b"x")])
    msg = email.message_from_bytes(data, policy=email.policy.compat32)
    tags = dict(t.strip().split("=", 1) for t in msg["DKIM-Signature"].split(";") if t.strip())
    signed = [n.strip() for n in tags["h"].split(":")]
    check(signed == ["From", "From", "To", "Cc", "Reply-To", "Subject", "Date", "Message-ID", "MIME-Version",
                     "Content-Type", "X-Campaign", "X-Tag", "List-Unsubscribe"], signed)
    check("l" not in tags and tags["t"].isdigit() and abs(int(tags["t"]) - time.time()) < 600, tags)
    # A From added anywhere (From is signed once more than it stands), or an
    # extra header line added below the signed one, breaks the signature.
    _, record = run.keys["rsa"]
    for before, added in ((b"X-Mailer:", b"From: mallory@example.net\r\n"), (b"List-Unsubscribe:", b"X-Tag: two\r\n")):
        check(not python_verifies(data.replace(b"\r\n" + before, b"\r\n" + added + before, 1), record),
              f"{added!r} added went unnoticed")


def case_body_ending_in_blank_lines_and_periods(run):
    body = b"Line one  \t\r\n.leading period\r\n.\r\n\r\n \r\n\r\n\r\n"
    for kind in ("rsa", "ed25519"):
        data = run.signed(kind, ["--text", run.file("t.txt", body)])
        check(b"\r\n.leading period\r\n.\r\n" in data, "periods restored by the server")


def case_registry_turns_signing_on(run):
    path, record = run.keys["rsa"]
    registry = run.file("registry.reg", (
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost\\Dkim\\example.com]\r\n"
        f"\"Selector\"=\"qp\"\r\n\"KeyFile\"=\"{path}\"\r\n").encode())
    data = run.send(["--text", run.file("t.txt", b"signed by the registry")], env={"QUILLPOST_REGISTRY": registry})
    verify(data, record, "rsa")
    check(b"; d=example.com; s=qp;" in data.split(b"\r\n\r\n")[0], "d= and s= from the registry")


def case_altered_message_fails_both_verifiers(run):
    path, record = run.keys["rsa"]
    data = run.signed("rsa", ["--text", run.file("t.txt", b"Pay 10 EUR\r\n")])
    altered = data.replace(b"Pay 10 EUR", b"Pay 99 EUR")
    check(not python_verifies(altered, record), "python3-dkim passed an altered body")
    ok, detail = perl_verifies(altered, record, run.folder)
    check(not ok and detail.startswith("fail"), "Mail::DKIM: " + detail)


def case_fifty_mib_attachment(run):
    path = os.path.join(run.folder, "big.bin")
    with open(path, "wb") as f:
        f.truncate(50 * 1024 * 1024)
        f.seek(12345)
        f.write(b"not all zeros")
    data = run.signed("rsa", ["--text", run.file("t.txt", b"big"), "--attach", path])
    check(len(data) > 50 * 1024 * 1024 * 4 // 3, len(data))


def case_size_refused_at_mail_from(run):
    port = free_port()
    small = Controller(Collector(), hostname="127.0.0.1", port=port, data_size_limit=2000)
    small.start()
    try:
        result = subprocess.run([QPMAIL, "--server", "127.0.0.1", "--port", str(port), "--security", "may",
                                 "--from", "ann@example.com", "--to", "bob@example.org",
                                 "--attach", run.file("a.bin", b"x" * 5000)], capture_output=True, timeout=60)
        check(result.returncode == 1 and result.stderr.startswith(b"qpmail: error 9552: "), result.stderr)
        check(small.handler.envelopes == [] and small.handler.mail_options == [], "nothing of the message arrived")
    finally:
        small.stop()


MAIN_CF = """compatibility_level = 3.6
queue_directory = {folder}/queue
data_directory = {folder}/data
mail_owner = postfix
setgid_group = postdrop
myhostname = relay.quillpost.test
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
relayhost = [127.0.0.1]:{relay}
smtpd_relay_restrictions = permit_mynetworks, reject
maillog_file = /dev/stdout
alias_maps =
alias_database =
local_recipient_maps =
"""

MASTER_CF = """127.0.0.1:{port} inet n - n - - smtpd
cleanup unix n - n - 0 cleanup
qmgr unix n - n 300 1 qmgr
rewrite unix - - n - - trivial-rewrite
bounce unix - - n - 0 bounce
defer unix - - n - 0 bounce
trace unix - - n - 0 bounce
verify unix - - n - 1 verify
flush unix n - n 1000? 0 flush
proxymap unix - - n - - proxymap
smtp unix - - n - - smtp
relay unix - - n - - smtp
showq unix n - n - - showq
error unix - - n - - error
retry unix - - n - - error
discard unix - - n - - discard
anvil unix - - n - 1 anvil
scache unix - - n - 1 scache
postlog unix-dgram n - n - 1 postlogd
"""


def case_signature_survives_transit_through_postfix(run):
    """A private Postfix instance on loopback relays the signed message to
    aiosmtpd; both verifiers pass on what arrives (with Postfix's Received
    line and whatever else it changed)."""
    check(os.geteuid() == 0 and os.access("/usr/sbin/postfix", os.X_OK), "needs root and Debian's postfix")
    folder = tempfile.mkdtemp(prefix="qp-postfix-")
    os.chmod(folder, 0o755)  # the postfix user reaches its queue through it
    port = free_port()
    try:
        os.makedirs(os.path.join(folder, "etc"))
        os.makedirs(os.path.join(folder, "data"))
        os.makedirs(os.path.join(folder, "queue"))
        os.chown(os.path.join(folder, "data"), pwd.getpwnam("postfix").pw_uid, -1)
        with open(os.path.join(folder, "etc", "main.cf"), "w") as f:
            f.write(MAIN_CF.format(folder=folder, relay=run.port))
        with open(os.path.join(folder, "etc", "master.cf"), "w") as f:
            f.write(MASTER_CF.format(port=port))
        config = os.path.join(folder, "etc")
        postfix = subprocess.Popen(["/usr/sbin/postfix", "-c", config, "start-fg"], stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT)
        try:
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline:
                try:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                    break
                except OSError:
                    time.sleep(0.2)
            path, record = run.keys["rsa"]
            run.collector.envelopes.clear()
            result = subprocess.run([QPMAIL, "--server", "127.0.0.1", "--port", str(port), "--security", "may",
                                     "--from", "Ann Lee <ann@example.com>", "--to", "bob@example.org",
                                     "--subject", "Through Postfix", "--dkim-selector", "qp", "--dkim-key", path,
                                     # A relay adds a Message-ID line to a message without one (after the
                                     # signature, which then fails): the message brings its own.
                                     "--header", f"Message-ID: <transit.{time.time_ns()}@example.com>",
                                     "--text", run.file("t.txt", b"Relayed  \r\n.with a period\r\n\r\n"),
                                     "--attach", run.file("r.bin", bytes(range(256)) * 100)],
                                    capture_output=True, timeout=60)
            if result.returncode != 0:
                postfix.terminate()
                raise AssertionError(f"{result.stderr!r}; postfix: {postfix.communicate(timeout=30)[0]!r}")
            while time.monotonic() < deadline and not run.collector.envelopes:
                time.sleep(0.2)
            check(len(run.collector.envelopes) == 1, "nothing relayed within 30 s")
            data = run.collector.envelopes[0].original_content
            check(b"relay.quillpost.test" in data.split(b"\r\n\r\n")[0], "no Received line of the relay")
            verify(data, record, "rsa")
        finally:
            subprocess.run(["/usr/sbin/postfix", "-c", config, "stop"], capture_output=True, timeout=60)
            try:
                postfix.wait(30)
            except subprocess.TimeoutExpired:
                postfix.kill()
                postfix.wait()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


CASES = [v for k, v in sorted(globals().items()) if k.startswith("case_")]


def main():
    global QPMAIL
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    QPMAIL = os.path.abspath(sys.argv[1])
    collector = Collector()
    port = free_port()
    controller = Controller(collector, hostname="127.0.0.1", port=port, data_size_limit=256 * 1024 * 1024)
    controller.start()
    try:
        with tempfile.TemporaryDirectory(prefix="qpmail-dkim-") as folder:
            run = Run(folder, port, collector)
            return run_cases(CASES, lambda case: case(run))
    finally:
        controller.stop()


if __name__ == "__main__":
    sys.exit(main())
