// The parts of the file layer that are the same on every system: reading a
// block whole, and the trace file's line buffer and closing.
#include "platform/file.hpp"

#include <quillpost/detail/errors.hpp>

namespace quillpost {

void InputFile::ReadExactly(std::span<std::uint8_t> buffer) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::size_t got = ReadSome(buffer.subspan(done));
        if (got == 0) raise(Err::DeviceIOError);  // the file shrank under us
        done += got;
    }
}

void AppendFile::WriteLine(std::string_view text) {
    if (buffer_.size() + text.size() + 2 > kBuffer) {
        Flush();
        if (text.size() + 2 > kBuffer) {
            WriteAll(text.data(), text.size());
            WriteAll("\r\n", 2);
            return;
        }
    }
    buffer_.append(text);
    buffer_.append("\r\n", 2);
}

void AppendFile::Flush() {
    if (buffer_.empty()) return;
    // The buffer is emptied whatever happens, so a failed write is reported
    // once; it keeps its capacity for the next lines.
    try {
        WriteAll(buffer_.data(), buffer_.size());
    } catch (...) {
        buffer_.clear();
        throw;
    }
    buffer_.clear();
}

AppendFile::~AppendFile() {
    if (fd_ < 0) return;
    try {
        Flush();
    } catch (...) {
        // A destructor cannot report; Close() is the way to learn of it.
    }
    CloseDescriptor(fd_, false);
}

void AppendFile::Close() {
    if (fd_ < 0) return;
    const int fd = fd_;
    try {
        Flush();
    } catch (...) {
        fd_ = -1;
        CloseDescriptor(fd, false);
        throw;
    }
    fd_ = -1;
    CloseDescriptor(fd, true);
}

}  // namespace quillpost
