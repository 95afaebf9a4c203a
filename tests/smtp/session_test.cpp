// The SMTP session over real loopback connections to the scripted peer: how
// replies are collected and judged, how text goes out, and what the trace
// file records.
#include "smtp/session.hpp"
#include "mailer/header_block.hpp"

#include "tests/support/error_of.hpp"
#include "tests/support/scripted_peer.hpp"
#include "tests/support/temp_dir.hpp"

#include <quillpost/error.hpp>
#include <quillpost/host_events.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace quillpost {
namespace {

using test::RaisedBy;
using test::ScriptedPeer;
using test::TempDir;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Ms = std::chrono::milliseconds;

// A clock that gives the readings it was handed, one per look, and then the
// last one for ever.
class ScriptedClock : public Clock {
public:
    explicit ScriptedClock(std::vector<double> readings) : readings_(std::move(readings)) {}
    double Seconds() const override {
        const double reading = readings_[std::min(next_, readings_.size() - 1)];
        ++next_;
        return reading;
    }

private:
    std::vector<double> readings_;
    mutable std::size_t next_ = 0;
};

// Installs a pending-events hook for one test and removes it afterwards.
class EventsHook {
public:
    explicit EventsHook(PendingEventsHook hook) { SetPendingEventsHook(std::move(hook)); }
    ~EventsHook() { SetPendingEventsHook({}); }
};

// One session with the scripted peer, tracing into a file of its own.
class Conversation {
public:
    explicit Conversation(float timeOut, int receiveBuffer = 0)
        : peer(receiveBuffer), exchange(timeOut, trace), tracePath(dir.file("trace.txt")) {}

    // Starts the peer's script, opens the trace and connects.
    void Begin() {
        peer.Start();
        trace.Open(tracePath);
        exchange.Open("127.0.0.1", peer.port());
    }

    // The whole trace so far (the trace is closed first).
    std::string Trace() {
        trace.Close();
        return TempDir::read(tracePath);
    }

    TempDir dir;
    ScriptedPeer peer;
    quillpost::Trace trace;
    Session exchange;
    std::string tracePath;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// --- Collecting and judging replies -----------------------------------------

TEST(WaitForResponse, AcceptsAGreetingReadAtOnceAndTracesEachStep) {
    Conversation c(5);
    c.peer.Send("220 mail.example ready\r\n").Hold();
    c.Begin();
    c.exchange.WaitForResponse("220");
    const std::vector<std::string> lines = Lines(c.Trace());
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "+ Waiting for data");
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\+ CommWaitForData called with mvarConn = \d+)")))
        << lines[1];
    EXPECT_EQ(lines[2], "+ Calling WSASelect");
    EXPECT_EQ(lines[3], "+ Returned from WSASelect with 1");
    EXPECT_EQ(lines[4], "+ Finished waiting");
    EXPECT_EQ(lines[5], "+ Received 24 bytes");
    EXPECT_EQ(lines[6], "< 220 mail.example ready");
    EXPECT_EQ(lines[7], "");
}

TEST(WaitForResponse, AcceptsAReplySplitAtEveryBytePosition) {
    const std::string reply = "250 OK\r\n";
    for (std::size_t split = 1; split < reply.size(); ++split) {
        SCOPED_TRACE("split after " + std::to_string(split) + " bytes");
        Conversation c(5);
        c.peer.SendInChunks(reply, {split}, Ms(15)).ExpectLine("NOOP").Send("354 go\r\n").Hold();
        c.Begin();
        c.exchange.WaitForResponse("250");
        c.exchange.SendText("NOOP\r\n");
        c.exchange.WaitForResponse("354");
        const std::string trace = c.Trace();
        EXPECT_THAT(trace, HasSubstr("\r\n< 250 OK\r\n\r\n"));
        EXPECT_THAT(trace, HasSubstr("\r\n< 354 go\r\n\r\n"));
        EXPECT_EQ(Count(trace, "\r\n< "), 2u);
    }
}

TEST(WaitForResponse, AcceptsATwoLineReplySplitAtEveryBytePosition) {
    // The reply that follows shows that no tail of the first one was left for
    // the next wait to mistake for a reply of its own.
    const std::string reply = "250-mail.example\r\n250 SIZE 1000\r\n";
    for (std::size_t split = 1; split < reply.size(); ++split) {
        SCOPED_TRACE("split after " + std::to_string(split) + " bytes");
        Conversation c(5);
        c.peer.SendInChunks(reply, {split}, Ms(10)).ExpectLine("MAIL FROM: <a@b>");
        c.peer.Send("250 sender ok\r\n").Hold();
        c.Begin();
        c.exchange.WaitForResponse("250");
        c.exchange.SendText(HeaderLine("MAIL FROM:", "<a@b>"));
        c.exchange.WaitForResponse("250");
        const std::string trace = c.Trace();
        EXPECT_THAT(trace, HasSubstr("\r\n< " + reply + "\r\n"));
        EXPECT_THAT(trace, HasSubstr("\r\n< 250 sender ok\r\n\r\n"));
        EXPECT_EQ(Count(trace, "\r\n< "), 2u);
        EXPECT_TRUE(c.peer.Problems().empty());
    }
}

TEST(WaitForResponse, AcceptsATwoLineReplyReadAtOnceAsOneEntry) {
    Conversation c(5);
    c.peer.Send("250-first\r\n250 second\r\n").Hold();
    c.Begin();
    c.exchange.WaitForResponse("250");
    const std::string trace = c.Trace();
    EXPECT_THAT(trace, HasSubstr("\r\n< 250-first\r\n250 second\r\n\r\n"));
    EXPECT_EQ(Count(trace, "< "), 1u);
}

TEST(WaitForResponse, WaitsForALateSecondGreetingLine) {
    Conversation c(5);
    c.peer.SendInChunks("220-first line\r\n220 second line\r\n", {16}, Ms(300));
    c.peer.ExpectLine("HELO me").Send("250 hello\r\n").Hold();
    c.Begin();
    c.exchange.WaitForResponse("220");
    c.exchange.SendText("HELO me\r\n");
    c.exchange.WaitForResponse("250");
    const std::string trace = c.Trace();
    EXPECT_THAT(trace, HasSubstr("< 220-first line\r\n220 second line\r\n\r\n"));
    EXPECT_THAT(trace, HasSubstr("< 250 hello\r\n\r\n"));
    EXPECT_THAT(c.peer.Lines(), ElementsAre("HELO me"));
}

TEST(WaitForResponse, WaitsForTheLineFeedAndKeepsWhatFollowsForTheNextWait) {
    Conversation c(5);
    c.peer.SendInChunks("250 OK\r\n354 go\r\n", {7, 9}, Ms(200)).Hold();
    c.Begin();
    EXPECT_EQ(c.exchange.WaitForResponse("250").text, "250 OK\r\n");
    EXPECT_EQ(c.exchange.WaitForResponse("354").text, "354 go\r\n");
    const std::string trace = c.Trace();
    EXPECT_THAT(trace, HasSubstr("< 250 OK\r\n\r\n< 354 go\r\n\r\n"));
}

TEST(WaitForResponse, TwoRepliesInOneReadServeTwoWaits) {
    Conversation c(5);
    c.peer.Send("250-first\r\n250 second\r\n354 go\r\n").Hold();
    c.Begin();
    c.exchange.WaitForResponse("250");
    c.exchange.WaitForResponse("354");
    const std::string trace = c.Trace();
    EXPECT_EQ(Count(trace, "+ Received "), 1u);
    EXPECT_THAT(trace, HasSubstr("< 250-first\r\n250 second\r\n\r\n< 354 go\r\n\r\n"));
}

TEST(WaitForResponse, JudgesAWrongCodeOnlyOnceTheReplyIsWhole) {
    Conversation c(5);
    c.peer.SendInChunks("550 denied\r\n", {3}, Ms(100)).Hold();
    c.Begin();
    const Error error = RaisedBy([&] { c.exchange.WaitForResponse("250"); });
    EXPECT_EQ(error.number(), 9550);
    EXPECT_EQ(error.description(), "denied\r\n");
    EXPECT_THAT(c.Trace(), HasSubstr("< 550 denied\r\n\r\n"));
}

TEST(WaitForResponse, AMultiLineRefusalIsJudgedWhole) {
    Conversation c(5);
    c.peer.SendInChunks("550-no such user\r\n550 try again\r\n", {18}, Ms(100)).Hold();
    c.Begin();
    const Error error = RaisedBy([&] { c.exchange.WaitForResponse("250"); });
    // The text before the first blank is no number, so the reply is shown.
    EXPECT_EQ(error.number(), 9999);
    EXPECT_EQ(error.description(),
              "Unexpected response from server: 550-no such user\r\n550 try again\r\n");
}

TEST(WaitForResponse, RefusesAnEndlessLineAfter64KiB) {
    std::string endless = "250-";
    while (endless.size() < (1u << 20)) endless += "abcdefghijklmnopqrstuvwxyz0123456789";
    Conversation c(10);
    c.peer.SendInChunks(endless, {8192}, Ms(0)).Hold();
    c.Begin();
    const Error error = RaisedBy([&] { c.exchange.WaitForResponse("250"); });
    EXPECT_EQ(error.number(), 9999);
    EXPECT_EQ(error.description(), "Unexpected response from server: " + endless.substr(0, 1024));
    EXPECT_THAT(c.Trace(), HasSubstr("\r\n< " + endless.substr(0, 1024) + "\r\n"));
}

TEST(WaitForResponse, RefusesEndlessContinuationLinesAfter64KiB) {
    std::string endless;
    for (int i = 0; endless.size() < (1u << 20); ++i) endless += "250-line " + std::to_string(i) + "\r\n";
    Conversation c(10);
    c.peer.SendInChunks(endless, {4000}, Ms(0)).Hold();
    c.Begin();
    const Error error = RaisedBy([&] { c.exchange.WaitForResponse("250"); });
    EXPECT_EQ(error.number(), 9999);
    EXPECT_EQ(error.description(), "Unexpected response from server: " + endless.substr(0, 1024));
}

TEST(WaitForResponse, AServerThatNeverAnswersTimesOut) {
    Conversation c(0.5f);
    c.peer.Hold();
    c.Begin();
    const Error error = RaisedBy([&] { c.exchange.WaitForResponse("220"); });
    EXPECT_EQ(error.number(), 9998);
    EXPECT_EQ(error.description(), "Timeout error while waiting for response from server");
    const std::string trace = c.Trace();
    EXPECT_GE(Count(trace, "+ Waiting for data\r\n"), 1u);
    EXPECT_THAT(trace, HasSubstr("+ Returned from WSASelect with 0\r\n"));
}

TEST(WaitForResponse, ANegativeTimeOutFailsBeforeAnyWait) {
    Conversation c(-1);
    c.peer.Send("220 ready\r\n").Hold();
    c.Begin();
    int events = 0;
    EventsHook hook([&] { ++events; });
    EXPECT_EQ(RaisedBy([&] { c.exchange.WaitForResponse("220"); }).number(), 9998);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(c.Trace(), "");
}

TEST(WaitForResponse, FailsOnlyOnceTheLimitIsPassedNotWhenReached) {
    // Every look at the clock after the start finds exactly TimeOut elapsed.
    ScriptedClock clock({100.0, 105.0});
    Conversation c(5);
    c.exchange.SetClock(clock);
    c.peer.SendInChunks("250 OK\r\n", {1}, Ms(10)).Hold();
    c.Begin();
    c.exchange.WaitForResponse("250");
    EXPECT_THAT(c.Trace(), HasSubstr("< 250 OK\r\n\r\n"));
}

TEST(WaitForResponse, AReplyStillIncompleteWhenTheTimeIsUpIsNeitherAcceptedNorRefused) {
    // Each a beginning of "250": only its line break, or its final line, is missing.
    for (const std::string part : {"2", "250 O", "250 OK", "250 OK\r", "250-first\r\n250-second\r\n"}) {
        // Start, the first pass, then past the limit.
        ScriptedClock clock({0.0, 0.0, 5.5});
        Conversation c(5);
        c.exchange.SetClock(clock);
        c.peer.Send(part).Hold();
        c.Begin();
        EXPECT_EQ(RaisedBy([&] { c.exchange.WaitForResponse("250"); }).number(), 9998) << part;
        EXPECT_THAT(c.Trace(), HasSubstr("\r\n< " + part + "\r\n")) << part;
    }
}

TEST(WaitForResponse, AClosedConnectionEndsInTheTimeOutWithoutSpinning) {
    Conversation c(0.5f);
    c.peer.Close();
    c.Begin();
    EXPECT_EQ(RaisedBy([&] { c.exchange.WaitForResponse("220"); }).number(), 9998);
    // One pass per second, as with a silent server, not thousands.
    EXPECT_LE(Count(c.Trace(), "+ Waiting for data"), 3u);
}

TEST(WaitForResponse, AReplyCutShortByTheCloseIsNoAnswer) {
    Conversation c(0.5f);
    c.peer.Send("250-more to come\r\n").Close();
    c.Begin();
    EXPECT_EQ(RaisedBy([&] { c.exchange.WaitForResponse("250"); }).number(), 9998);
    EXPECT_LE(Count(c.Trace(), "+ Finished waiting"), 4u);
}

TEST(WaitForResponse, AReplySentJustBeforeTheCloseIsAccepted) {
    Conversation c(5);
    c.peer.Send("221 bye\r\n").Close();
    c.Begin();
    ASSERT_TRUE(c.peer.Finished());
    c.exchange.WaitForResponse("221");
    EXPECT_THAT(c.Trace(), HasSubstr("< 221 bye\r\n"));
}

// --- Refused replies ----------------------------------------------------------

TEST(RaiseUnexpectedResponse, TakesTheCodeBeforeTheFirstBlank) {
    quillpost::Trace trace;
    Session exchange(5, trace);
    struct Case {
        std::string reply;
        std::int32_t number;
        std::string description;
    };
    const std::vector<Case> cases = {
        {"550 denied\r\n", 9550, "denied\r\n"},
        {"421 closing\r\n421 really\r\n", 9421, "closing\r\n421 really\r\n"},
        {"+12 odd\r\n", 9999, "Unexpected response from server: +12 odd\r\n"},
        {"-5 odd", 9999, "Unexpected response from server: -5 odd"},
        {"-9000 x", 9999, "Unexpected response from server: -9000 x"},
        {"-8995 x", 9999, "Unexpected response from server: -8995 x"},
        {"2500 x", 9999, "Unexpected response from server: 2500 x"},
        {"32767 top", 9999, "Unexpected response from server: 32767 top"},
        {"199 low", 9999, "Unexpected response from server: 199 low"},
        {"600 high", 9999, "Unexpected response from server: 600 high"},
        {"221 bye", 9221, "bye"},
        {"550 ", 9550, ""},
        {"550\r\n", 9999, "Unexpected response from server: 550\r\n"},
        {"550-a\r\n550 b\r\n", 9999, "Unexpected response from server: 550-a\r\n550 b\r\n"},
        {"0 zero", 9999, "Unexpected response from server: 0 zero"},
        {"32768 over", 9999, "Unexpected response from server: 32768 over"},
        {"abc def", 9999, "Unexpected response from server: abc def"},
        {"+-5 x", 9999, "Unexpected response from server: +-5 x"},
        {"5x0 x", 9999, "Unexpected response from server: 5x0 x"},
        {" 550 lead", 9999, "Unexpected response from server:  550 lead"},
        {"", 9999, "Unexpected response from server: "},
    };
    for (const Case& c : cases) {
        const Error error = RaisedBy([&] { exchange.RaiseUnexpectedResponse(c.reply); });
        EXPECT_EQ(error.number(), c.number) << c.reply;
        EXPECT_EQ(error.description(), c.description) << c.reply;
    }
}

TEST(RaiseUnexpectedResponse, TracesTheReplyFirst) {
    TempDir dir;
    const std::string path = dir.file("trace.txt");
    quillpost::Trace trace;
    Session exchange(5, trace);
    trace.Open(path);
    RaisedBy([&] { exchange.RaiseUnexpectedResponse("554 no\r\n"); });
    trace.Close();
    EXPECT_EQ(TempDir::read(path), "< 554 no\r\n\r\n");
}

// --- Sending ------------------------------------------------------------------

TEST(SendText, TracesOneEntryPerTextWhenTaken) {
    Conversation c(5);
    c.peer.ReadUntil("QUIT\r\n");
    c.Begin();
    c.exchange.SendText("HELO me\r\n");
    c.exchange.SendText("no break");
    c.exchange.SendText("QUIT\r\n");
    c.exchange.Flush();
    ASSERT_TRUE(c.peer.Finished());
    EXPECT_EQ(c.Trace(), "> HELO me\r\n\r\n> no break\r\n> QUIT\r\n\r\n");
    EXPECT_EQ(c.peer.Received(), "HELO me\r\nno breakQUIT\r\n");
}

TEST(SendText, KeepsTextUntilTheBufferFillsOrAReplyIsAwaited) {
    Conversation c(5);
    c.peer.ExpectLine("HELO me").Send("250 hi\r\n").ReadToEnd();
    c.Begin();
    c.exchange.SendText("HELO me\r\n");
    std::this_thread::sleep_for(Ms(50));
    EXPECT_EQ(c.peer.ReceivedSize(), 0u);  // still in the buffer
    c.exchange.WaitForResponse("250");  // which writes it first
    EXPECT_EQ(c.peer.Received(), "HELO me\r\n");

    // 78-byte lines go out once 64 KiB have gathered.
    const std::string line(76, 'Q');
    std::size_t taken = 0;
    while (taken < Session::kSendBuffer) {
        c.exchange.SendText(line + "\r\n");
        taken += 78;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (c.peer.ReceivedSize() < 9 + taken && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(Ms(2));
    EXPECT_EQ(c.peer.ReceivedSize(), 9 + taken);
    c.exchange.Close();
    EXPECT_TRUE(c.peer.Finished());
}

TEST(SendText, PutsExactlyTheTakenBytesOnTheWireInOrder) {
    Conversation c(5);
    c.peer.ReadUntil("<end>\r\n");
    c.Begin();
    std::string expected;
    auto send = [&](const std::string& text) {
        c.exchange.SendText(text);
        expected += text;
    };
    for (int i = 0; i < 3000; ++i) send("line " + std::to_string(i) + std::string(60, '=') + "\r\n");
    send("");
    send(std::string(Session::kSendBuffer, 'L'));       // as large as the buffer: on its own
    send("after the large one\r\n");
    send(std::string(3 * Session::kSendBuffer + 7, 'M'));
    for (int i = 0; i < 1000; ++i) send(std::string(1, static_cast<char>('a' + i % 26)));
    send(std::string("\0\x01\xfe\xff", 4));
    send("<end>\r\n");
    c.exchange.Flush();
    ASSERT_TRUE(c.peer.Finished());
    EXPECT_TRUE(c.peer.Received() == expected) << "the bytes differ from those taken";
    EXPECT_EQ(Count(c.Trace(), "> "), 3000u + 1 + 1 + 1 + 1 + 1000 + 1 + 1);
}

TEST(SendText, TimesOutWhenTheServerTakesNothing) {
    Conversation c(0.3f, 4096);
    c.peer.Hold();
    c.Begin();
    const Error error = RaisedBy([&] {
        c.exchange.SendText(std::string(32u << 20, 'x'));
        c.exchange.Flush();
    });
    EXPECT_EQ(error.number(), 9997);
    EXPECT_EQ(error.description(), "Timeout error while waiting to send data");
    EXPECT_THAT(c.Trace(), HasSubstr("\r\n+ Waiting to send\r\n"));
}

TEST(SendText, SmallTextsTimeOutWhereTheBufferIsWritten) {
    Conversation c(0.3f, 4096);
    c.peer.Hold();
    c.Begin();
    const std::string line = std::string(76, 'y') + "\r\n";
    std::optional<Error> error;
    std::size_t taken = 0;
    try {
        for (; taken < (256u << 20); taken += line.size()) c.exchange.SendText(line);
    } catch (const Error& e) {
        error = e;
    }
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->number(), 9997);
    // The text that failed was the one that filled the buffer, whose write
    // was refused.
    const std::size_t linesPerBuffer = (Session::kSendBuffer + line.size() - 1) / line.size();
    EXPECT_EQ((taken / line.size() + 1) % linesPerBuffer, 0u);
}

TEST(SendText, WaitsWhileTheConnectionIsFullThenSendsEverything) {
    Conversation c(10, 4096);
    c.peer.AwaitRelease().ReadUntil("<end>");
    c.Begin();
    int events = 0;
    EventsHook hook([&] {
        if (++events == 1) c.peer.Release();
    });
    std::string text;
    for (int i = 0; text.size() < (16u << 20); ++i) text += std::to_string(i) + ',';
    text += "<end>";
    c.exchange.SendText(text);
    ASSERT_TRUE(c.peer.Finished(Ms(30000)));
    EXPECT_TRUE(c.peer.Received() == text);
    const std::string trace = c.Trace();
    EXPECT_GE(Count(trace, "+ Waiting to send\r\n"), 1u);
    EXPECT_EQ(static_cast<std::size_t>(events), Count(trace, "+ Waiting to send\r\n"));
}

TEST(SendText, ASlowButSteadyServerNeverTimesOut) {
    // 1 MiB every 0.3 s: no stall comes near TimeOut, the whole text takes
    // well over it.
    Conversation c(1);
    const std::size_t total = 16u << 20;
    c.peer.ReadSlowly(total, 1u << 20, Ms(300)).Hold();
    c.Begin();
    const auto start = std::chrono::steady_clock::now();
    c.exchange.SendText(std::string(total, 's'));
    ASSERT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500))
        << "the connection took the text too fast to show anything";
    EXPECT_TRUE(c.peer.Problems().empty());
}

TEST(SendText, TakesTextWhateverTheTimeOutWhenTheConnectionHasRoom) {
    Conversation c(-1);
    c.peer.ReadUntil("NOOP\r\n");
    c.Begin();
    c.exchange.SendText("NOOP\r\n");
    c.exchange.Flush();
    EXPECT_TRUE(c.peer.Finished());
}

TEST(SendText, AResetConnectionRaisesTheSocketError) {
    Conversation c(5);
    c.peer.ExpectLine("HELO me").Reset();
    c.Begin();
    c.exchange.SendText("HELO me\r\n");
    c.exchange.Flush();
    ASSERT_TRUE(c.peer.Finished());
    const Error error = RaisedBy([&] {
        for (int i = 0; i < 1000; ++i) {
            c.exchange.SendText("NOOP\r\n");
            c.exchange.Flush();
            std::this_thread::sleep_for(Ms(1));
        }
    });
    EXPECT_EQ(error.number(), 10054);
    EXPECT_EQ(error.description(), "Connection reset by peer.");
}

TEST(SendHeader, FormsTheSameLineWithAndWithoutAFinalColon) {
    Conversation c(5);
    c.peer.ReadUntil("<end>");
    c.Begin();
    c.exchange.SendText(HeaderLine("MAIL FROM:", "<a@example.com>"));
    c.exchange.SendText(HeaderLine("MAIL FROM", "<a@example.com>"));
    c.exchange.SendText(HeaderLine("Subject", "two\r\nlines"));
    c.exchange.SendText(HeaderLine("X-Empty", ""));
    c.exchange.SendText(HeaderLine("X-Empty:", ""));
    c.exchange.SendText("<end>");
    c.exchange.Flush();
    ASSERT_TRUE(c.peer.Finished());
    EXPECT_EQ(c.peer.Received(),
              "MAIL FROM: <a@example.com>\r\nMAIL FROM: <a@example.com>\r\n"
              "Subject: two\r\nlines\r\nX-Empty: \r\nX-Empty: \r\n<end>");
}

// --- Connection -------------------------------------------------------------

TEST(SessionOpen, ARefusedConnectionRaisesItsCodeAndStaysClosed) {
    quillpost::Trace trace;
    Session exchange(5, trace);
    const Error error = RaisedBy([&] { exchange.Open("127.0.0.1", ScriptedPeer::UnusedPort()); });
    EXPECT_EQ(error.number(), 10061);
    EXPECT_EQ(error.description(), "Connection refused.");
    EXPECT_FALSE(exchange.Connected());
}

TEST(SessionOpen, AnUnknownHostRaisesTheLookupError) {
    quillpost::Trace trace;
    Session exchange(5, trace);
    const Error error = RaisedBy([&] { exchange.Open("", 25); });
    EXPECT_EQ(error.number(), 11001);
    EXPECT_EQ(error.description(), "Host not found.");
    EXPECT_FALSE(exchange.Connected());
}

TEST(SessionOpen, ConnectsAndCloses) {
    Conversation c(5);
    c.peer.ReadToEnd();
    c.Begin();
    EXPECT_TRUE(c.exchange.Connected());
    c.exchange.Close();
    EXPECT_FALSE(c.exchange.Connected());
    EXPECT_TRUE(c.peer.Finished());
    EXPECT_TRUE(c.peer.Problems().empty());
}

// --- Trace file -------------------------------------------------------------

TEST(Trace, AnEmptyNameWritesNoTrace) {
    quillpost::Trace trace;
    trace.Open("");
    EXPECT_FALSE(trace.IsOpen());
    trace.Write("+ nowhere");
    trace.Close();
}

TEST(Trace, AFileInAMissingFolderRaisesTheFileError) {
    TempDir dir;
    quillpost::Trace trace;
    const Error error = RaisedBy([&] { trace.Open(dir.file("missing/trace.txt")); });
    EXPECT_EQ(error.number(), 76);
    EXPECT_FALSE(trace.IsOpen());
}

TEST(Trace, AppendsLinesAsTheyAreAndKeepsEarlierTraces) {
    TempDir dir;
    const std::string path = dir.write("trace.txt", "earlier\r\n");
    for (const char* text : {"+ first", "+ second"}) {
        quillpost::Trace trace;
        trace.Open(path);
        EXPECT_TRUE(trace.IsOpen());
        trace.Write(text);
        trace.Write("");
        trace.Close();
        EXPECT_FALSE(trace.IsOpen());
        trace.Write("+ after the close");
    }
    EXPECT_EQ(TempDir::read(path), "earlier\r\n+ first\r\n\r\n+ second\r\n\r\n");
}

TEST(Trace, WithoutATraceTheWaitsStillWork) {
    ScriptedPeer peer;
    peer.Send("220 ready\r\n").ExpectLine("QUIT").Send("221 bye\r\n").Hold();
    peer.Start();
    quillpost::Trace trace;
    Session exchange(5, trace);
    trace.Open("");
    exchange.Open("127.0.0.1", peer.port());
    exchange.WaitForResponse("220");
    exchange.SendText("QUIT\r\n");
    exchange.WaitForResponse("221");
    EXPECT_THAT(peer.Lines(), ElementsAre("QUIT"));
}

// --- The host's pending events ------------------------------------------------

TEST(PendingEvents, AreProcessedOncePerPassOfAWait) {
    Conversation c(5);
    c.peer.SendInChunks("250-a\r\n250-b\r\n250 c\r\n", {3}, Ms(30)).Hold();
    c.Begin();
    int events = 0;
    EventsHook hook([&] { ++events; });
    c.exchange.WaitForResponse("250");
    const std::string trace = c.Trace();
    EXPECT_GT(events, 1);
    EXPECT_EQ(static_cast<std::size_t>(events), Count(trace, "+ Finished waiting"));
}

TEST(PendingEvents, BelongToTheThreadThatInstalledTheHook) {
    int calls = 0;
    std::thread([&] { SetPendingEventsHook([&] { ++calls; }); }).join();
    ProcessPendingEvents();
    EXPECT_EQ(calls, 0);

    EventsHook hook([&] { ++calls; });
    ProcessPendingEvents();
    EXPECT_EQ(calls, 1);
}

TEST(PendingEvents, AHookThatRaisesEndsTheWait) {
    Conversation c(5);
    c.peer.Hold();
    c.Begin();
    EventsHook hook([] { throw Error(18, "User interrupt occurred"); });
    EXPECT_EQ(RaisedBy([&] { c.exchange.WaitForResponse("220"); }).number(), 18);
}

TEST(PendingEvents, AHookMayRemoveItselfWhileItRuns) {
    int calls = 0;
    SetPendingEventsHook([&] {
        ++calls;
        SetPendingEventsHook({});
    });
    ProcessPendingEvents();
    ProcessPendingEvents();
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace quillpost
