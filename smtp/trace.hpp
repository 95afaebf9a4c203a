// The trace file of one `send`: every step of the conversation, one line
// each, appended to the file named by TraceFile. Lines begin with "+ " for a
// step, "> " for text sent and "< " for a reply; no time stamps.
#pragma once

#include "platform/file.hpp"
#include "transport/trace_sink.hpp"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quillpost {

class Trace final : public TraceSink {
public:
    // Opens `path` for appending, created when missing; an empty path
    // traces nothing. Raises the file layer's error and stays closed.
    void Open(const std::string& path);
    // Writes what is buffered and closes; raises when the last lines cannot
    // be written. Nothing happens when it is not open.
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    // Also hands every line, as it is written, to `listener` (open file or
    // not); an empty function hands nothing.
    void Listen(std::function<void(std::string_view)> listener) { listener_ = std::move(listener); }

    // Appends `text` as one line when open.
    void Write(std::string_view text);
    // Appends `prefix` and `text` as one line when open.
    void Write(std::string_view prefix, std::string_view text);
    // Puts what is buffered into the file, so that someone following the
    // trace sees each step before the conversation blocks.
    void Flush();

    void TraceLine(std::string_view line) override { Write(line); }

private:
    std::unique_ptr<AppendFile> file_;
    std::function<void(std::string_view)> listener_;
    std::string line_;  // a line being put together
};

}  // namespace quillpost
