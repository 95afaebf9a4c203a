// How a conversation ends when something fails: the error that reaches the
// caller, what the trace records, and what is never sent.
#include "smtp/session.hpp"
#include "tests/mailer/send_support.hpp"
#include "tests/support/temp_dir.hpp"

#include <quillpost/message.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

using namespace quillpost;
using namespace quillpost::test;

namespace {

class SendFailureTest : public ::testing::Test {
protected:
    ScriptedPeer peer;
    TempDir dir;
    std::shared_ptr<Message> message = std::make_shared<Message>();
    std::string trace = dir.file("trace.log");

    void SetUp() override {
        message->Server("127.0.0.1");
        message->TimeOut(5);
        message->FromAddress("ann@example.com");
        message->TraceFile(trace);
    }

    Error SendTo(ScriptedPeer& p) {
        p.Start();
        message->Port(p.port());
        return ErrorOf([&] { message->send(); });
    }

    std::string Trace() const { return TempDir::read(trace); }
};

TEST_F(SendFailureTest, RefusedRecipientEndsTheConversationWithItsCode) {
    message->Recipients()->Add("nobody@example.com");
    message->Recipients()->Add("never-sent@example.com");
    peer.Send("220 hi\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n");
    peer.ExpectLine("RCPT TO: <nobody@example.com>").Send("550 No such user here\r\n").ReadToEnd();
    const Error e = SendTo(peer);
    EXPECT_EQ(e.number(), 9550);
    EXPECT_EQ(e.description(), "No such user here\r\n");
    EXPECT_TRUE(peer.Finished());
    EXPECT_EQ(peer.Received().find("never-sent"), std::string::npos);
    EXPECT_TRUE(
        Trace().ends_with("< 550 No such user here\r\n\r\n> quit\r\n\r\n+ Error 9550: No such user here\r\n\r\n"))
        << Trace();
}

TEST_F(SendFailureTest, ARefusalEndsWithQuitOnlyWhileTheServerAwaitsACommand) {
    // RFC 5321 4.1.1.10; the error raised is still the refusal.
    using Play = std::function<void(ScriptedPeer&)>;
    struct Case {
        const char* what;
        Play play;
        std::int32_t number;
        bool quit;
    };
    const auto greeted = [](ScriptedPeer& p) { p.Send("220 hi\r\n").ExpectLine().Send("250 hello\r\n"); };
    const Case cases[] = {
        {"greeting", [](ScriptedPeer& p) { p.Send("554 no service here\r\n"); }, 9554, true},
        {"MAIL FROM", [&](ScriptedPeer& p) { greeted(p); p.ExpectLine().Send("550 sender refused\r\n"); }, 9550, true},
        {"data", [&](ScriptedPeer& p) {
             greeted(p);
             p.ExpectLine().Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine("data").Send("503 no\r\n");
         }, 9503, true},
        {"end of data", [&](ScriptedPeer& p) {
             greeted(p);
             p.ExpectLine().Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine("data").Send("354 go\r\n");
             p.ReadUntil("\r\n.\r\n").Send("554 looks like spam\r\n");
         }, 9554, true},
        {"server closing", [&](ScriptedPeer& p) { greeted(p); p.ExpectLine().Send("421 shutting down\r\n"); }, 9421, false},
        {"more than was asked", [&](ScriptedPeer& p) { greeted(p); p.ExpectLine().Send("550 no\r\n250 ok\r\n"); }, 9550, false},
        {"silence", [&](ScriptedPeer& p) { greeted(p); p.ExpectLine().StaySilent(std::chrono::milliseconds(2500)); }, 9998, false},
    };
    message->Recipients()->Add("b@example.com");
    message->TimeOut(1);
    for (const Case& c : cases) {
        ScriptedPeer server;
        c.play(server);
        server.ReadToEnd();
        std::remove(trace.c_str());
        const Error e = SendTo(server);
        EXPECT_EQ(e.number(), c.number) << c.what;
        EXPECT_TRUE(server.Finished()) << c.what;
        EXPECT_EQ(server.Received().ends_with("quit\r\n"), c.quit) << c.what;
        const std::string t = Trace();
        EXPECT_EQ(t.find("> quit\r\n\r\n+ Error " + std::to_string(c.number)) != std::string::npos, c.quit) << t;
    }
}

TEST_F(SendFailureTest, AnEndOfDataAnswerWithoutAReplyCodeIsNeverSuccess) {
    const std::string answers[] = {"-9000 x\r\n", "-8995 x\r\n", "2500 queued\r\n", std::string("\0\0\r\n", 4), "ok\r\n"};
    for (const std::string& answer : answers) {
        ScriptedPeer server;
        server.Send("220 hi\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n");
        server.ExpectLine("data").Send("354 go\r\n").ReadUntil("\r\n.\r\n").Send(answer).ReadToEnd();
        std::remove(trace.c_str());
        const Error e = SendTo(server);
        EXPECT_EQ(e.number(), 9999) << answer;
        EXPECT_EQ(e.description(), "Unexpected response from server: " + answer);
        EXPECT_TRUE(Trace().ends_with("+ Error 9999: Unexpected response from server: " + answer + "\r\n")) << answer;
    }
}

TEST_F(SendFailureTest, OnlyTheListedCodeIsAccepted) {
    message->Recipients()->Add("forwarded@example.com");
    peer.Send("220 hi\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n");
    peer.ExpectLine().Send("251 User not local; will forward\r\n").ReadToEnd();
    EXPECT_EQ(SendTo(peer).number(), 9251);
}

TEST_F(SendFailureTest, NoRecipientsMeansNoRcptAndTheServerMayRefuseData) {
    peer.Send("220 hi\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n");
    peer.ExpectLine("data").Send("503 Need RCPT first\r\n").ReadToEnd();
    EXPECT_EQ(SendTo(peer).number(), 9503);
    EXPECT_EQ(peer.Received().find("RCPT"), std::string::npos);
}

TEST_F(SendFailureTest, BlankSenderIsRefusedBeforeAnythingIsOpened) {
    auto bare = std::make_shared<Message>();
    bare->TraceFile(trace);
    bare->Server("127.0.0.1");
    peer.Start();
    bare->Port(peer.port());
    const Error e = ErrorOf([&] { bare->send(); });
    EXPECT_EQ(e.number(), 9991);
    EXPECT_EQ(e.description(), "FromAddress can not be blank");
    EXPECT_EQ(peer.Connections(), 0u);
    EXPECT_EQ(::access(trace.c_str(), F_OK), -1);  // no trace file either
}

TEST_F(SendFailureTest, LineBreaksInHeaderValuesAreRefusedBeforeConnecting) {
    const std::string file = dir.write("a\nb.txt", "x");
    const std::vector<RefusedSetting> cases{
        {[](Message& m) { m.FromAddress("a@example.com\r\nRCPT TO: <x@evil>"); }, "FromAddress"},
        {[](Message& m) { m.FromName("Ann\nBcc: x@evil"); }, "FromName"},
        {[](Message& m) { m.Subject("hi\rthere"); }, "Subject"},
        {[](Message& m) { m.Organization("Org\n"); }, "Organization"},
        {[](Message& m) { m.Application("\nApp"); }, "Application"},
        {[](Message& m) { m.Recipients()->Add("b@example.com\r\nDATA"); }, "Recipients"},
        {[](Message& m) { m.CCs()->Add("c@example.com", "C\nC"); }, "CCs"},
        {[](Message& m) { m.BCCs()->Add("d@example.com\n"); }, "BCCs"},
        {[](Message& m) { m.ReplyTos()->Add("e@example.com", "E\r"); }, "ReplyTos"},
        {[](Message& m) { m.ExtraHeaders()->Add("X-A\n", "v"); }, "ExtraHeaders"},
        {[](Message& m) { m.ExtraHeaders()->Add("X-B", "v\r\nX-Injected: 1"); }, "ExtraHeaders"},
        {[&](Message& m) { m.Attachments()->Add(file); }, "Attachments"},
        // Traced as it stands, it would forge lines of the trace.
        {[](Message& m) { m.Server("127.0.0.1\r\n+ Error 0: forged"); }, "Server"},
    };
    peer.Start();
    ExpectRefusedBeforeConnecting(peer, trace, cases, 9993, "Line break not allowed in ");
}

TEST_F(SendFailureTest, ALoginWithABlankPartIsRefusedBeforeConnecting) {
    const std::vector<RefusedSetting> cases{
        {[](Message& m) { m.Password("pw"); }, "UserName"},
        {[](Message& m) { m.OAuthToken("tok"); }, "UserName"},
        {[](Message& m) { m.UserName("ann"); }, "Password"},
    };
    peer.Start();
    ExpectRefusedBeforeConnecting(peer, trace, cases, 9977, "Login credentials can not be blank: ");
}

TEST_F(SendFailureTest, FoldedAddressListsAreNotLineBreaksOfTheCaller) {
    message->Recipients()->Add("a@example.com");
    message->Recipients()->Add("b@example.com");
    PlayAcceptingServer(peer, 2);
    EXPECT_EQ(SendTo(peer).number(), 0);
}

TEST_F(SendFailureTest, TraceFileInAMissingFolderFailsBeforeConnecting) {
    message->TraceFile(dir.file("no-such-folder/trace.log"));
    const Error e = SendTo(peer);
    EXPECT_EQ(e.number(), 76);
    EXPECT_EQ(e.description(), "Path not found");
    EXPECT_EQ(peer.Connections(), 0u);
}

TEST_F(SendFailureTest, RefusedConnectionIsTracedAndRaised) {
    message->Port(ScriptedPeer::UnusedPort());
    const Error e = ErrorOf([&] { message->send(); });
    EXPECT_EQ(e.number(), 10061);
    EXPECT_EQ(e.description(), "Connection refused.");
    const std::string t = Trace();
    EXPECT_TRUE(t.starts_with("+ Connecting to server 127.0.0.1 at port ")) << t;
    EXPECT_TRUE(t.ends_with("+ Error 10061: Connection refused.\r\n")) << t;
}

TEST_F(SendFailureTest, AttachmentRemovedBeforeSendingLeavesTheDataUnended) {
    const std::string file = dir.write("gone.txt", "x");
    message->Recipients()->Add("b@example.com");
    message->Attachments()->Add(file);
    ::unlink(file.c_str());
    peer.Send("220 hi\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n");
    peer.ExpectLine().Send("250 ok\r\n").ExpectLine("data").Send("354 go\r\n").ReadToEnd();
    const Error e = SendTo(peer);
    EXPECT_EQ(e.number(), 53);
    EXPECT_TRUE(peer.Finished());
    // The part's header lines were taken (and traced) before the file was
    // opened; the end-of-data line never went out, so nothing is delivered.
    EXPECT_NE(Trace().find("> Content-Disposition: attachment; FileName = \"gone.txt\"\r\n"), std::string::npos);
    EXPECT_EQ(peer.Received().find("\r\n.\r\n"), std::string::npos);
    EXPECT_TRUE(Trace().ends_with("+ Error 53: File not found\r\n"));
}

// Wraps the socket and fails the goodbye, as a peer that resets the
// connection right after accepting the message would.
class FailingQuit : public ByteStream {
public:
    FailingQuit(const std::string& host, std::int16_t port, float timeOut)
        : inner_(ConnectSocket(host, port, timeOut)) {}
    std::size_t Read(std::string& out) override { return inner_->Read(out); }
    std::size_t Write(std::string_view data) override {
        if (data.find("quit\r\n") != std::string_view::npos) throw Error(10054, "Connection reset by peer.");
        return inner_->Write(data);
    }
    void WaitReadable(std::int16_t s, TraceSink* t) override { inner_->WaitReadable(s, t); }
    void WaitWritable(std::int16_t s) override { inner_->WaitWritable(s); }

private:
    std::unique_ptr<ByteStream> inner_;
};

TEST_F(SendFailureTest, FailureAfterTheMessageWasAcceptedIsTracedNotRaised) {
    message->Recipients()->Add("b@example.com");
    peer.Send("220 hi\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n");
    peer.ExpectLine().Send("250 ok\r\n").ExpectLine("data").Send("354 go\r\n");
    peer.ReadUntil("\r\n.\r\n").Send("250 queued as 42\r\n").ReadToEnd();
    SetConnectorForThisThread([](const std::string& host, std::int16_t port, float timeOut) {
        return std::make_unique<FailingQuit>(host, port, timeOut);
    });
    const Error e = SendTo(peer);
    SetConnectorForThisThread(nullptr);
    EXPECT_EQ(e.number(), 0) << e.description();
    const std::string t = Trace();
    EXPECT_NE(t.find("< 250 queued as 42\r\n"), std::string::npos);
    EXPECT_NE(t.find("\r\n+ Ignored after the message was accepted: error 10054: Connection reset by peer.\r\n"),
              std::string::npos)
        << t;
    EXPECT_EQ(t.find("+ Error "), std::string::npos);
}

}  // namespace

namespace {

TEST(SendPipelined, EnvelopeGoesInOneFlightAndTheFirstRefusalWins) {
    // RFC 2920: to a server that offers PIPELINING, MAIL FROM, every RCPT TO
    // and data go out together; the replies are read in order.
    // After a refusal every reply still owed is read: quit follows unless
    // the server took data (354) and waits for the message.
    struct Case {
        std::string replies;
        std::int32_t number;  // 0: delivered
        bool quit;
    };
    for (const Case& c : std::vector<Case>{{"250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n", 0, true},
                                           {"250 ok\r\n550 no such user\r\n250 ok\r\n354 go\r\n", 9550, false},
                                           {"451 later\r\n503 no\r\n503 no\r\n503 no\r\n", 9451, true}}) {
        ScriptedPeer server;
        server.Send("220 hi\r\n").ExpectLine("EHLO quillpost.localdomain").Send("250-hi\r\n250 PIPELINING\r\n");
        server.ReadUntil("data\r\n").Send(c.replies);
        if (c.number == 0) server.ReadUntil("\r\n.\r\n").Send("250 queued\r\n");
        server.ReadToEnd();
        server.Start();
        auto m = NewTestMessage();
        m->Recipients()->Add("carol@example.com");
        m->Security(Security::May);
        m->Port(server.port());
        EXPECT_EQ(ErrorOf([&] { m->send(); }).number(), c.number) << c.replies;
        EXPECT_TRUE(server.Finished());
        EXPECT_TRUE(server.Problems().empty());
        const std::string received = server.Received();
        EXPECT_NE(received.find("MAIL FROM: <ann@example.com>\r\nRCPT TO: <bob@example.com>\r\n"
                                "RCPT TO: <carol@example.com>\r\ndata\r\n"),
                  std::string::npos);
        EXPECT_EQ(received.find("\r\n.\r\n") != std::string::npos, c.number == 0);
        EXPECT_EQ(received.ends_with("quit\r\n"), c.quit) << c.replies;
    }
}

}  // namespace
