// The file layer: opening, reading and appending files with the numbered
// errors that automation clients know (53 File not found, 76 Path not found,
// 70 Permission denied, 75 Path/File access error, 57 Device I/O error,
// 61 Disk full).
//
// This is the whole of what the rest of the component sees of files; the
// system calls behind it live in one file per system (file_posix.cpp), so a
// file here names no system header and a file is known by a plain number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quillpost {

// Raises the file layer's error for a failed open of `path`; `err` is the
// system's own error number for the failure (errno on POSIX systems).
[[noreturn]] void RaiseOpenError(int err, const std::string& path);
// Raises the file layer's error for a failed read or write; `err` as above.
[[noreturn]] void RaiseIoError(int err);

// The whole of a small file, for settings and tables read at every use. Never
// raises and never waits: a missing or unreadable file, and anything that is
// not a regular file (a folder, or a pipe in place of the file, which must not
// hold up the sender), reads as the empty text.
std::string ReadSmallFile(const std::string& path);

// Replaces the file's content with `text` in one step: a new file beside it,
// with the old one's permissions, renamed over it (through a symbolic link,
// the file it names). Raises the file layer's error; the old file is then
// unchanged.
void ReplaceFileText(const std::string& path, std::string_view text);

// A file opened for reading; closed by the destructor on every way out.
class InputFile {
public:
    // Opens `path` read-only, without waiting. Anything but a regular file (a
    // folder, a pipe, an endless device such as /dev/zero) is refused with 75.
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // The file's length in bytes at the moment of the call.
    std::uint64_t Length() const;
    // Reads exactly buffer.size() bytes; a file that has shrunk meanwhile is
    // an I/O error (57), never a silently short part.
    void ReadExactly(std::span<std::uint8_t> buffer);
    // Reads up to buffer.size() bytes; 0 at the end of the file.
    std::size_t ReadSome(std::span<std::uint8_t> buffer);

private:
    int fd_ = -1;
};

// A text file opened for appending, with a buffer of its own. Lines reach the
// disk when the buffer fills, on Flush and on Close; the destructor closes.
class AppendFile {
public:
    // Lines are gathered up to this size before they are written.
    static constexpr std::size_t kBuffer = 64 * 1024;

    // Opens `path` for appending, created when missing, without waiting. A
    // regular file, a character device (a terminal, /dev/null) or a pipe
    // that has a reader; anything else is refused with 75.
    explicit AppendFile(const std::string& path);
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Appends text and a carriage return and line feed.
    void WriteLine(std::string_view text);
    void Flush();
    // Flushes and closes; raises when the last bytes cannot be written.
    void Close();

private:
    void WriteAll(const char* data, std::size_t size);
    // Closes the system's file; a failure raises only when `report` is set.
    static void CloseDescriptor(int fd, bool report);
    int fd_ = -1;
    std::string buffer_;
};

}  // namespace quillpost
