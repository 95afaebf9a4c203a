// The connection to the SMTP server as a byte stream. The server exchange
// talks to this interface only, so that an encrypted layer can take the
// place of the plain socket without touching the exchange above it.
#pragma once

#include "common/file.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quillpost {

class ByteStream {
public:
    virtual ~ByteStream() = default;

    // Connects to `host` (name or dotted address) at `port` (16 bits, read
    // as unsigned). Raises the transport's error and leaves nothing open.
    virtual void Open(const std::string& host, std::int16_t port) = 0;
    virtual bool IsOpen() const = 0;
    // Waits up to `seconds` for data (or the peer's close), tracing its
    // steps into `trace` when that is not nullptr. Once the peer has closed,
    // nothing more can come, and the wait lasts its full time.
    virtual void WaitForData(std::int16_t seconds, AppendFile* trace) = 0;
    // Waits up to `seconds` for room to send: 1 when ready, 0 after the wait.
    virtual std::int32_t WaitToSend(std::int16_t seconds) = 0;
    // Bytes waiting to be read (0 or more).
    virtual std::int32_t BytesReceived() = 0;
    // Reads what has arrived (at most one receive's worth) into `text`;
    // empty when nothing could be read yet.
    virtual void GetData(std::string& text) = 0;
    // True when every byte has been handed to the connection; false when it
    // would block and nothing was sent. Once part has gone, the rest follows;
    // `restRefused` is called before each wait for room for it and may raise
    // to give up.
    virtual bool SendData(std::string_view text,
                          const std::function<void()>& restRefused = {}) = 0;
    // Releases the connection; never raises.
    virtual void Close() noexcept = 0;
};

// The plain TCP connection over the Comm operations.
std::unique_ptr<ByteStream> MakeSocketStream();

}  // namespace quillpost
