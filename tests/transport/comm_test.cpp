// The Comm operations over real loopback connections to the scripted peer.
#include "transport/comm.hpp"
#include "platform/file.hpp"
#include "transport/byte_stream.hpp"
#include "transport/wsksock.hpp"

#include "tests/support/error_of.hpp"
#include "tests/support/scripted_peer.hpp"
#include "tests/support/temp_dir.hpp"

#include <quillpost/error.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace quillpost {
namespace {

using test::ErrorOf;
using test::RaisedBy;
using test::ScriptedPeer;
using test::TempDir;
using ::testing::ElementsAre;
using ::testing::StartsWith;
using Ms = std::chrono::milliseconds;

// The lines of a trace file, without their line breaks.
std::vector<std::string> TraceLines(const std::string& path) {
    const std::string text = TempDir::read(path);
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

// The transport's trace lines, appended to a file as the conversation's
// trace does.
class FileSink : public TraceSink {
public:
    explicit FileSink(const std::string& path) : file_(path) {}
    void TraceLine(std::string_view line) override { file_.WriteLine(line); }
    void Close() { file_.Close(); }

private:
    AppendFile file_;
};

// A handle number that belongs to no open file, far above the numbers that
// new files and sockets are given.
std::int32_t ClosedHandle() {
    std::int32_t fd = 900;
    while (::fcntl(fd, F_GETFD) != -1) ++fd;
    return fd;
}

// Reads from `conn` until `size` bytes have come (or ten seconds passed).
std::string ReadAtLeast(std::int32_t& conn, std::size_t size) {
    std::string all;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (all.size() < size && std::chrono::steady_clock::now() < deadline) {
        CommWaitForData(conn, 1, nullptr);
        if (CommBytesReceived(conn) < 1) continue;
        std::string text;
        CommGetData(conn, text);
        all += text;
    }
    return all;
}

// --- Opening and closing ------------------------------------------------

TEST(CommOpen, ConnectsInNonBlockingModeAndCloseUndoesTheStartUp) {
    ScriptedPeer peer;
    peer.ExpectLine("HELLO");
    peer.Start();
    const std::int32_t before = SocketStartupCount();

    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());
    ASSERT_GE(conn, 0);
    EXPECT_NE(::fcntl(conn, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(SocketStartupCount(), before + 1);
    EXPECT_TRUE(CommSendData(conn, "HELLO\r\n"));
    EXPECT_TRUE(peer.Finished());

    const std::int32_t handle = conn;
    CommClose(conn);
    EXPECT_EQ(conn, handle);  // released, but the value stays
    EXPECT_EQ(::fcntl(handle, F_GETFD), -1);
    EXPECT_EQ(SocketStartupCount(), before);
    EXPECT_THAT(peer.Lines(), ElementsAre("HELLO"));
    EXPECT_TRUE(peer.Problems().empty());
}

TEST(CommOpen, ResolvesAHostName) {
    ScriptedPeer peer;
    peer.Send("220 here\r\n");
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "localhost", peer.port());
    EXPECT_EQ(ReadAtLeast(conn, 10), "220 here\r\n");
    CommClose(conn);
}

TEST(CommOpen, ReadsThePortAsSixteenUnsignedBits) {
    ScriptedPeer peer;
    // Ports above 32767 are held as negative numbers and still reach the
    // right TCP port (the usual ephemeral ports lie up there).
    if (peer.tcpPort() <= 32767) GTEST_SKIP() << "the free port lies below 32768";
    ASSERT_LT(peer.port(), 0);
    peer.Send("220 high\r\n");
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());
    EXPECT_EQ(ReadAtLeast(conn, 10), "220 high\r\n");
    CommClose(conn);
}

TEST(CommOpen, ARefusedConnectionLeavesNothingOpen) {
    const std::int32_t before = SocketStartupCount();
    std::int32_t conn = 77;
    const Error error = RaisedBy([&] { CommOpen(conn, "127.0.0.1", ScriptedPeer::UnusedPort()); });
    EXPECT_EQ(error.number(), 10061);
    EXPECT_EQ(error.description(), "Connection refused.");
    EXPECT_EQ(conn, -1);
    EXPECT_EQ(SocketStartupCount(), before);
}

TEST(CommOpen, AnUnknownHostRaisesTheLookupError) {
    const std::int32_t before = SocketStartupCount();
    std::int32_t conn = 5;
    const Error error = RaisedBy([&] { CommOpen(conn, "", 25); });
    EXPECT_EQ(error.number(), 11001);
    EXPECT_EQ(error.description(), "Host not found.");
    EXPECT_EQ(conn, -1);
    EXPECT_EQ(SocketStartupCount(), before);

    const Error lookup = RaisedBy([&] { CommOpen(conn, "no-such-host.invalid", 25); });
    EXPECT_GE(lookup.number(), 11001);
    EXPECT_LE(lookup.number(), 11004);
    EXPECT_EQ(lookup.description(), SocketErrorText(lookup.number()));
    EXPECT_EQ(conn, -1);
}

TEST(CommOpen, TheAllOnesAddressIsAnUnknownError) {
    std::int32_t conn = -1;
    const Error error = RaisedBy([&] { CommOpen(conn, "255.255.255.255", 25); });
    EXPECT_EQ(error.number(), 9999);
    EXPECT_EQ(error.description(), "Unknown error occurred in CommOpen");
    EXPECT_EQ(conn, -1);
}

// --- Readiness waits ----------------------------------------------------

TEST(CommWaitForData, TracesItsStepsAndReportsWhatItFound) {
    TempDir dir;
    const std::string path = dir.file("trace.txt");
    ScriptedPeer peer;
    peer.AwaitRelease().Send("220 ok\r\n").Hold();
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());
    {
        FileSink trace(path);
        CommWaitForData(conn, 0, &trace);  // nothing there yet
        EXPECT_EQ(CommBytesReceived(conn), 0);
        peer.Release();
        CommWaitForData(conn, 2, &trace);
        trace.Close();
    }
    EXPECT_EQ(CommBytesReceived(conn), 8);
    const std::string called = "+ CommWaitForData called with mvarConn = " + std::to_string(conn);
    EXPECT_THAT(TraceLines(path),
                ElementsAre(called, "+ Calling WSASelect", "+ Returned from WSASelect with 0",
                            called, "+ Calling WSASelect", "+ Returned from WSASelect with 1"));
    CommClose(conn);
}

// CommReceive takes everything that has arrived, beyond its own buffer, and
// tells a close or a reset from nothing waiting yet.
TEST(CommReceive, TakesAllThatArrivedAndSeesTheEnd) {
    const std::string big(40000, 'x');
    struct Case {
        const char* name;
        std::string sent;
        int end;  // 0: none, 1: close, 2: reset
    };
    const Case cases[] = {
        {"a reply", "250 OK\r\n", 0},
        {"more than one buffer", big, 0},
        {"a reply, then the close", "421 Bye\r\n", 1},
        {"the close alone", "", 1},
        {"a reset", "", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer;
        if (!c.sent.empty()) peer.Send(c.sent);
        if (c.end == 1) peer.Close();
        if (c.end == 2) peer.Reset();
        if (c.end == 0) peer.Hold();
        peer.Start();
        std::int32_t conn = -1;
        CommOpen(conn, "127.0.0.1", peer.port());
        std::string got;
        bool ended = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        // Once everything has arrived, one call takes it all.
        while (CommBytesReceived(conn) < static_cast<std::int32_t>(c.sent.size()) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(Ms(5));
        EXPECT_EQ(CommReceive(conn, got, ended), c.sent.size());
        EXPECT_EQ(got, c.sent);
        if (c.end != 0) {
            while (!ended && std::chrono::steady_clock::now() < deadline) {
                CommWaitForData(conn, 1, nullptr, true);
                EXPECT_EQ(CommReceive(conn, got, ended), 0u);
            }
        } else {
            EXPECT_EQ(CommReceive(conn, got, ended), 0u);  // nothing more waiting
        }
        EXPECT_EQ(ended, c.end != 0);
        CommClose(conn);
    }
}

TEST(CommWaitForData, ReturnsAtOnceWhenTheServerHasClosed) {
    TempDir dir;
    const std::string path = dir.file("trace.txt");
    ScriptedPeer peer;
    peer.Close();
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());
    ASSERT_TRUE(peer.Finished());
    {
        FileSink trace(path);
        CommWaitForData(conn, 1, &trace);
        trace.Close();
    }
    EXPECT_EQ(TraceLines(path).back(), "+ Returned from WSASelect with 1");
    EXPECT_EQ(CommBytesReceived(conn), 0);
    CommClose(conn);
}

TEST(CommWaitForData, ANonSocketFailsWithTracedSteps) {
    TempDir dir;
    const std::string path = dir.file("trace.txt");
    std::int32_t conn = ClosedHandle();
    Error error(0, "");
    {
        FileSink trace(path);
        error = RaisedBy([&] { CommWaitForData(conn, 1, &trace); });
        trace.Close();
    }
    EXPECT_EQ(error.number(), 10038);
    EXPECT_EQ(error.description(), "CommWaitForData: Socket operation on nonsocket.");
    EXPECT_THAT(TraceLines(path),
                ElementsAre("+ CommWaitForData called with mvarConn = " + std::to_string(conn),
                            "+ Calling WSASelect", "+ Returned from WSASelect with -1",
                            "+ Error 10038 while calling WSASelect",
                            "+ Retrieved error description: Socket operation on nonsocket.",
                            "+ Exception raised: 10038"));

    std::int32_t none = -1;
    const Error noHandle = RaisedBy([&] { CommWaitForData(none, 1, nullptr); });
    EXPECT_EQ(noHandle.number(), 10038);
    EXPECT_EQ(noHandle.description(), "CommWaitForData: Socket operation on nonsocket.");
}

TEST(CommWaitToSend, ReportsRoomAndFailsOnANonSocketWithoutPrefix) {
    ScriptedPeer peer;
    peer.Hold();
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());
    EXPECT_EQ(CommWaitToSend(conn, 1), 1);
    CommClose(conn);

    std::int32_t closed = ClosedHandle();
    const Error error = RaisedBy([&] { CommWaitToSend(closed, 1); });
    EXPECT_EQ(error.number(), 10038);
    EXPECT_EQ(error.description(), "Socket operation on nonsocket.");
}

TEST(CommWaitForData, WorksForHandlesBeyondTheSelectLimit) {
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const int high = FD_SETSIZE + 100;
    if (limit.rlim_cur <= static_cast<rlim_t>(high)) GTEST_SKIP() << "too few handles allowed";

    ScriptedPeer peer;
    peer.Send("220 far\r\n").Hold();
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());
    ASSERT_EQ(::dup2(conn, high), high);
    std::int32_t far = high;
    EXPECT_EQ(ReadAtLeast(far, 9), "220 far\r\n");
    EXPECT_EQ(CommWaitToSend(far, 1), 1);
    ::close(high);
    CommClose(conn);

    std::int32_t gone = high;
    EXPECT_EQ(RaisedBy([&] { CommWaitForData(gone, 1, nullptr); }).number(), 10038);
}

// --- Receiving ------------------------------------------------------------

TEST(CommGetData, TakesAtMostOneBufferPerCall) {
    const std::string text(5000, 'r');
    ScriptedPeer peer;
    peer.Send(text).Hold();
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (CommBytesReceived(conn) < 5000 && std::chrono::steady_clock::now() < deadline)
        CommWaitForData(conn, 1, nullptr);
    ASSERT_EQ(CommBytesReceived(conn), 5000);

    std::string got;
    CommGetData(conn, got);
    EXPECT_EQ(got.size(), 2048u);
    CommGetData(conn, got, 10);
    EXPECT_EQ(got.size(), 10u);
    CommGetData(conn, got, 100000);  // no more than the buffer
    EXPECT_EQ(got.size(), 2048u);
    CommGetData(conn, got);
    EXPECT_EQ(got.size(), 5000u - 2048 - 10 - 2048);
    EXPECT_EQ(CommBytesReceived(conn), 0);

    got = "left over";
    CommGetData(conn, got);  // nothing waiting: would block
    EXPECT_EQ(got, "");
    CommClose(conn);
}

TEST(CommGetData, AClosedConnectionIsAnUnknownError) {
    ScriptedPeer peer;
    peer.Close();
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());
    ASSERT_TRUE(peer.Finished());
    CommWaitForData(conn, 1, nullptr);
    std::string got = "before";
    const Error error = RaisedBy([&] { CommGetData(conn, got); });
    EXPECT_EQ(error.number(), 9999);
    EXPECT_EQ(error.description(), "CommGetData: Unknown error occurred in CommGetData");
    EXPECT_EQ(got, "before");
    CommClose(conn);
}

TEST(CommGetData, AResetConnectionRaisesItsCode) {
    ScriptedPeer peer;
    peer.ExpectLine("RSET").Reset();
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());
    ASSERT_TRUE(CommSendData(conn, "RSET\r\n"));
    ASSERT_TRUE(peer.Finished());
    CommWaitForData(conn, 1, nullptr);
    std::string got;
    const Error error = RaisedBy([&] { CommGetData(conn, got); });
    EXPECT_EQ(error.number(), 10054);
    EXPECT_EQ(error.description(), "CommGetData: Connection reset by peer.");
    CommClose(conn);
}

TEST(CommBytesReceived, ANonSocketFailsWithItsName) {
    std::int32_t conn = ClosedHandle();
    const Error error = RaisedBy([&] { CommBytesReceived(conn); });
    EXPECT_EQ(error.number(), 10038);
    EXPECT_EQ(error.description(), "CommBytesReceived: Socket operation on nonsocket.");

    std::string got;
    const Error read = RaisedBy([&] { CommGetData(conn, got); });
    EXPECT_EQ(read.number(), 10038);
    EXPECT_EQ(read.description(), "CommGetData: Socket operation on nonsocket.");
}

// --- Sending --------------------------------------------------------------

TEST(CommSendData, SendsTheTextAndTheEmptyTextAtOnce) {
    ScriptedPeer peer;
    peer.ReadUntil("QUIT\r\n");
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());
    EXPECT_TRUE(CommSendData(conn, ""));
    EXPECT_TRUE(CommSendData(conn, "HELO me\r\n"));
    EXPECT_TRUE(CommSendData(conn, std::string("\0\xff\x80", 3)));
    EXPECT_TRUE(CommSendData(conn, "QUIT\r\n"));
    ASSERT_TRUE(peer.Finished());
    EXPECT_EQ(peer.Received(), std::string("HELO me\r\n\0\xff\x80QUIT\r\n", 18));
    CommClose(conn);
}

TEST(CommSendData, AWouldBlockSendReturnsFalseAndSendsNothing) {
    ScriptedPeer peer(4096);
    peer.AwaitRelease().ReadUntil("END");
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());

    // Numbered blocks until the connection refuses one.
    std::string sent;
    bool refused = false;
    for (int block = 0; block < 100000 && !refused; ++block) {
        std::string text(4096, static_cast<char>('a' + block % 26));
        text.replace(0, 8, std::to_string(10000000 + block));
        if (CommSendData(conn, text))
            sent += text;
        else
            refused = true;
    }
    ASSERT_TRUE(refused);
    EXPECT_EQ(LastSocketError(), 10035);

    peer.Release();
    while (!CommSendData(conn, "END")) CommWaitToSend(conn, 1);
    ASSERT_TRUE(peer.Finished());
    EXPECT_TRUE(peer.Problems().empty());
    EXPECT_EQ(peer.Received(), sent + "END");
    CommClose(conn);
}

TEST(CommSendData, CompletesAPartlyTakenText) {
    ScriptedPeer peer(4096);
    peer.StaySilent(Ms(100)).ReadUntil("<end>");
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());

    std::string text;
    text.reserve(32u << 20);
    for (int i = 0; text.size() < (32u << 20); ++i) text += std::to_string(i) + ' ';
    text += "<end>";
    int waits = 0;
    EXPECT_TRUE(CommSendData(conn, text, [&] { ++waits; }));
    EXPECT_GT(waits, 0);  // the connection cannot take 32 MiB at once
    ASSERT_TRUE(peer.Finished(Ms(30000)));
    EXPECT_TRUE(peer.Problems().empty());
    EXPECT_TRUE(peer.Received() == text) << "the server must receive every byte once, in order";
    CommClose(conn);
}

TEST(CommSendData, AWaitForTheRestMayGiveUp) {
    ScriptedPeer peer(4096);
    peer.Hold();
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());
    const std::string text(32u << 20, 'x');
    int waits = 0;
    const Error error = RaisedBy([&] {
        CommSendData(conn, text, [&] {
            if (++waits == 2) throw Error(9997, "given up");
        });
    });
    EXPECT_EQ(error.number(), 9997);
    EXPECT_EQ(waits, 2);
    CommClose(conn);
}

TEST(CommSendData, AResetConnectionRaisesItsCode) {
    ScriptedPeer peer;
    peer.ExpectLine("HELO me").Reset();
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "127.0.0.1", peer.port());
    ASSERT_TRUE(CommSendData(conn, "HELO me\r\n"));
    ASSERT_TRUE(peer.Finished());
    const Error error = RaisedBy([&] {
        for (int i = 0; i < 1000; ++i) {
            CommSendData(conn, "NOOP\r\n");
            std::this_thread::sleep_for(Ms(1));
        }
    });
    EXPECT_EQ(error.number(), 10054);
    EXPECT_EQ(error.description(), "Connection reset by peer.");
    CommClose(conn);
}

TEST(CommSendData, ANonSocketFailsWithoutPrefix) {
    std::int32_t conn = ClosedHandle();
    const Error error = RaisedBy([&] { CommSendData(conn, "NOOP\r\n"); });
    EXPECT_EQ(error.number(), 10038);
    EXPECT_EQ(error.description(), "Socket operation on nonsocket.");
}

// --- The byte stream over the Comm operations -------------------------------

TEST(SocketStream, CarriesBytesBothWaysAndClosesOnce) {
    ScriptedPeer peer;
    peer.Send("220 stream\r\n").ExpectLine("QUIT").Close();
    peer.Start();
    const std::int32_t before = SocketStartupCount();
    {
        auto stream = ConnectSocket("127.0.0.1", peer.port());
        EXPECT_EQ(SocketStartupCount(), before + 1);
        std::string all;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (all.size() < 12 && std::chrono::steady_clock::now() < deadline) {
            stream->WaitReadable(1, nullptr);
            stream->Read(all);
        }
        EXPECT_EQ(all, "220 stream\r\n");
        EXPECT_EQ(stream->Write("QUIT\r\n"), 6u);
        EXPECT_TRUE(peer.Finished());
        // The peer has gone: reading finds nothing, and says so without error.
        EXPECT_EQ(stream->Read(all), 0u);
    }
    EXPECT_EQ(SocketStartupCount(), before);
}

TEST(SocketStream, AFailedOpenLeavesNothingOpen) {
    const std::int32_t before = SocketStartupCount();
    EXPECT_EQ(RaisedBy([&] { ConnectSocket("127.0.0.1", ScriptedPeer::UnusedPort()); }).number(), 10061);
    EXPECT_EQ(SocketStartupCount(), before);
}

}  // namespace
}  // namespace quillpost

namespace quillpost {
namespace {

// A listener on the IPv6 loopback address, or -1 where the machine has none.
int ListenOnIpv6Loopback(std::uint16_t& port) {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 || ::listen(fd, 4) != 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    port = ntohs(address.sin6_port);
    return fd;
}

TEST(CommOpen, ReachesIpv6AddressesBareOrInBracketsAndFailsOverAcrossAddresses) {
    std::uint16_t port = 0;
    const int listener = ListenOnIpv6Loopback(port);
    if (listener < 0) GTEST_SKIP() << "no IPv6 loopback here";
    for (const std::string host : {"::1", "[::1]", "ip6-localhost"}) {
        std::int32_t conn = -1;
        const Error error = ErrorOf([&] { CommOpen(conn, host, static_cast<std::int16_t>(port), 5); });
        if (host == "ip6-localhost" && error.number() >= 11001) continue;  // not every resolver knows it
        EXPECT_EQ(error.number(), 0) << host << ": " << error.description();
        EXPECT_NE(conn, -1) << host;
        if (conn != -1) CommClose(conn);
    }
    ::close(listener);

    // A name whose first address refuses is tried at its next one.
    ScriptedPeer peer;
    peer.ReadToEnd();
    peer.Start();
    std::int32_t conn = -1;
    CommOpen(conn, "localhost", peer.port(), 5);
    EXPECT_NE(conn, -1);
    CommClose(conn);
}

}  // namespace
}  // namespace quillpost
