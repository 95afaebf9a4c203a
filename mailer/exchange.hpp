// The server exchange of one `send`: every byte of the SMTP conversation goes
// out through SendText / SendHeader and every reply is awaited with
// WaitForResponse; the trace file records the dialogue.
#pragma once

#include "common/file.hpp"
#include "transport/stream.hpp"

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

    // Trace file: opened for appending when `path` is not empty.
    void OpenTrace(const std::string& path);
    void CloseTrace();
    void WriteTrace(std::string_view text);
    // The open trace file, or nullptr (the "file number" 0).
    AppendFile* mvarTraceFileNo() const { return trace_.get(); }

    // CommOpen / CommClose over the stream.
    void Open(const std::string& server, std::int16_t port);
    bool Connected() const;
    void Close();

    void SendText(std::string_view text);
    void SendHeader(std::string_view name, std::string_view value);
    // Hands every buffered byte to the connection (done before each wait
    // for a reply, and by the conversation at its end).
    void Flush();
    void WaitForResponse(std::string_view expected);
    [[noreturn]] void RaiseUnexpectedResponse(std::string_view reply);

private:
    float timeOut_;
    std::unique_ptr<ByteStream> stream_;
    std::unique_ptr<AppendFile> trace_;
    std::string pending_;  // text taken by SendText, not yet on the wire
};

}  // namespace quillpost
