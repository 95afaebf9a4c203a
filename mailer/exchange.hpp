// The server exchange of one `send`: every byte of the SMTP conversation goes
// out through SendText / SendHeader and every reply is awaited with
// WaitForResponse; the trace file records the dialogue.
#pragma once

#include "common/file.hpp"
#include "platform/clock.hpp"
#include "transport/stream.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillpost {

class Exchange {
public:
    // `timeOut` is the message's TimeOut in seconds. Without a stream the
    // exchange talks over a plain socket connection.
    explicit Exchange(float timeOut, std::unique_ptr<ByteStream> stream = nullptr);
    // Closes whatever is still open, silently.
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // The clock for elapsed times; the steady clock unless changed. The clock
    // must outlive the exchange.
    void SetClock(const Clock& clock) { clock_ = &clock; }

    // Outgoing text is collected up to this size before it is written.
    static constexpr std::size_t kSendBuffer = 64 * 1024;
    // A reply that grows past this size without completing is refused ...
    static constexpr std::size_t kReplyLimit = 64 * 1024;
    // ... showing this much of its beginning.
    static constexpr std::size_t kReplyShown = 1024;

    // Trace file: opened for appending when `path` is not empty.
    void OpenTrace(const std::string& path);
    void CloseTrace();
    void WriteTrace(std::string_view text);
    // The open trace file, or nullptr (the "file number" 0).
    AppendFile* mvarTraceFileNo() const { return trace_.get(); }

    // CommOpen / CommClose over the stream. Close drops text that SendText
    // took but no Flush wrote: the conversation flushes before it closes.
    void Open(const std::string& server, std::int16_t port);
    bool Connected() const;
    void Close();

    // Takes `text` for the connection (traced at once); it goes out with the
    // buffer when that fills, before the next wait for a reply, or on Flush.
    void SendText(std::string_view text);
    void SendHeader(std::string_view name, std::string_view value);
    // Hands every buffered byte to the connection (done before each wait
    // for a reply, and by the conversation at its end).
    void Flush();
    void WaitForResponse(std::string_view expected);
    [[noreturn]] void RaiseUnexpectedResponse(std::string_view reply);

private:
    float Elapsed(double start) const;
    void TraceWith(std::string_view prefix, std::string_view text);
    void FlushTrace();
    // Hands `text` to the connection, waiting while it cannot take it.
    void Deliver(std::string_view text);
    // One pass of a reply wait: wait up to a second, then read what came.
    void ReadPass(std::string& reply);

    float timeOut_;
    std::unique_ptr<ByteStream> stream_;
    std::unique_ptr<AppendFile> trace_;
    const Clock* clock_ = &SteadyClock();
    std::string pending_;  // text taken by SendText, not yet on the wire
    std::string line_;     // a trace line being put together
    std::string chunk_;    // one read of a reply
};

}  // namespace quillpost
