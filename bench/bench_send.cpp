// Sending speed and memory through the public API, against an SMTP server on
// 127.0.0.1 (bench/bench_send.py runs it against Postfix's smtp-sink). The
// times are taken around `send` only, so that process start and loading the
// library are not counted.
//
//   bench_send big PORT FILE       one message with FILE attached
//   bench_send many PORT COUNT     COUNT small messages, one conversation each
//   bench_send many-full PORT COUNT   the same with TLS session resumption
//                                  switched off: every handshake a full one
//   bench_send memory PORT FILE    peak resident memory (VmHWM) after a small
//                                  message, then after one with FILE attached
//   bench_send recipients PORT N   one message to N recipients
//   bench_send body PORT MIB       one message with a text body of MIB MiB
//   bench_send connection PORT COUNT   COUNT small messages over one
//                                  Connection (Security may, so pipelined)
//   bench_send keep0 PORT COUNT    COUNT sends with Security may, KeepAlive 0
//   bench_send keep5 PORT COUNT    the same with KeepAlive 5
//
// Each prints "name value" lines: seconds, or KiB for memory. With
// QP_BENCH_DKIM_KEY naming a PEM key, every message is signed with it
// (bench/bench_dkim.py).
#include <quillpost/connection.hpp>
#include <quillpost/quillpost.hpp>

#include "transport/tls.hpp"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

using namespace quillpost;

namespace {

using Clock = std::chrono::steady_clock;

// The same headers and body as the smtplib baseline sends. With
// QP_BENCH_CA_FILE set, the message goes over TLS from the first byte,
// trusting that file.
std::shared_ptr<Message> NewMessage(std::int32_t port) {
    auto m = std::make_shared<Message>();
    if (const char* ca = std::getenv("QP_BENCH_CA_FILE")) {
        m->Security(Security::Tls);
        m->CAFile(ca);
    }
    if (const char* key = std::getenv("QP_BENCH_DKIM_KEY")) {
        m->DkimSelector("bench");
        m->DkimKeyFile(key);
    }
    m->Server("127.0.0.1");
    m->Port(port > 32767 ? port - 65536 : port);
    m->TimeOut(60);
    m->FromAddress("ann@example.com");
    m->FromName("Ann Lee");
    m->Recipients()->Add("bob@example.com", "Bob Smith");
    m->Subject("Benchmark message");
    m->TextBody("Hello Bob,\r\nthe figures are attached.\r\n");
    return m;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The high-water mark of this process image's resident memory. getrusage's
// ru_maxrss would not do: Linux carries it over from the parent across exec,
// so a benchmark started by a big driver would report the driver's peak.
long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

int Usage() {
    std::cerr << "usage: bench_send big PORT FILE | many PORT COUNT | many-full PORT COUNT | memory PORT FILE"
                 " | recipients PORT N | body PORT MIB | connection PORT COUNT | keep0 PORT COUNT | keep5 PORT COUNT\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (argc != 4) return Usage();
    const std::string_view mode = argv[1];
    const std::int32_t port = std::atoi(argv[2]);
    try {
        if (mode == "big") {
            auto m = NewMessage(port);
            m->Attachments()->Add(argv[3]);
            const auto start = Clock::now();
            m->send();
            std::printf("seconds %.6f\n", SecondsSince(start));
        } else if (mode == "many" || mode == "many-full") {
            const long count = std::atol(argv[3]);
            if (mode == "many-full") ResumeTlsSessions(false);
            // Each message is built and sent anew, as a program sending a
            // series of mails would.
            const auto start = Clock::now();
            for (long i = 0; i < count; ++i) NewMessage(port)->send();
            std::printf("seconds %.6f\n", SecondsSince(start));
        } else if (mode == "memory") {
            NewMessage(port)->send();
            const long idle = PeakResidentKiB();
            auto m = NewMessage(port);
            m->Attachments()->Add(argv[3]);
            m->send();
            const long peak = PeakResidentKiB();
            std::printf("idle_kib %ld\npeak_kib %ld\n", idle, peak);
        } else if (mode == "recipients") {
            const long count = std::atol(argv[3]);
            auto m = NewMessage(port);
            for (long i = 0; i < count; ++i) m->Recipients()->Add("r" + std::to_string(i) + "@example.com");
            const auto start = Clock::now();
            m->send();
            std::printf("seconds %.6f\n", SecondsSince(start));
        } else if (mode == "body") {
            const std::size_t size = static_cast<std::size_t>(std::atol(argv[3])) << 20;
            std::string body;
            body.reserve(size + 80);
            const std::string line = std::string(76, 'b') + "\r\n";
            while (body.size() < size) body += line;
            auto m = NewMessage(port);
            m->TextBody(std::move(body));
            const auto start = Clock::now();
            m->send();
            std::printf("seconds %.6f\n", SecondsSince(start));
        } else if (mode == "connection") {
            const long count = std::atol(argv[3]);
            auto settings = NewMessage(port);
            settings->Security(Security::May);
            const auto start = Clock::now();
            Connection connection;
            connection.Open(*settings);
            for (long i = 0; i < count; ++i) connection.Send(*NewMessage(port));
            connection.Close();
            std::printf("seconds %.6f\n", SecondsSince(start));
        } else if (mode == "keep0" || mode == "keep5") {
            const long count = std::atol(argv[3]);
            const auto start = Clock::now();
            for (long i = 0; i < count; ++i) {
                auto m = NewMessage(port);
                m->Security(Security::May);
                m->KeepAlive(mode == "keep5" ? 5 : 0);
                m->send();
            }
            std::printf("seconds %.6f\n", SecondsSince(start));
        } else {
            return Usage();
        }
    } catch (const Error& e) {
        std::cerr << "bench_send: error " << e.number() << ": " << e.description() << "\n";
        return 1;
    }
    return 0;
}
