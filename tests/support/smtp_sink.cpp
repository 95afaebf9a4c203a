#include "tests/support/smtp_sink.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace quillpost::test {

namespace {

bool SendAll(int conn, std::string_view text) {
    while (!text.empty()) {
        const ssize_t put = ::send(conn, text.data(), text.size(), MSG_NOSIGNAL);
        if (put <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

// The address between the angle brackets of a MAIL FROM or RCPT TO line.
std::string Bracketed(const std::string& line) {
    const auto open = line.find('<');
    const auto close = line.rfind('>');
    return open == std::string::npos || close == std::string::npos || close < open
               ? std::string()
               : line.substr(open + 1, close - open - 1);
}

}  // namespace

SmtpSink::SmtpSink(bool pipelining) : pipelining_(pipelining) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::listen(listener_, 64) != 0)
        throw std::runtime_error("smtp sink: cannot listen");
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
}

SmtpSink::~SmtpSink() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (int conn : connections_) ::shutdown(conn, SHUT_RDWR);
    }
    acceptor_.join();
    for (auto& t : servers_) t.join();
    ::close(listener_);
}

std::size_t SmtpSink::Connections() const {
    std::lock_guard lock(mutex_);
    return servers_.size();
}

std::vector<SmtpSink::Delivery> SmtpSink::Deliveries() const {
    std::lock_guard lock(mutex_);
    return deliveries_;
}

void SmtpSink::Accept() {
    for (;;) {
        pollfd entry{listener_, POLLIN, 0};
        const int ready = ::poll(&entry, 1, 50);
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        if (ready <= 0) continue;
        const int conn = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0) continue;
        // Replies to pipelined commands go out as they are written, not held
        // back until the client acknowledges the one before.
        const int on = 1;
        ::setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        connections_.push_back(conn);
        servers_.emplace_back([this, conn] { Serve(conn); });
    }
}

void SmtpSink::Serve(int conn) {
    std::string buffer;
    char chunk[64 * 1024];
    Delivery delivery;
    bool inData = false;
    SendAll(conn, "220 sink ready\r\n");
    for (;;) {
        const std::string end = inData ? "\r\n.\r\n" : "\r\n";
        const auto at = buffer.find(end);
        if (at == std::string::npos) {
            const ssize_t got = ::recv(conn, chunk, sizeof chunk, 0);
            if (got <= 0) break;
            buffer.append(chunk, static_cast<std::size_t>(got));
            continue;
        }
        if (inData) {
            delivery.data = buffer.substr(0, at + 2);
            buffer.erase(0, at + end.size());
            inData = false;
            {
                std::lock_guard lock(mutex_);
                deliveries_.push_back(std::move(delivery));
            }
            delivery = Delivery();
            SendAll(conn, "250 queued\r\n");
            continue;
        }
        const std::string line = buffer.substr(0, at);
        buffer.erase(0, at + 2);
        if (line.starts_with("MAIL FROM:")) delivery.from = Bracketed(line);
        if (line.starts_with("RCPT TO:")) {
            if (Bracketed(line).starts_with("refused")) {
                SendAll(conn, "550 no such user\r\n");
                continue;
            }
            delivery.recipients.push_back(Bracketed(line));
        }
        if (line == "quit") break;
        if (line == "RSET") delivery = Delivery();
        if (pipelining_ && line.starts_with("EHLO ")) {
            SendAll(conn, "250-sink\r\n250 PIPELINING\r\n");
            continue;
        }
        if (line == "data" && delivery.recipients.empty()) {
            SendAll(conn, "554 no valid recipients\r\n");
            continue;
        }
        inData = line == "data";
        SendAll(conn, inData ? "354 go ahead\r\n" : "250 ok\r\n");
    }
    ::shutdown(conn, SHUT_RDWR);
}

}  // namespace quillpost::test
