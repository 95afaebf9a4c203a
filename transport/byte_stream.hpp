// The connection to the SMTP server as a byte stream: read, write, and wait
// until it can do either. The conversation above talks to this interface
// only, so that an encrypted stream can wrap the plain socket in the middle
// of a conversation without the conversation noticing.
#pragma once

#include "transport/trace_sink.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quillpost {

class ByteStream {
public:
    virtual ~ByteStream() = default;

    // Appends to `out` what has arrived, without waiting, and returns how
    // many bytes that was: 0 when nothing is waiting, and from the peer's
    // close on. Raises the transport's error.
    virtual std::size_t Read(std::string& out) = 0;
    // Hands the connection as much of `data` as it takes now, without
    // waiting, and returns how many bytes that was (0 when it is full).
    // Raises the transport's error.
    virtual std::size_t Write(std::string_view data) = 0;
    // Waits up to `seconds` until there is something to read (or the peer
    // has closed), tracing its steps into `trace` when that is not nullptr.
    // Once the peer has closed, nothing more can come and the wait lasts its
    // full time, so that a caller polling it does not spin.
    virtual void WaitReadable(std::int16_t seconds, TraceSink* trace) = 0;
    // Waits up to `seconds` until the connection can take data.
    virtual void WaitWritable(std::int16_t seconds) = 0;
    // True once a Read has found that the peer closed the connection.
    virtual bool Ended() const { return false; }
};

// Opens a byte stream to `host` at `port` (16 bits, read as unsigned), each
// address of the host tried for at most `timeOut` seconds. Raises the
// transport's error and leaves nothing open.
using Connector =
    std::function<std::unique_ptr<ByteStream>(const std::string& host, std::int16_t port, float timeOut)>;

// The plain TCP connection (CommOpen), closed when the stream is destroyed.
std::unique_ptr<ByteStream> ConnectSocket(const std::string& host, std::int16_t port, float timeOut = 0);

}  // namespace quillpost
