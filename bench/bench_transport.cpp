// Transport speed over loopback: 64 MiB of 78-byte lines through SendText to
// a reader that discards them (with and without a trace file), a whole
// 220 / HELO / 250 conversation with the scripted peer, and one command and
// reply on an open connection. The resident memory before and after the
// bulk runs shows that sending keeps no more than its buffers.
#include "smtp/session.hpp"

#include "tests/support/scripted_peer.hpp"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

using namespace quillpost;

namespace {

// Resident memory of the process in KiB.
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long value = 0;
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

// Accepts one connection on 127.0.0.1 and reads everything, keeping only
// the count.
class LoopbackReader {
public:
    LoopbackReader() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        ::listen(listener_, 1);
        thread_ = std::thread([this] {
            const int conn = ::accept(listener_, nullptr, nullptr);
            static char buffer[1 << 18];
            for (;;) {
                const ssize_t got = ::recv(conn, buffer, sizeof buffer, 0);
                if (got <= 0) break;
                received_ += static_cast<std::size_t>(got);
            }
            ::close(conn);
        });
    }
    ~LoopbackReader() {
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }
    std::int16_t port() const { return static_cast<std::int16_t>(port_); }
    // Waits for the client's close and gives the bytes read.
    std::size_t Finish() {
        thread_.join();
        return received_;
    }

private:
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<std::size_t> received_{0};
};

constexpr std::size_t kBulk = 64u << 20;

void BM_SendText64MiBOf78ByteLines(benchmark::State& state) {
    const bool traced = state.range(0) != 0;
    const std::string tracePath = "/tmp/quillpost_bench_trace_" + std::to_string(::getpid()) + ".txt";
    std::remove(tracePath.c_str());

    LoopbackReader reader;
    Trace trace;
    Session exchange(50, trace);
    if (traced) trace.Open(tracePath);
    exchange.Open("127.0.0.1", reader.port());

    // One Base64 body line: 76 characters and the line break.
    const std::string line = std::string(76, 'Q') + "\r\n";
    const std::size_t lines = kBulk / line.size();
    long firstRss = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < lines; ++i) exchange.SendText(line);
        exchange.Flush();
        if (firstRss == 0) firstRss = ResidentKiB();
        if (traced) {
            // The trace of one pass is 70 MB; start afresh so the disk does not fill.
            state.PauseTiming();
            trace.Close();
            std::remove(tracePath.c_str());
            trace.Open(tracePath);
            state.ResumeTiming();
        }
    }
    const long lastRss = ResidentKiB();
    exchange.Close();
    trace.Close();
    std::remove(tracePath.c_str());
    const std::size_t expected = state.iterations() * lines * line.size();
    if (reader.Finish() != expected) state.SkipWithError("the reader did not get every byte");
    state.SetBytesProcessed(static_cast<std::int64_t>(expected));
    state.counters["rss_KiB"] = static_cast<double>(lastRss);
    state.counters["rss_growth_KiB"] = static_cast<double>(lastRss - firstRss);
}
BENCHMARK(BM_SendText64MiBOf78ByteLines)->ArgName("trace")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Connect, greeting, HELO, its reply, close: one whole short conversation.
void BM_GreetingHeloConversation(benchmark::State& state) {
    const bool traced = state.range(0) != 0;
    const std::string tracePath = "/tmp/quillpost_bench_rt_" + std::to_string(::getpid()) + ".txt";
    test::ScriptedPeer peer;
    peer.Send("220 bench.example ESMTP ready\r\n").ExpectLine("HELO client.example");
    peer.Send("250 bench.example hello\r\n").ReadToEnd();
    peer.RepeatForEveryConnection();
    peer.Start();
    for (auto _ : state) {
        Trace trace;
        Session exchange(50, trace);
        if (traced) trace.Open(tracePath);
        exchange.Open("127.0.0.1", peer.port());
        exchange.WaitForResponse("220");
        exchange.SendText("HELO client.example\r\n");
        exchange.WaitForResponse("250");
        exchange.Close();
        trace.Close();
    }
    peer.Stop();
    std::remove(tracePath.c_str());
    if (!peer.Problems().empty()) state.SkipWithError(peer.Problems().front().c_str());
    state.counters["conversations_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_GreetingHeloConversation)->ArgName("trace")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One command and its reply on a connection that stays open.
void BM_CommandReplyRoundTrip(benchmark::State& state) {
    test::ScriptedPeer peer;
    peer.Send("220 ready\r\n").AnswerEachLine("250 OK\r\n");
    peer.Start();
    Trace trace;
    Session exchange(50, trace);
    exchange.Open("127.0.0.1", peer.port());
    exchange.WaitForResponse("220");
    for (auto _ : state) {
        exchange.SendText("NOOP\r\n");
        exchange.WaitForResponse("250");
    }
    exchange.Close();
    peer.Finished();
    state.counters["round_trips_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CommandReplyRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
