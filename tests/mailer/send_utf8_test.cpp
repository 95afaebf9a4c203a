// Messages whose text goes beyond ASCII or beyond the longest line, as they
// reach a server: encoded words in the header block, RFC 2231 file names,
// quoted-printable bodies, and the refusal of text that is not UTF-8.
#include "tests/mailer/send_support.hpp"
#include "tests/support/temp_dir.hpp"

#include <quillpost/message.hpp>

#include <gtest/gtest.h>

using namespace quillpost;
using namespace quillpost::test;

namespace {

const std::string kUmlautA = "\xC3\xA4";  // ä

class SendUtf8Test : public SendFixture {
protected:
    TempDir dir;
    EnvGuard mimeTypes{"QUILLPOST_MIME_TYPES", dir.write("mime.types", "")};

    static std::string HeaderBlock(const std::string& data) { return data.substr(0, data.find("\r\n\r\n") + 2); }

    const std::string date = "Date: Sun, 06 Dec 2026 22:20:18 +0000\r\nMessage-ID: <ID@example.com>\r\n";
    const std::string head = date +
                             "From: \"Ann Lee\" <ann@example.com>\r\n"
                             "Subject: [no subject]\r\n"
                             "To: \"Bob\" <bob@example.com>\r\n"
                             "X-Mailer: Quillpost 1.0\r\n"
                             "MIME-Version: 1.0\r\n";
};

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

TEST_F(SendUtf8Test, HeaderTextBeyondAsciiIsEncodedWordsAndAsciiStaysAsItIs) {
    message->FromName("Zo\xC3\xAB \xC3\x85ngstr\xC3\xB6m");
    message->Subject("Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln");
    message->Recipients()->Add("carol@example.com", Repeat(kUmlautA, 21));
    message->CCs()->Add("joerg@example.com", "J\xC3\xBCrgen Gro\xC3\x9F");
    message->Organization("Br\xC3\xA4" "ckenfold");
    message->Application("Q\xC3\xBCillpost 2.0");
    message->ExtraHeaders()->Add("X-City", "Z\xC3\xBCrich");
    message->ExtraHeaders()->Add("X-Plain", "as it is");
    const std::string data = SendAndCapture(3);
    EXPECT_EQ(HeaderBlock(data),
              date +
                  "From: =?utf-8?B?Wm/DqyDDhW5nc3Ryw7Zt?= <ann@example.com>\r\n"
                  "Subject: =?utf-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=\r\n"
                  "To: \"Bob\" <bob@example.com>,\r\n"
                  // The address and its comma would pass 78 characters.
                  " =?utf-8?B?w6TDpMOkw6TDpMOkw6TDpMOkw6TDpMOkw6TDpMOkw6TDpMOkw6TDpMOk?=\r\n"
                  " <carol@example.com>\r\n"
                  "Cc: =?utf-8?B?SsO8cmdlbiBHcm/Dnw==?= <joerg@example.com>\r\n"
                  "Organization: =?utf-8?B?QnLDpGNrZW5mb2xk?=\r\n"
                  "X-Mailer: =?utf-8?B?UcO8aWxscG9zdCAyLjA=?=\r\n"
                  "X-City: =?utf-8?B?WsO8cmljaA==?=\r\n"
                  "X-Plain: as it is\r\n"
                  "MIME-Version: 1.0\r\n");
}

TEST_F(SendUtf8Test, AnAddressBeyondAsciiGoesOnlyToAServerThatTakesIt) {
    // RFC 6531: the envelope says SMTPUTF8, and only to a server that offers it.
    for (const bool offered : {true, false}) {
        ScriptedPeer server;
        server.Send("220 hi\r\n").ExpectLine("EHLO quillpost.localdomain");
        server.Send(offered ? "250-hi\r\n250 SMTPUTF8\r\n" : "250-hi\r\n250 8BITMIME\r\n");
        if (offered) {
            server.ExpectLine().Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine("data");
            server.Send("354 go\r\n").ReadUntil("\r\n.\r\n").Send("250 queued\r\n");
        }
        server.ReadToEnd();
        server.Start();
        auto m = NewTestMessage();
        m->Recipients()->Clear();
        m->Recipients()->Add("j\xC3\xB6rg@example.com");
        m->Port(server.port());
        const Error e = ErrorOf([&] { m->send(); });
        EXPECT_TRUE(server.Finished());
        if (offered) {
            EXPECT_EQ(e.number(), 0) << e.description();
            EXPECT_NE(server.Received().find("MAIL FROM: <ann@example.com> SMTPUTF8\r\nRCPT TO: <j\xC3\xB6rg@example.com>\r\n"),
                      std::string::npos);
        } else {
            EXPECT_EQ(e.number(), 9985);
            EXPECT_EQ(server.Received().find("MAIL FROM"), std::string::npos);
        }
    }
}

TEST_F(SendUtf8Test, LongHeaderTextIsFoldedWithin78CharactersAndAsciiIsNot) {
    message->Subject(Repeat("\xC3\xB6", 100));
    message->ExtraHeaders()->Add("X-Long-Ascii", std::string(100, 'a'));
    const std::string block = HeaderBlock(SendAndCapture());
    std::size_t start = 0;
    std::size_t subjectLines = 0;
    bool inSubject = false;
    for (std::size_t end; (end = block.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = block.substr(start, end - start);
        inSubject = line.starts_with("Subject: ") || (inSubject && line.starts_with(" "));
        if (inSubject) {
            ++subjectLines;
            EXPECT_LE(line.size(), 78u) << line;
        }
    }
    // 200 bytes: 42 on the first line, 45 on each line after it.
    EXPECT_EQ(subjectLines, 5u);
    EXPECT_NE(block.find("\r\nX-Long-Ascii: " + std::string(100, 'a') + "\r\n"), std::string::npos);
}

struct BodyCase {
    const char* what;
    std::string text;
    std::string html;
    std::string parts;  // everything after the MIME-Version line
};

TEST_F(SendUtf8Test, BodiesBeyondAsciiOrWithLongLinesAreQuotedPrintableUtf8) {
    const std::string long998(998, 'x');
    // 3,000 characters, none of them encoded: 39 lines of 75 and a soft
    // break, and the last 75.
    const std::string line3000 = Repeat("<b>x</b>", 375);
    std::string encoded3000;
    for (std::size_t at = 0; at < 2925; at += 75) encoded3000 += line3000.substr(at, 75) + "=\r\n";
    encoded3000 += line3000.substr(2925);
    const BodyCase cases[] = {
        {"text beyond ASCII", "Gr\xC3\xBC\xC3\x9F" "e\r\n= 1 \r\n.x", "",
         "Content-Type: text/plain; charset=utf-8\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n"
         "\r\n"
         "Gr=C3=BC=C3=9Fe\r\n"
         "=3D 1=20\r\n"
         "..x\r\n"
         "\r\n"},
        {"a line of 998 ASCII octets stays as it is", long998, "",
         "Content-Type: text/plain; charset=us-ascii\r\n\r\n" + long998 + "\r\n\r\n"},
        {"a line of 999 ASCII octets is encoded", long998 + "y", "",
         "Content-Type: text/plain; charset=utf-8\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n"
         "\r\n" +
             Repeat(std::string(75, 'x') + "=\r\n", 13) + std::string(23, 'x') + "y\r\n\r\n"},
        {"a minified HTML line of 3,000 octets", "", line3000,
         "Content-Type: text/html; charset=utf-8\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n"
         "\r\n" +
             encoded3000 + "\r\n\r\n"},
    };
    for (const BodyCase& c : cases) {
        ScriptedPeer server;
        const auto m = NewTestMessage();
        m->TextBody(c.text);
        m->HtmlBody(c.html);
        EXPECT_EQ(SendAndCaptureWith(server, *m), head + c.parts) << c.what;
    }
}

TEST_F(SendUtf8Test, EachAlternativeIsEncodedOnlyWhenItNeedsIt) {
    message->TextBody("plain");
    message->HtmlBody("<p>K\xC3\xB6ln</p>");
    const std::string data = SendAndCapture();
    // The text part exactly as in an ASCII message, the HTML part encoded.
    EXPECT_NE(data.find("\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nplain\r\n\r\n\r\n--"),
              std::string::npos)
        << data;
    EXPECT_NE(data.find("\r\nContent-Type: text/html; charset=utf-8\r\n"
                        "Content-Transfer-Encoding: quoted-printable\r\n\r\n<p>K=C3=B6ln</p>\r\n\r\n--"),
              std::string::npos)
        << data;
    EXPECT_EQ(data.find("Content-Transfer-Encoding"), data.rfind("Content-Transfer-Encoding"));
}

TEST_F(SendUtf8Test, AttachmentNamesBeyondAsciiUseRfc2231AndEncodedWords) {
    message->Attachments()->Add(dir.write("\xC3\x9C" "ber.dat", "abc"));
    const std::string longName = Repeat("\xC3\x9C", 30) + ".dat";
    message->Attachments()->Add(dir.write(longName, ""));
    const std::string data = SendAndCapture();
    const std::string part =
        "Content-Type: application/unknown;\r\n"
        " name=\"=?utf-8?B?w5xiZXIuZGF0?=\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment;\r\n"
        " filename*=utf-8''%C3%9Cber.dat\r\n"
        "\r\n"
        "YWJj\r\n";
    EXPECT_NE(data.find(part), std::string::npos) << data;
    const std::string u = "%C3%9C";
    const std::string sections = "Content-Disposition: attachment;\r\n filename*0*=utf-8''" + Repeat(u, 9) +
                                 ";\r\n filename*1*=" + Repeat(u, 10) + ";\r\n filename*2*=" + Repeat(u, 10) +
                                 ";\r\n filename*3*=" + u + ".dat\r\n\r\n";
    EXPECT_NE(data.find(sections), std::string::npos) << data;
    const std::string block = data.substr(data.find("MIME-Version"));
    std::size_t start = 0;
    for (std::size_t end; (end = block.find("\r\n", start)) != std::string::npos; start = end + 2)
        EXPECT_LE(end - start, 78u) << block.substr(start, end - start);
}

TEST_F(SendUtf8Test, TextThatIsNotUtf8IsRefusedBeforeConnectingNamingItsProperty) {
    const std::string truncated = "K\xC3";
    const std::string surrogate = "\xED\xA0\x80";
    const std::string overlong = "\xC0\xAF";
    const std::string beyond = "\xF5\x80\x80\x80";
    const std::string file = dir.write("bad\xFF.txt", "x");
    const std::string trace = dir.file("trace.log");
    const std::vector<RefusedSetting> cases{
        {[&](Message& m) { m.FromAddress("a" + truncated + "@example.com"); }, "FromAddress"},
        {[&](Message& m) { m.FromName(surrogate); }, "FromName"},
        {[&](Message& m) { m.Subject(overlong); }, "Subject"},
        {[&](Message& m) { m.Organization(beyond); }, "Organization"},
        {[&](Message& m) { m.Application(truncated); }, "Application"},
        {[&](Message& m) { m.Recipients()->Add("b@example.com", surrogate); }, "Recipients"},
        {[&](Message& m) { m.CCs()->Add(overlong + "@example.com"); }, "CCs"},
        {[&](Message& m) { m.BCCs()->Add("d@example.com", beyond); }, "BCCs"},
        {[&](Message& m) { m.ReplyTos()->Add("e" + truncated + "@example.com"); }, "ReplyTos"},
        {[&](Message& m) { m.ExtraHeaders()->Add("X-" + surrogate, "v"); }, "ExtraHeaders"},
        {[&](Message& m) { m.ExtraHeaders()->Add("X-B", "v" + overlong); }, "ExtraHeaders"},
        {[&](Message& m) { m.TextBody("ok\r\n" + beyond); }, "TextBody"},
        {[&](Message& m) { m.HtmlBody("<p>" + truncated + "</p>"); }, "HtmlBody"},
        {[&](Message& m) { m.Attachments()->Add(file); }, "Attachments"},
    };
    peer.Start();
    ExpectRefusedBeforeConnecting(peer, trace, cases, 9986, "Text is not valid UTF-8 in ");
}

TEST_F(SendUtf8Test, BadHeaderNamesRepeatedLinesAndDomainsWithoutALabelsAreRefusedBeforeConnecting) {
    const std::string trace = dir.file("trace.log");
    peer.Start();
    ExpectRefusedBeforeConnecting(peer, trace, {{[](Message& m) { m.ExtraHeaders()->Add("X Tag", "1"); }, "X Tag"},
                                                {[](Message& m) { m.ExtraHeaders()->Add("X-\xC3\xA4", "1"); }, "X-\xC3\xA4"}},
                                  9979, "Header name is not valid: ");
    ExpectRefusedBeforeConnecting(peer, trace, {{[](Message& m) { m.ExtraHeaders()->Add("from", "x@example.com"); }, "From"}},
                                  9987, "Header may appear only once: ");
    ExpectRefusedBeforeConnecting(
        peer, trace, {{[](Message& m) { m.ReplyTos()->Add("r@\xE2\x98\x83.example"); }, "ReplyTos"}}, 9986,
        "Text is not valid UTF-8 in ");
}

TEST_F(SendUtf8Test, ADomainBeyondAsciiNeedsNoSmtpUtf8AndAReplyToLocalPartDoes) {
    // A-labels in the envelope and the header lines, after a plain HELO.
    message->FromAddress("ann@b\xC3\xBC" "cher.example");
    message->Recipients()->Clear();
    message->Recipients()->Add("bob@m\xC3\xBCnchen.example", "Bob");
    const std::string data = SendAndCapture();
    EXPECT_EQ(peer.Lines()[0], "HELO quillpost.localdomain");
    EXPECT_EQ(peer.Lines()[1], "MAIL FROM: <ann@xn--bcher-kva.example>");
    EXPECT_EQ(peer.Lines()[2], "RCPT TO: <bob@xn--mnchen-3ya.example>");
    EXPECT_NE(data.find("\r\nMessage-ID: <ID@xn--bcher-kva.example>\r\nFrom: \"Ann Lee\" <ann@xn--bcher-kva.example>\r\n"),
              std::string::npos)
        << data;
    EXPECT_NE(data.find("\r\nTo: \"Bob\" <bob@xn--mnchen-3ya.example>\r\n"), std::string::npos) << data;
    // RFC 6532: a reply address with a local part beyond ASCII needs the
    // server's SMTPUTF8 as much as an envelope address.
    ScriptedPeer server;
    server.Send("220 hi\r\n").ExpectLine("EHLO quillpost.localdomain").Send("250-hi\r\n250 8BITMIME\r\n");
    server.ExpectLine("quit").ReadToEnd();
    server.Start();
    auto m = NewTestMessage();
    m->ReplyTos()->Add("j\xC3\xB6rg@example.com");
    m->Port(server.port());
    EXPECT_EQ(ErrorOf([&] { m->send(); }).number(), 9985);
    EXPECT_TRUE(server.Finished());
    EXPECT_TRUE(server.Problems().empty());
}

TEST_F(SendUtf8Test, ALineBreakIsReportedBeforeTextThatIsNotUtf8) {
    message->Subject("\xC3");
    message->Organization("a\r\nb");
    EXPECT_EQ(RaisedBy([&] { message->send(); }).number(), 9993);
}

}  // namespace
