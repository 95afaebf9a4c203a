// Shared pieces of the send tests: a well-behaved server script, the data
// section of what it received, and a fixed time zone.
#pragma once

#include "tests/support/error_of.hpp"
#include "tests/support/scripted_peer.hpp"

#include <quillpost/error.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>

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

}  // namespace quillpost::test
