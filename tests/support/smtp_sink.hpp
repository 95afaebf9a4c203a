// A local SMTP server for tests that send from many threads at once: it
// accepts every connection on 127.0.0.1, serves each on a thread of its own,
// accepts every command and keeps each message's data section with its
// envelope. It refuses a recipient whose address begins with "refused" (550)
// and the data command when no recipient was accepted (554), as a real
// server does; RSET drops the transaction.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillpost::test {

class SmtpSink {
public:
    struct Delivery {
        std::string from;                     // the MAIL FROM line's address
        std::vector<std::string> recipients;  // the RCPT TO lines' addresses
        std::string data;                     // the data section, as received
    };

    // With `pipelining`, EHLO is answered with the PIPELINING extension
    // (RFC 2920); else every command gets a plain 250.
    explicit SmtpSink(bool pipelining = false);
    // Stops accepting, ends every connection and joins every thread.
    ~SmtpSink();
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    // The port as a message holds it: 16 bits, read as unsigned.
    std::int16_t port() const { return static_cast<std::int16_t>(port_); }
    std::vector<Delivery> Deliveries() const;
    // The connections accepted so far.
    std::size_t Connections() const;

private:
    void Accept();
    void Serve(int conn);

    bool pipelining_ = false;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread acceptor_;
    mutable std::mutex mutex_;
    bool stopping_ = false;
    std::vector<int> connections_;
    std::vector<std::thread> servers_;
    std::vector<Delivery> deliveries_;
};

}  // namespace quillpost::test
