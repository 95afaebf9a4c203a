// The message as it reaches a server: every byte of the data section for each
// layout of the body, the attachment parts, and the envelope.
#include <quillpost/detail/date.hpp>
#include "tests/mailer/send_support.hpp"
#include "tests/support/temp_dir.hpp"

#include <quillpost/base64.hpp>
#include <quillpost/host_events.hpp>
#include <quillpost/message.hpp>

#include <gtest/gtest.h>

#include <regex>

using namespace quillpost;
using namespace quillpost::test;

namespace {

class SendTest : public SendFixture {
protected:
    static std::string Boundary(const std::string& data, const std::string& kind) {
        std::smatch m;
        const std::regex pattern("multipart/" + kind + "; boundary=\"([^\"]+)\"");
        return std::regex_search(data, m, pattern) ? m[1].str() : std::string("(none)");
    }

    const std::string head =
        "Date: Sun, 06 Dec 2026 22:20:18 +0000\r\n"
        "Message-ID: <ID@example.com>\r\n"
        "From: \"Ann Lee\" <ann@example.com>\r\n"
        "Subject: [no subject]\r\n"
        "To: \"Bob\" <bob@example.com>\r\n"
        "X-Mailer: Quillpost 1.0\r\n"
        "MIME-Version: 1.0\r\n";
};

TEST_F(SendTest, TextOnlyMessageIsExactOnTheWire) {
    message->TextBody("line one\r\n.hidden\r\n");
    EXPECT_EQ(SendAndCapture(), head +
                                    "Content-Type: text/plain; charset=us-ascii\r\n"
                                    "\r\n"
                                    "line one\r\n"
                                    "..hidden\r\n"
                                    "\r\n"
                                    "\r\n");
}

TEST_F(SendTest, AHostThatChangesTheMessageDuringTheSendChangesNothingSent) {
    message->Recipients()->Add("carol@example.com");
    message->ExtraHeaders()->Add("X-Tag", "1");
    message->TextBody("body\r\n");
    // The host's event hook runs during each wait and empties every list.
    const PendingEventsHook before = SetPendingEventsHook([this] {
        message->Recipients()->Clear();
        message->ExtraHeaders()->Clear();
        message->TextBody("");
    });
    const std::string data = SendAndCapture(2);
    SetPendingEventsHook(before);
    EXPECT_NE(peer.Received().find("RCPT TO: <carol@example.com>\r\n"), std::string::npos);
    EXPECT_NE(data.find("X-Tag: 1\r\n"), std::string::npos);
    EXPECT_TRUE(data.ends_with("\r\nbody\r\n\r\n\r\n")) << data;
}

TEST_F(SendTest, HtmlOnlyMessageNamesNoCharset) {
    message->HtmlBody("<p>hi</p>");
    EXPECT_EQ(SendAndCapture(), head +
                                    "Content-Type: text/html\r\n"
                                    "\r\n"
                                    "<p>hi</p>\r\n"
                                    "\r\n");
}

TEST_F(SendTest, BothBodiesAreAlternativesWithTheirEmptyLines) {
    message->TextBody("plain");
    message->HtmlBody("<b>rich</b>");
    const std::string data = SendAndCapture();
    const std::string alt = Boundary(data, "alternative");
    EXPECT_TRUE(alt.starts_with("--QP_AltBoundary_")) << alt;
    EXPECT_EQ(data, head + "Content-Type: multipart/alternative; boundary=\"" + alt + "\"\r\n" +
                        "\r\n"
                        "\r\n"
                        "--" + alt + "\r\n" +
                        "Content-Type: text/plain; charset=us-ascii\r\n"
                        "\r\n"
                        "plain\r\n"
                        "\r\n"
                        "\r\n"
                        "--" + alt + "\r\n" +
                        "Content-Type: text/html\r\n"
                        "\r\n"
                        "<b>rich</b>\r\n"
                        "\r\n"
                        "--" + alt + "--\r\n"
                        "\r\n"
                        "\r\n");
}

TEST_F(SendTest, NeitherBodyWritesOnlyTheMimeVersion) {
    EXPECT_EQ(SendAndCapture(), head + "\r\n");
}

TEST_F(SendTest, AttachmentsMakeAMixedStructureWithOnePartEach) {
    TempDir dir;
    std::string sixty;
    for (int i = 0; i < 60; ++i) sixty += static_cast<char>('A' + i % 26);
    message->TextBody("see attached");
    message->Attachments()->Add(dir.write("report.dat", sixty));
    message->Attachments()->Add(dir.write("empty", ""));
    const std::string data = SendAndCapture();
    const std::string mix = Boundary(data, "mixed");
    EXPECT_TRUE(mix.starts_with("--QP_MixBoundary_")) << mix;
    const std::string expected =
        head + "Content-Type: multipart/mixed; boundary=\"" + mix + "\"\r\n" +
        "\r\n"
        "This is a multi-part message in MIME format.\r\n"
        "\r\n"
        "--" + mix + "\r\n" +
        "Content-Type: text/plain; charset=us-ascii\r\n"
        "\r\n"
        "see attached\r\n"
        "--" + mix + "\r\n" +
        "Content-Type: application/unknown; Name = \"report.dat\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; FileName = \"report.dat\"\r\n"
        "\r\n"
        "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVpBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWkFCQ0RF\r\n"
        "RkdI\r\n"
        "\r\n"
        "--" + mix + "\r\n" +
        "Content-Type: application/unknown; Name = \"empty\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; FileName = \"empty\"\r\n"
        "\r\n"
        "\r\n"
        "--" + mix + "--\r\n" +
        "\r\n";
    EXPECT_EQ(data, expected);
}

TEST_F(SendTest, AttachmentsWithoutBodyStartWithAnEmptyPart) {
    TempDir dir;
    message->Attachments()->Add(dir.write("a.bin", "abc"));
    const std::string data = SendAndCapture();
    const std::string mix = Boundary(data, "mixed");
    EXPECT_NE(data.find("MIME format.\r\n\r\n--" + mix + "\r\n--" + mix + "\r\nContent-Type: "), std::string::npos)
        << data;
}

TEST_F(SendTest, AttachmentLinesAre76CharactersAndTheTypeComesFromTheRegistry) {
    TempDir dir;
    EnvGuard registry("QUILLPOST_REGISTRY",
                      dir.write("r.reg", "REGEDIT4\r\n[HKEY_CLASSES_ROOT\\.txt]\r\n\"Content Type\"=\"text/plain\"\r\n"));
    message->Attachments()->Add(dir.write("full.txt", std::string(57, 'a')));
    message->Attachments()->Add(dir.write("C\\odd\"name.TXT", std::string(58, 'b')));
    const std::string data = SendAndCapture();
    const std::string full = std::string("Content-Type: text/plain; Name = \"full.txt\"\r\n") +
                             "Content-Transfer-Encoding: base64\r\n"
                             "Content-Disposition: attachment; FileName = \"full.txt\"\r\n"
                             "\r\n" +
                             Base64EncodeLine(std::vector<std::uint8_t>(57, 'a')) +
                             "\r\n--";
    EXPECT_NE(data.find(full), std::string::npos) << data;
    // The short name follows the last backslash; its double quote is a
    // quoted-pair (RFC 5322 3.2.4).
    const std::string odd = std::string("Content-Type: text/plain; Name = \"odd\\\"name.TXT\"\r\n") +
                            "Content-Transfer-Encoding: base64\r\n"
                            "Content-Disposition: attachment; FileName = \"odd\\\"name.TXT\"\r\n"
                            "\r\n" +
                            Base64EncodeLine(std::vector<std::uint8_t>(57, 'b')) + "Yg==\r\n\r\n--";
    EXPECT_NE(data.find(odd), std::string::npos) << data;
}

TEST_F(SendTest, LargeAttachmentArrivesWhole) {
    TempDir dir;
    std::string bytes(1 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) ^ (i >> 9));
    message->Attachments()->Add(dir.write("big.bin", bytes));
    const std::string data = SendAndCapture();
    const auto start = data.find("attachment; FileName = \"big.bin\"\r\n\r\n");
    ASSERT_NE(start, std::string::npos);
    const auto body = data.substr(start + 36);
    std::string expectedLines;
    Base64EncodeLines(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), expectedLines);
    EXPECT_EQ(body.substr(0, expectedLines.size()), expectedLines);
    EXPECT_EQ(body.substr(expectedLines.size(), 2), "\r\n");
}

TEST_F(SendTest, EnvelopeNamesEveryRecipientInOrderButNoReplyTo) {
    message->CCs()->Add("cc@example.com");
    message->BCCs()->Add("hidden@example.com", "Hidden Person");
    message->ReplyTos()->Add("reply@example.com");
    const std::string data = SendAndCapture(3);
    const auto lines = peer.Lines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "HELO quillpost.localdomain");
    EXPECT_EQ(lines[1], "MAIL FROM: <ann@example.com>");
    EXPECT_EQ(lines[2], "RCPT TO: <bob@example.com>");
    EXPECT_EQ(lines[3], "RCPT TO: <cc@example.com>");
    EXPECT_EQ(lines[4], "RCPT TO: <hidden@example.com>");
    EXPECT_EQ(lines[5], "data");
    EXPECT_TRUE(data.starts_with("Reply-To: <reply@example.com>\r\nDate: ")) << data;
    EXPECT_NE(data.find("Cc: <cc@example.com>\r\n"), std::string::npos);
    // A blind copy must not be disclosed to the other recipients.
    EXPECT_EQ(data.find("hidden@example.com"), std::string::npos);
    EXPECT_EQ(data.find("Bcc"), std::string::npos);
}

TEST_F(SendTest, OptionalHeaderLinesFollowTheirSettings) {
    message->Organization(" ");
    message->Application("");
    message->Priority(QP_PRIORITY_HIGHEST);
    message->ConfirmReading(true);
    message->Subject("");
    message->ExtraHeaders()->Add("X-Tag", "a");
    message->ExtraHeaders()->Add("X-Colon:", "b");
    message->Recipients()->Add("carol@example.com");
    const std::string data = SendAndCapture(2);
    EXPECT_TRUE(data.starts_with("Date: Sun, 06 Dec 2026 22:20:18 +0000\r\n"
                                 "Message-ID: <ID@example.com>\r\n"
                                 "From: \"Ann Lee\" <ann@example.com>\r\n"
                                 "Subject: \r\n"
                                 "To: \"Bob\" <bob@example.com>,\r\n <carol@example.com>\r\n"
                                 "Organization:  \r\n"
                                 "X-Mailer: \r\n"
                                 "X-Priority: 1\r\n"
                                 "X-MSMail-Priority: 1\r\n"
                                 "Disposition-Notification-To: ann@example.com\r\n"
                                 "X-Tag: a\r\n"
                                 "X-Colon: b\r\n"
                                 "MIME-Version: 1.0\r\n"))
        << data;
}

TEST_F(SendTest, LoneLineBreaksBecomeFullLinesBeforeDotStuffing) {
    // A bare line feed followed by a lone period must not become a line the
    // server could take as the end of the data.
    message->TextBody("one\n.\ntwo\rthree\r\n.four");
    const std::string data = SendAndCapture();
    EXPECT_NE(data.find("\r\n\r\none\r\n..\r\ntwo\r\nthree\r\n..four\r\n"), std::string::npos) << data;
    EXPECT_EQ(data.find("\r\n.\r\n"), std::string::npos);
}

TEST_F(SendTest, BodiesHaveNoLineLimit) {
    std::string body;
    for (int i = 0; i < 40000; ++i) body += "x\r\n";
    message->TextBody(body);
    const std::string data = SendAndCapture();
    EXPECT_NE(data.find("x\r\n\r\n\r\n", data.size() - 8), std::string::npos);
}

TEST_F(SendTest, TwoSendsHoldTwoConversationsAndAppendOneTrace) {
    TempDir dir;
    message->TraceFile(dir.file("trace.log"));
    PlayAcceptingServer(peer, 1);
    peer.NextConnection();
    PlayAcceptingServer(peer, 1);
    peer.Start();
    message->Port(peer.port());
    message->send();
    message->send();
    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(peer.Connections(), 2u);
    const std::string trace = TempDir::read(dir.file("trace.log"));
    const auto first = trace.find("+ Connecting to server 127.0.0.1 at port ");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(trace.find("+ Connecting to server", first + 1), std::string::npos);
    EXPECT_TRUE(trace.ends_with("> quit\r\n\r\n")) << trace.substr(trace.size() - 40);
    EXPECT_EQ(trace.find("+ Error "), std::string::npos);
}

}  // namespace
