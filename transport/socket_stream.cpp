// The plain TCP connection: the byte stream over the Comm operations.
#include "transport/byte_stream.hpp"
#include "transport/comm.hpp"

#include <chrono>
#include <thread>

namespace quillpost {

namespace {

class SocketStream final : public ByteStream {
public:
    SocketStream(const std::string& host, std::int16_t port, float timeOut) {
        CommOpen(conn_, host, port, timeOut);
    }
    ~SocketStream() override { CommClose(conn_); }
    SocketStream(const SocketStream&) = delete;
    SocketStream& operator=(const SocketStream&) = delete;

    std::size_t Read(std::string& out) override { return CommReceive(conn_, out, ended_); }

    std::size_t Write(std::string_view data) override { return CommSendSome(conn_, data); }

    void WaitReadable(std::int16_t seconds, TraceSink* trace) override {
        const auto start = std::chrono::steady_clock::now();
        CommWaitForData(conn_, seconds, trace, true);
        // A connection that the server has closed stays readable for ever:
        // without sitting out the second, the conversation would spin through
        // thousands of passes (and trace lines) until its time-out.
        if (ended_) std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
    }

    void WaitWritable(std::int16_t seconds) override { CommWaitToSend(conn_, seconds, true); }

    bool Ended() const override { return ended_; }

private:
    std::int32_t conn_ = -1;
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<ByteStream> ConnectSocket(const std::string& host, std::int16_t port, float timeOut) {
    return std::make_unique<SocketStream>(host, port, timeOut);
}

}  // namespace quillpost
