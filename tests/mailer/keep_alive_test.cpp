// KeepAlive: a successful send leaves its connection for the next send with
// the same settings; expiry, failures and other settings open a new one.
#include "tests/mailer/send_support.hpp"
#include "tests/support/smtp_sink.hpp"
#include "tests/support/temp_dir.hpp"

#include "mailer/connection_pool.hpp"

#include <algorithm>
#include <thread>

namespace quillpost::test {
namespace {

using Ms = std::chrono::milliseconds;

std::size_t Reuses(const std::vector<std::string>& trace) {
    std::size_t n = 0;
    for (const auto& line : trace)
        if (line.starts_with("+ Reusing the connection to server 127.0.0.1 at port ")) ++n;
    return n;
}

TEST(KeepAliveTest, ReuseExpiryAndNoReuseAfterFailure) {
    using Change = std::function<void(Message&)>;
    const Change keep5 = [](Message& m) { m.KeepAlive(5); };
    const Change none = [](Message&) {};
    struct Send {
        Change change;
        int error;  // 0: none
    };
    struct Row {
        const char* name;
        std::string registry;  // the server key's values, or none
        std::vector<Send> sends;
        Ms pause;  // before each send after the first
        std::size_t connections;
        std::size_t reuses;
        std::size_t delivered;
    };
    const Change refusedRecipient = [](Message& m) {
        m.KeepAlive(5);
        m.Recipients()->Add("refused@example.com");
    };
    const std::vector<Row> rows = {
        {"three sends, one connection", "", {{keep5, 0}, {keep5, 0}, {keep5, 0}}, Ms(0), 1, 2, 3},
        {"the registry value", "\"KeepAlive\"=dword:00000005\r\n", {{none, 0}, {none, 0}}, Ms(0), 1, 1, 2},
        {"KeepAlive 0 (the default) quits after each send", "", {{none, 0}, {none, 0}}, Ms(0), 2, 0, 2},
        {"0 on the message wins over the registry", "\"KeepAlive\"=dword:00000005\r\n",
         {{[](Message& m) { m.KeepAlive(0); }, 0}, {none, 0}}, Ms(0), 2, 0, 2},
        {"idle past its time", "", {{[](Message& m) { m.KeepAlive(1); }, 0}, {keep5, 0}}, Ms(1500), 2, 0, 2},
        {"a failed send does not give its connection back", "",
         {{keep5, 0}, {refusedRecipient, 9550}, {keep5, 0}}, Ms(0), 2, 1, 2},
        {"other settings, another connection", "",
         {{keep5, 0}, {[](Message& m) { m.KeepAlive(5); m.AllowPlainTextAuth(true); }, 0}}, Ms(0), 2, 0, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        std::optional<EnvGuard> registry;
        if (!row.registry.empty())
            registry.emplace("QUILLPOST_REGISTRY",
                             dir.write("r.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost\\"
                                                "Servers\\127.0.0.1]\r\n" + row.registry));
        SmtpSink sink;
        std::vector<std::string> trace;
        for (std::size_t i = 0; i < row.sends.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(row.pause);
            auto message = NewTestMessage();
            message->Port(sink.port());
            message->ListenToTrace([&](std::string_view line) { trace.emplace_back(line); });
            row.sends[i].change(*message);
            EXPECT_EQ(ErrorNumberOf([&] { message->send(); }), row.sends[i].error) << i;
        }
        ConnectionPool::Instance().CloseAll();
        EXPECT_EQ(sink.Connections(), row.connections);
        EXPECT_EQ(Reuses(trace), row.reuses);
        EXPECT_EQ(sink.Deliveries().size(), row.delivered);
    }
}

// A kept connection ends with QUIT: when its time is over (seen at the next
// send) and when the pool is closed (at the end of the process).
TEST(KeepAliveTest, KeptConnectionsEndWithQuit) {
    ScriptedPeer peer;
    for (int connection = 0; connection < 2; ++connection) {
        if (connection > 0) peer.NextConnection();
        peer.Send("220 hi\r\n").ExpectLine("HELO quillpost.localdomain").Send("250 hello\r\n");
        peer.ExpectLine().Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine("data").Send("354 go\r\n");
        peer.ReadUntil("\r\n.\r\n").Send("250 queued\r\n").ExpectLine("quit");
    }
    peer.ReadToEnd();
    peer.Start();
    for (int i = 0; i < 2; ++i) {
        if (i > 0) std::this_thread::sleep_for(Ms(1300));
        auto message = NewTestMessage();
        message->Port(peer.port());
        message->KeepAlive(1);
        message->send();
    }
    EXPECT_EQ(ConnectionPool::Instance().Size(), 1u);
    ConnectionPool::Instance().CloseAll();
    EXPECT_TRUE(peer.Finished());
    EXPECT_TRUE(peer.Problems().empty()) << peer.Problems().front();
    EXPECT_EQ(peer.Connections(), 2u);
    auto message = NewTestMessage();
    EXPECT_EQ(ErrorNumberOf([&] { message->KeepAlive(-1); }), 5);
}

// A kept connection that the server closed meanwhile is dropped, and the
// message goes once over a new one.
TEST(KeepAliveTest, AConnectionTheServerClosedIsNotUsed) {
    ScriptedPeer peer;
    for (int connection = 0; connection < 2; ++connection) {
        if (connection > 0) peer.NextConnection();
        peer.Send("220 hi\r\n").ExpectLine("HELO quillpost.localdomain").Send("250 hello\r\n");
        peer.ExpectLine().Send("250 ok\r\n").ExpectLine().Send("250 ok\r\n").ExpectLine("data").Send("354 go\r\n");
        peer.ReadUntil("\r\n.\r\n").Send("250 queued\r\n");
    }
    peer.ExpectLine("quit").ReadToEnd();
    peer.Start();
    std::vector<std::string> trace;
    for (int i = 0; i < 2; ++i) {
        if (i > 0) std::this_thread::sleep_for(Ms(300));
        auto message = NewTestMessage();
        message->Port(peer.port());
        message->KeepAlive(5);
        message->Subject("message " + std::to_string(i));
        message->ListenToTrace([&](std::string_view line) { trace.emplace_back(line); });
        message->send();
    }
    ConnectionPool::Instance().CloseAll();
    EXPECT_TRUE(peer.Finished());
    EXPECT_TRUE(peer.Problems().empty()) << peer.Problems().front();
    EXPECT_EQ(peer.Connections(), 2u);
    EXPECT_EQ(Reuses(trace), 1u);
    EXPECT_NE(std::find(trace.begin(), trace.end(), "+ The server has closed it"), trace.end());
    const std::string received = peer.Received();
    for (const char* subject : {"Subject: message 0\r\n", "Subject: message 1\r\n"}) {
        EXPECT_NE(received.find(subject), std::string::npos) << subject;
        EXPECT_EQ(received.find(subject), received.rfind(subject)) << subject;
    }
}

}  // namespace
}  // namespace quillpost::test
