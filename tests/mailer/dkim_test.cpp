// DKIM signing and SIZE: the canonicalizations against the cases of RFC 6376,
// the keys that are refused before connecting, the size announced with MAIL
// FROM, and an attachment that changes while it is sent. Whether receivers
// accept the signatures is tried with real verifiers (tests/tools/e2e_dkim.py).
#include "mailer/dkim.hpp"
#include "tests/mailer/send_support.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_keys.hpp"

#include <quillpost/host_events.hpp>

#include <fstream>

namespace quillpost::test {
namespace {

std::string DigestOf(std::string_view text) {
    Sha256 hash;
    hash.Update(text);
    const Sha256Digest d = hash.Peek();
    return std::string(d.begin(), d.end());
}


TEST(RelaxedBody, CanonicalizesAsRfc6376InPiecesOfAnySize) {
    struct Case {
        std::string body, canonical;
    } cases[] = {
        {" C \r\nD \t E\r\n\r\n\r\n", " C\r\nD E\r\n"},  // RFC 6376 3.4.5
        {"", ""},
        {"\r\n\r\n", ""},
        {"abc", "abc\r\n"},
        {"a\r\n\r\nb\r\n \t\r\n\r\n", "a\r\n\r\nb\r\n"},
        {"a \t \r\n  \r\nb", "a\r\n\r\nb\r\n"},
        {"a\rb\r\n", "a\rb\r\n"},
        {"a \rb \n c\r\n", "a \rb \n c\r\n"},
    };
    for (const Case& c : cases) {
        for (const std::size_t piece : {c.body.size() + 1, std::size_t{1}, std::size_t{2}, std::size_t{3}}) {
            Sha256 hash;
            RelaxedBody body(hash);
            for (std::size_t at = 0; at < c.body.size(); at += piece) body.Write(std::string_view(c.body).substr(at, piece));
            body.Finish();
            const Sha256Digest d = hash.Peek();
            EXPECT_EQ(std::string(d.begin(), d.end()), DigestOf(c.canonical)) << c.body << " in pieces of " << piece;
        }
    }
}

TEST(RelaxedHeader, CanonicalizesAsRfc6376) {
    const std::pair<std::string, std::string> cases[] = {
        {"A: X\r\n", "a:X\r\n"},  // RFC 6376 3.4.5
        {"B : Y\t\r\n\tZ  \r\n", "b:Y Z\r\n"},
        {"Subject:   \r\n", "subject:\r\n"},
        {"DKIM-Signature: h=From:\r\n\tTo; b=", "dkim-signature:h=From: To; b=\r\n"},
        {"X-Tag:a:  b\r\n", "x-tag:a: b\r\n"},
    };
    for (const auto& [field, canonical] : cases) EXPECT_EQ(RelaxedHeader(field), canonical) << field;
    EXPECT_EQ(HeaderFields("A: 1\r\nB: 2\r\n\tmore\r\nC: 3\r\n"),
              (std::vector<std::string_view>{"A: 1\r\n", "B: 2\r\n\tmore\r\n", "C: 3\r\n"}));
}

// Greets with EHLO offering `extensions`, accepts the envelope and the
// data; the message asks for EHLO (Security May) without TLS.
void PlayExtendedServer(ScriptedPeer& peer, Message& message, const std::string& extensions) {
    peer.Send("220 ready\r\n").ExpectLine().Send("250-hello\r\n" + extensions + "250 8BITMIME\r\n");
    peer.ExpectLine().Send("250 sender ok\r\n").ExpectLine().Send("250 recipient ok\r\n");
    peer.ExpectLine("data").Send("354 go ahead\r\n").ReadUntil("\r\n.\r\n").Send("250 queued\r\n");
    peer.ExpectLine("quit").ReadToEnd();
    peer.Start();
    message.Port(peer.port());
    message.Security(Security::May);
}

std::string MailFromLine(const ScriptedPeer& peer) {
    for (const auto& line : peer.Lines())
        if (line.starts_with("MAIL FROM:")) return line;
    return {};
}

void SignWith(Message& message, const std::string& file) {
    message.DkimSelector("sel");
    message.DkimKeyFile(file);
}

class DkimSendTest : public SendFixture {
protected:
    TempDir dir;
};

TEST_F(DkimSendTest, SizeIsTheExactOctetCountWhenTheServerOffersIt) {
    const std::string attachment = dir.write("a.bin", std::string(1000, 'x'));
    const std::string key = dir.write("key.pem", NewKeyPem("ED25519"));
    const std::function<void(Message&)> cases[] = {
        [](Message&) {},
        [&](Message& m) {
            m.TextBody("Hello\r\n.dotted\r\n\r\n");
            m.HtmlBody("<p>Grüße</p>");
            m.Attachments()->Add(attachment);
        },
        [&](Message& m) {
            m.TextBody("signed");
            SignWith(m, key);
        },
    };
    for (const auto& setUp : cases) {
        ScriptedPeer server;
        auto m = NewTestMessage();
        setUp(*m);
        PlayExtendedServer(server, *m, "250-SIZE 10000000\r\n");
        m->send();
        ASSERT_TRUE(server.Finished());
        std::string data = DataSection(server.Received());
        // The data as the server keeps it: with the periods that begin a
        // line taken away again (RFC 5321 4.5.2).
        for (std::size_t at = data.find("\r\n.."); at != std::string::npos; at = data.find("\r\n..", at + 3))
            data.erase(at + 2, 1);
        EXPECT_EQ(MailFromLine(server), "MAIL FROM: <ann@example.com> SIZE=" + std::to_string(data.size()));
    }
}

TEST_F(DkimSendTest, NoSizeWithHeloOrWhenTheServerDoesNotOfferIt) {
    PlayExtendedServer(peer, *message, "250-PIPELINING\r\n");
    message->send();
    ASSERT_TRUE(peer.Finished());
    EXPECT_EQ(MailFromLine(peer), "MAIL FROM: <ann@example.com>");

    ScriptedPeer helo;
    auto plain = NewTestMessage();
    SendAndCaptureWith(helo, *plain);
    EXPECT_TRUE(helo.Lines().at(0).starts_with("HELO "));
    EXPECT_EQ(helo.Lines().at(1), "MAIL FROM: <ann@example.com>");
}

TEST_F(DkimSendTest, ASizeRefusedAtMailFromEndsTheSendBeforeAnyData) {
    peer.Send("220 ready\r\n").ExpectLine().Send("250-hello\r\n250 SIZE 100\r\n");
    peer.ExpectLine().Send("552 5.3.4 Message size exceeds fixed limit\r\n").ReadToEnd();
    peer.Start();
    message->Port(peer.port());
    message->Security(Security::May);
    message->Attachments()->Add(dir.write("big.bin", std::string(5000, 'x')));
    const Error e = ErrorOf([&] { message->send(); });
    EXPECT_EQ(e.number(), 9552);
    EXPECT_EQ(e.description(), "5.3.4 Message size exceeds fixed limit\r\n");
    ASSERT_TRUE(peer.Finished());
    EXPECT_EQ(peer.Received().find("data"), std::string::npos) << peer.Received();
    EXPECT_EQ(peer.Received().find("RCPT"), std::string::npos);
}

TEST_F(DkimSendTest, AnAttachmentThatChangesEndsTheSendBeforeTheEndOfData) {
    struct Case {
        bool sign;
        std::string changed;  // the file's new content; empty: the file is removed
    } cases[] = {
        {true, std::string(3000, 'y')},     // same length, other bytes
        {false, std::string(3001, 'x')},    // unsigned, one byte longer
        {true, ""},
    };
    for (const Case& c : cases) {
        ScriptedPeer server;
        auto m = NewTestMessage();
        const std::string path = dir.write("moving.bin", std::string(3000, 'x'));
        m->Attachments()->Add(path);
        if (c.sign) SignWith(*m, dir.write("key.pem", NewKeyPem("RSA", 1024)));
        server.Send("220 ready\r\n").ExpectLine().Send("250-hello\r\n250 SIZE\r\n");
        server.ExpectLine().Send("250 sender ok\r\n").ExpectLine().Send("250 recipient ok\r\n");
        server.ExpectLine("data").Send("354 go ahead\r\n").ReadToEnd();
        server.Start();
        m->Port(server.port());
        m->Security(Security::May);
        // The host's events run while the server is awaited: by then the
        // first pass has read the file (for SIZE, the wait for the sender's
        // reply comes after it).
        int waits = 0;
        const PendingEventsHook saved = SetPendingEventsHook([&] {
            if (server.Received().find("MAIL FROM") == std::string::npos || waits++ > 0) return;
            if (c.changed.empty())
                std::remove(path.c_str());
            else
                dir.write("moving.bin", c.changed);
        });
        const Error e = ErrorOf([&] { m->send(); });
        SetPendingEventsHook(saved);
        EXPECT_EQ(e.number(), 9989);
        EXPECT_EQ(e.description(), "An attachment changed while it was being sent: " + path);
        ASSERT_TRUE(server.Finished());
        EXPECT_EQ(server.Received().find("\r\n.\r\n"), std::string::npos);
        EXPECT_NE(server.Received().find("data\r\n"), std::string::npos);
    }
}

// The signing runs beside the connection's set-up: when it fails, the
// conversation that has begun ends with QUIT and before MAIL FROM, and the
// error raised is the signing's.
TEST_F(DkimSendTest, ASigningThatFailsEndsTheConversationBeforeMailFrom) {
    const std::string path = dir.write("gone.bin", "soon gone");
    message->Attachments()->Add(path);
    SignWith(*message, dir.write("key.pem", NewKeyPem("ED25519")));
    std::remove(path.c_str());
    peer.Send("220 ready\r\n").ExpectLine().Send("250-hello\r\n250 8BITMIME\r\n");
    peer.ExpectLine("quit").ReadToEnd();
    peer.Start();
    message->Port(peer.port());
    message->Security(Security::May);
    const Error e = ErrorOf([&] { message->send(); });
    EXPECT_EQ(e.number(), 53);
    EXPECT_EQ(e.description(), "File not found");
    ASSERT_TRUE(peer.Finished());
    EXPECT_EQ(peer.Received().find("MAIL FROM"), std::string::npos) << peer.Received();
}

TEST_F(DkimSendTest, UnusableKeysAndMissingSettingsAreRefusedBeforeConnecting) {
    peer.Start();
    const std::string missing = dir.file("none.pem");
    const std::string text = dir.write("text.pem", "not a key\n");
    const std::string encrypted = dir.write("enc.pem", NewKeyPem("RSA", 1024, true));
    const std::string shortKey = dir.write("short.pem", NewKeyPem("RSA", 512));
    const std::string ec = dir.write("ec.pem", NewKeyPem("EC"));
    const std::string good = dir.write("good.pem", NewKeyPem("ED25519"));
    EnvGuard registry("QUILLPOST_REGISTRY",
                      dir.write("r.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost\\Dkim\\"
                                         "EXAMPLE.com]\r\n\"KeyFile\"=\"" + good + "\"\r\n"));
    const auto key = [](const std::string& file, std::string selector = "sel") {
        return [=](Message& m) {
            m.DkimKeyFile(file);
            m.DkimSelector(selector);
        };
    };
    ExpectRefusedBeforeConnecting(
        peer, dir.file("trace.log"),
        {
            {key(missing), "cannot read " + missing + ": File not found"},
            {key(text), text + " holds no unencrypted private key in PEM form"},
            {key(encrypted), encrypted + " holds no unencrypted private key in PEM form"},
            {key(shortKey), "the RSA key in " + shortKey + " has 512 bits; at least 1024 are needed"},
            {key(ec), "the key in " + ec + " is neither RSA nor Ed25519"},
            {key(good, ""), "DkimSelector is not set for " + good},
            {[](Message& m) { m.DkimDomain("example.com"); }, "DkimKeyFile is not set"},
            {[](Message&) {},
             "no value \"Selector\" in HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost\\Dkim\\example.com for " +
                 good},
        },
        9988, "DKIM key cannot be used: ");
}

TEST_F(DkimSendTest, TheRegistryTurnsSigningOnForTheSendersDomainAndTheKeyStaysOutOfTheTrace) {
    const std::string pem = NewKeyPem("RSA", 1024);
    const std::string keyFile = dir.write("reg.pem", pem);
    EnvGuard registry("QUILLPOST_REGISTRY",
                      dir.write("r.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost\\Dkim\\"
                                         "example.com]\r\n\"KeyFile\"=\"" + keyFile + "\"\r\n\"Selector\"=\"reg\"\r\n"));
    message->TraceFile(dir.file("trace.log"));
    message->ExtraHeaders()->Add("X-Tag", "a");
    message->BCCs()->Add("hidden@example.net");
    const std::string data = SendAndCapture(2);
    EXPECT_TRUE(data.starts_with("DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.com; s=reg;\r\n\tt="))
        << data;
    const std::string h = data.substr(data.find("h="), data.find(";", data.find("h=")) - data.find("h="));
    EXPECT_EQ(h, "h=From:From:To:Cc:Reply-To:Subject:Date:Message-ID:\r\n\tMIME-Version:Content-Type:X-Tag");
    EXPECT_EQ(data.find("Bcc"), std::string::npos);
    const std::string trace = TempDir::read(dir.file("trace.log"));
    EXPECT_NE(trace.find("> DKIM-Signature: "), std::string::npos);
    // No line of the key's Base64 reaches the trace.
    const std::string keyLine = pem.substr(pem.find('\n') + 1, 64);
    EXPECT_EQ(trace.find(keyLine), std::string::npos);
}

}  // namespace
}  // namespace quillpost::test
