// Shared pieces of the send tests: a well-behaved server script, the data
// section of what it received, a fixed time zone, a fixture with a message
// ready to send, and the check that a setting is refused before connecting.
#pragma once

#include "tests/support/error_of.hpp"
#include "tests/support/scripted_peer.hpp"

#include <quillpost/detail/date.hpp>
#include <quillpost/error.hpp>
#include <quillpost/message.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

namespace quillpost::test {

// Greets, accepts HELO, MAIL FROM and `recipients` RCPT TO lines, the data
// command and the message, then reads "quit" and waits for the close.
inline void PlayAcceptingServer(ScriptedPeer& peer, int recipients) {
    peer.Send("220 test server ready\r\n").ExpectLine().Send("250 hello\r\n").ExpectLine().Send("250 sender ok\r\n");
    for (int i = 0; i < recipients; ++i) peer.ExpectLine().Send("250 recipient ok\r\n");
    peer.ExpectLine("data").Send("354 go ahead\r\n").ReadUntil("\r\n.\r\n").Send("250 queued\r\n");
    peer.ExpectLine("quit").ReadToEnd();
}

// The bytes between the data command's line and the end-of-data line.
inline std::string DataSection(const std::string& received) {
    const auto begin = received.find("data\r\n");
    const auto end = received.rfind("\r\n.\r\n");
    if (begin == std::string::npos || end == std::string::npos || end < begin) return {};
    return received.substr(begin + 6, end + 2 - (begin + 6));
}

// Sets the process's time zone for one test and restores it afterwards.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneGuard() {
        if (had_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

// Sets one environment variable for the length of a test.
class EnvGuard {
public:
    EnvGuard(const char* name, const std::string& value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvGuard() {
        if (had_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

// A message from "Ann Lee" <ann@example.com> to "Bob" <bob@example.com>,
// dated Sun, 06 Dec 2026 22:20:18 in UTC, for a server on 127.0.0.1.
inline std::shared_ptr<Message> NewTestMessage() {
    auto message = std::make_shared<Message>();
    message->Server("127.0.0.1");
    message->TimeOut(10);
    message->FromAddress("ann@example.com");
    message->FromName("Ann Lee");
    message->DateTime(MakeDate({2026, 12, 6, 22, 20, 18, 0}));
    message->Recipients()->Add("bob@example.com", "Bob");
    return message;
}

// The data section with the random part of its "Message-ID" line written
// "ID", so that a whole message can be compared: the line must have its
// shape (32 hexadecimal digits, "@", the right side) to be changed.
inline std::string WithSteadyMessageId(const std::string& data) {
    static const std::regex random("\r\nMessage-ID: <[0-9a-f]{32}@([^>\r\n]+)>\r\n");
    return std::regex_replace(data, random, "\r\nMessage-ID: <ID@$1>\r\n", std::regex_constants::format_first_only);
}

// Sends `message` to `peer`, which accepts everything; returns the data
// section (with WithSteadyMessageId).
inline std::string SendAndCaptureWith(ScriptedPeer& peer, Message& message, int recipients = 1) {
    PlayAcceptingServer(peer, recipients);
    peer.Start();
    message.Port(peer.port());
    message.send();
    EXPECT_TRUE(peer.Finished());
    EXPECT_TRUE(peer.Problems().empty()) << peer.Problems().front();
    return WithSteadyMessageId(DataSection(peer.Received()));
}

class SendFixture : public ::testing::Test {
protected:
    ZoneGuard zone{"UTC"};
    ScriptedPeer peer;
    std::shared_ptr<Message> message = NewTestMessage();

    // Sends to a server that accepts everything; returns the data section.
    std::string SendAndCapture(int recipients = 1) { return SendAndCaptureWith(peer, *message, recipients); }
};

// One setting that makes send refuse a message, and the property the
// error's description names.
struct RefusedSetting {
    std::function<void(Message&)> set;
    std::string property;
};

// For each setting, a message from ann@example.com to `peer` (started) with
// the trace file `trace` must fail with `number` and `text` followed by the
// property; none may connect or create the trace.
inline void ExpectRefusedBeforeConnecting(ScriptedPeer& peer, const std::string& trace,
                                          const std::vector<RefusedSetting>& settings, std::int32_t number,
                                          const std::string& text) {
    for (const RefusedSetting& c : settings) {
        auto m = std::make_shared<Message>();
        m->Server("127.0.0.1");
        m->Port(peer.port());
        m->FromAddress("ann@example.com");
        m->TraceFile(trace);
        c.set(*m);
        const Error e = ErrorOf([&] { m->send(); });
        EXPECT_EQ(e.number(), number) << c.property;
        EXPECT_EQ(e.description(), text + c.property);
    }
    EXPECT_EQ(peer.Connections(), 0u);
    EXPECT_EQ(::access(trace.c_str(), F_OK), -1);
}

}  // namespace quillpost::test
