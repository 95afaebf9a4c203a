// The plain TCP connection: the byte stream over the Comm operations.
#include "transport/comm.hpp"
#include "transport/stream.hpp"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace quillpost {

namespace {

class SocketStream final : public ByteStream {
public:
    ~SocketStream() override { Close(); }

    void Open(const std::string& host, std::int16_t port) override {
        Close();
        CommOpen(conn_, host, port);
    }

    bool IsOpen() const override { return conn_ != -1; }

    void WaitForData(std::int16_t seconds, AppendFile* trace) override {
        const auto start = std::chrono::steady_clock::now();
        CommWaitForData(conn_, seconds, trace);
        // A connection that the server has closed stays readable for ever:
        // without sitting out the second, the exchange would spin through
        // thousands of passes (and trace lines) until its time-out.
        if (ended_) std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
    }

    std::int32_t WaitToSend(std::int16_t seconds) override {
        return CommWaitToSend(conn_, seconds);
    }

    std::int32_t BytesReceived() override {
        const std::int32_t count = CommBytesReceived(conn_);
        if (count <= 0) ended_ = PeerHasClosed();
        return count;
    }

    void GetData(std::string& text) override { CommGetData(conn_, text); }

    bool SendData(std::string_view text, const std::function<void()>& restRefused) override {
        return CommSendData(conn_, text, restRefused);
    }

    void Close() noexcept override {
        if (conn_ == -1) return;
        CommClose(conn_);
        conn_ = -1;
        ended_ = false;
    }

private:
    // Nothing waiting, yet a look at the stream finds its end (or a reset):
    // the server has closed its side.
    bool PeerHasClosed() const {
        char byte;
        const ssize_t got = ::recv(conn_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
    }

    std::int32_t conn_ = -1;
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<ByteStream> MakeSocketStream() { return std::make_unique<SocketStream>(); }

}  // namespace quillpost
