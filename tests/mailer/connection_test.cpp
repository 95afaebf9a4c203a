// Connection: many messages over one connection, a refusal in the middle,
// a server that closes an idle connection, a transport failure.
#include "tests/mailer/send_support.hpp"
#include "tests/support/smtp_sink.hpp"

#include <quillpost/connection.hpp>

#include <map>
#include <set>
#include <thread>

namespace quillpost::test {
namespace {

using Ms = std::chrono::milliseconds;

constexpr const char* kEhlo = "EHLO quillpost.localdomain";

void Greet(ScriptedPeer& p) { p.Send("220 hi\r\n").ExpectLine(kEhlo).Send("250-hi\r\n250 PIPELINING\r\n"); }

// MAIL FROM, RCPT TO and data arrive in one go (pipelined); the message is
// accepted.
void Accept(ScriptedPeer& p, const std::string& from) {
    p.ExpectLine("MAIL FROM: <" + from + ">").ExpectLine().ExpectLine("data");
    p.Send("250 ok\r\n250 ok\r\n354 go\r\n").ReadUntil("\r\n.\r\n").Send("250 queued\r\n");
}

std::shared_ptr<Message> Settings(std::int16_t port) {
    auto settings = std::make_shared<Message>();
    settings->Server("127.0.0.1");
    settings->Port(port);
    settings->TimeOut(3);
    return settings;
}

std::shared_ptr<Message> NamedMessage(const std::string& name) {
    auto m = NewTestMessage();
    m->FromAddress(name + "@example.com");
    m->Subject(name);
    return m;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(ConnectionTest, MessagesRefusalsAndReconnections) {
    constexpr int kAny = -1;  // some error (which one depends on how the transport learns of the reset)
    struct Row {
        const char* name;
        std::function<void(ScriptedPeer&)> script;
        Ms pause;                 // between the two messages
        std::vector<int> errors;  // of sending "one", then "two"; 0: none
        std::size_t connections;
        std::size_t twoArrived;   // times the data of "two" reached the server
        bool openAfter;
    };
    const std::vector<Row> rows = {
        {"552 at the end of the data, RSET, the next message goes on",
         [](ScriptedPeer& p) {
             Greet(p);
             p.ExpectLine().ExpectLine().ExpectLine("data").Send("250 ok\r\n250 ok\r\n354 go\r\n");
             p.ReadUntil("\r\n.\r\n").Send("552 too large\r\n").ExpectLine("RSET").Send("250 reset\r\n");
             Accept(p, "two@example.com");
             p.ExpectLine("quit").ReadToEnd();
         },
         Ms(0), {9552, 0}, 1, 1, true},
        {"refused sender, RSET, the next message goes on",
         [](ScriptedPeer& p) {
             Greet(p);
             p.ExpectLine().ExpectLine().ExpectLine("data");
             p.Send("550 no\r\n554 no recipients\r\n503 no\r\n").ExpectLine("RSET").Send("250 reset\r\n");
             Accept(p, "two@example.com");
             p.ExpectLine("quit").ReadToEnd();
         },
         Ms(0), {9550, 0}, 1, 1, true},
        {"the server closes the idle connection",
         [](ScriptedPeer& p) {
             Greet(p);
             Accept(p, "one@example.com");
             p.NextConnection();
             Greet(p);
             Accept(p, "two@example.com");
             p.ExpectLine("quit").ReadToEnd();
         },
         Ms(300), {0, 0}, 2, 1, true},
        {"421 on the idle connection",
         [](ScriptedPeer& p) {
             Greet(p);
             Accept(p, "one@example.com");
             p.Send("421 closing\r\n").NextConnection();
             Greet(p);
             Accept(p, "two@example.com");
             p.ExpectLine("quit").ReadToEnd();
         },
         Ms(300), {0, 0}, 2, 1, true},
        {"421 to MAIL FROM",
         [](ScriptedPeer& p) {
             Greet(p);
             Accept(p, "one@example.com");
             p.ExpectLine("MAIL FROM: <two@example.com>").ExpectLine().ExpectLine("data");
             p.Send("421 closing\r\n").NextConnection();
             Greet(p);
             Accept(p, "two@example.com");
             p.ExpectLine("quit").ReadToEnd();
         },
         Ms(0), {0, 0}, 2, 1, true},
        {"421 twice: opened again once only",
         [](ScriptedPeer& p) {
             Greet(p);
             Accept(p, "one@example.com");
             p.ExpectLine().ExpectLine().ExpectLine("data").Send("421 closing\r\n").NextConnection();
             Greet(p);
             p.ExpectLine().ExpectLine().ExpectLine("data").Send("421 closing again\r\n").ReadToEnd();
         },
         Ms(0), {0, 9421}, 2, 0, false},
        {"a reset in the data closes; the next send raises",
         [](ScriptedPeer& p) {
             Greet(p);
             p.ExpectLine().ExpectLine().ExpectLine("data").Send("250 ok\r\n250 ok\r\n354 go\r\n");
             p.ReadUntil("Subject: one").Reset();
         },
         Ms(0), {kAny, 9976}, 1, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedPeer peer;
        row.script(peer);
        peer.Start();
        auto settings = Settings(peer.port());
        {
            Connection connection;
            connection.Open(*settings);
            EXPECT_TRUE(connection.IsOpen());
            const std::vector<std::string> names = {"one", "two"};
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (i > 0) std::this_thread::sleep_for(row.pause);
                auto message = NamedMessage(names[i]);
                const int number = ErrorNumberOf([&] { connection.Send(*message); });
                if (row.errors[i] == kAny)
                    EXPECT_NE(number, 0);
                else
                    EXPECT_EQ(number, row.errors[i]) << names[i];
            }
            EXPECT_EQ(connection.IsOpen(), row.openAfter);
        }  // the destructor says quit
        EXPECT_TRUE(peer.Finished());
        EXPECT_TRUE(peer.Problems().empty()) << peer.Problems().front();
        EXPECT_EQ(peer.Connections(), row.connections);
        EXPECT_EQ(Count(peer.Received(), "Subject: two\r\n"), row.twoArrived);
    }
}

TEST(ConnectionTest, OpenSaysWhatSendWouldAndRaisesItsErrors) {
    struct Row {
        const char* name;
        std::function<void(ScriptedPeer&)> script;
        std::optional<Security> security;
        int error;  // of Open; 0: none, the message is then sent
    };
    const std::vector<Row> rows = {
        {"HELO after 502 to EHLO",
         [](ScriptedPeer& p) {
             p.Send("220 hi\r\n").ExpectLine(kEhlo).Send("502 what\r\n");
             p.ExpectLine("HELO quillpost.localdomain").Send("250 hello\r\n");
             p.ExpectLine("MAIL FROM: <one@example.com>").Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n");
             p.ExpectLine("data").Send("354 go\r\n").ReadUntil("\r\n.\r\n").Send("250 queued\r\n");
             p.ExpectLine("quit").ReadToEnd();
         },
         {}, 0},
        {"STARTTLS required, not offered",
         [](ScriptedPeer& p) { Greet(p); p.ExpectLine("quit").ReadToEnd(); }, Security::StartTls, 9980},
        {"refused greeting", [](ScriptedPeer& p) { p.Send("554 go away\r\n").ReadToEnd(); }, {}, 9554},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedPeer peer;
        row.script(peer);
        peer.Start();
        auto settings = Settings(peer.port());
        if (row.security) settings->Security(*row.security);
        Connection connection;
        EXPECT_EQ(ErrorNumberOf([&] { connection.Open(*settings); }), row.error);
        EXPECT_EQ(connection.IsOpen(), row.error == 0);
        if (row.error == 0) {
            auto message = NamedMessage("one");
            connection.Send(*message);
            connection.Close();
            EXPECT_FALSE(connection.IsOpen());
        }
        EXPECT_TRUE(peer.Finished());
        EXPECT_TRUE(peer.Problems().empty()) << peer.Problems().front();
    }
    Connection never;
    auto message = NamedMessage("one");
    EXPECT_EQ(ErrorNumberOf([&] { never.Send(*message); }), 9976);
}

// A thousand messages over one connection, each with its own envelope; a
// refused recipient now and then fails its message only.
TEST(ConnectionTest, AThousandMessagesArriveOnceEachWithTheirOwnEnvelope) {
    SmtpSink sink(true);
    auto settings = Settings(sink.port());
    std::vector<std::string> trace;
    settings->ListenToTrace([&](std::string_view line) { trace.emplace_back(line); });
    Connection connection;
    connection.Open(*settings);
    constexpr int kMessages = 1000;
    int refused = 0;
    for (int i = 0; i < kMessages; ++i) {
        const std::string n = std::to_string(i);
        auto m = std::make_shared<Message>();
        m->FromAddress("sender" + n + "@example.com");
        m->Subject("message " + n);
        // Every hundredth one has a refused recipient beside a good one (the
        // server accepts the pipelined data command all the same); and
        // fifty later one whose only recipient is refused.
        if (i % 100 == 0) m->Recipients()->Add("refused" + n + "@example.com");
        if (i % 100 != 50) m->Recipients()->Add("r" + n + "@example.com");
        else m->Recipients()->Add("refused" + n + "@example.com");
        const int number = ErrorNumberOf([&] { connection.Send(*m); });
        if (i % 100 == 0 || i % 100 == 50) {
            EXPECT_EQ(number, 9550) << i;
            ++refused;
        } else {
            EXPECT_EQ(number, 0) << i;
        }
    }
    EXPECT_TRUE(connection.IsOpen());
    connection.Close();
    const auto deliveries = sink.Deliveries();
    ASSERT_EQ(deliveries.size(), static_cast<std::size_t>(kMessages - refused));
    std::set<std::string> seen;
    for (const auto& d : deliveries) {
        const std::string n = d.from.substr(6, d.from.find('@') - 6);
        EXPECT_EQ(d.from, "sender" + n + "@example.com");
        ASSERT_EQ(d.recipients.size(), 1u);
        EXPECT_EQ(d.recipients[0], "r" + n + "@example.com");
        EXPECT_NE(d.data.find("Subject: message " + n + "\r\n"), std::string::npos);
        EXPECT_TRUE(seen.insert(n).second) << "twice: " << n;
    }
    // One connection, and one more after each refusal that left the server
    // in the data (ten of them).
    EXPECT_EQ(sink.Connections(), 11u);
}

}  // namespace
}  // namespace quillpost::test
