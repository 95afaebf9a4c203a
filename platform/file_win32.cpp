// Files through the C library of Windows, whose numbered errors the table
// below turns into the file layer's. Paths are UTF-8 and reach the system
// as UTF-16, so any name a caller can spell can be opened.
#include "platform/file.hpp"

#include "encoding/wide_text_win32.hpp"

#include <quillpost/detail/errors.hpp>
#include <quillpost/error.hpp>

#include <windows.h>

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

namespace quillpost {

namespace {

// The C library reads and writes at most this much in one call.
constexpr unsigned kLargestTransfer = 1u << 30;

bool ParentFolderExists(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return true;  // the current folder
    std::string parent = path.substr(0, slash + 1);  // "C:\" stays a folder
    const DWORD attributes = ::GetFileAttributesW(Widened(parent).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

enum class Others { None, DevicesAndPipes };

// Opens `path` in binary mode, not inherited by child processes, letting
// others read and write it meanwhile. Anything but a regular file (or, where
// allowed, a device such as NUL or a pipe) is refused with 75.
int OpenFile(const std::string& path, int flags, Others others) {
    const std::wstring wide = Widened(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        raise(Err::PathFileAccessError);
    int fd = -1;
    const errno_t failed = ::_wsopen_s(&fd, wide.c_str(), flags | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                                       _S_IREAD | _S_IWRITE);
    if (failed != 0 || fd < 0) RaiseOpenError(failed != 0 ? failed : errno, path);
    struct _stat64 st {};
    const bool stated = ::_fstat64(fd, &st) == 0;
    const bool allowed = stated && ((st.st_mode & _S_IFMT) == _S_IFREG ||
                                    (others == Others::DevicesAndPipes &&
                                     ((st.st_mode & _S_IFMT) == _S_IFCHR || (st.st_mode & _S_IFMT) == _S_IFIFO)));
    if (!allowed) {
        ::_close(fd);
        raise(Err::PathFileAccessError);
    }
    return fd;
}

}  // namespace

void RaiseOpenError(int err, const std::string& path) {
    switch (err) {
    case ENOENT:
        raise(ParentFolderExists(path) ? Err::FileNotFound : Err::PathNotFound);
    case ENOTDIR:
        raise(Err::PathNotFound);
    case EACCES:
    case EPERM:
    case EROFS:
        raise(Err::PermissionDenied);
    default:
        raise(Err::PathFileAccessError);
    }
}

void RaiseIoError(int err) {
    if (err == ENOSPC) raise(Err::DiskFull);
    raise(Err::DeviceIOError);
}

std::string ReadSmallFile(const std::string& path) {
    const std::wstring wide = Widened(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {};
    int fd = -1;
    if (::_wsopen_s(&fd, wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0) != 0 || fd < 0)
        return {};
    std::string text;
    struct _stat64 st {};
    if (::_fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG) {
        std::size_t used = 0;
        text.resize(static_cast<std::size_t>(st.st_size) + 1);
        while (true) {
            if (used == text.size()) text.resize(text.size() * 2);
            const std::size_t room = std::min<std::size_t>(text.size() - used, kLargestTransfer);
            const int got = ::_read(fd, text.data() + used, static_cast<unsigned>(room));
            if (got <= 0) {
                text.resize(got < 0 ? 0 : used);
                break;
            }
            used += static_cast<std::size_t>(got);
        }
    }
    ::_close(fd);
    return text;
}

InputFile::InputFile(const std::string& path) : fd_(OpenFile(path, _O_RDONLY, Others::None)) {}

InputFile::~InputFile() {
    if (fd_ >= 0) ::_close(fd_);
}

std::uint64_t InputFile::Length() const {
    struct _stat64 st {};
    if (::_fstat64(fd_, &st) != 0) RaiseIoError(errno);
    return static_cast<std::uint64_t>(st.st_size);
}

std::size_t InputFile::ReadSome(std::span<std::uint8_t> buffer) {
    const std::size_t wanted = std::min<std::size_t>(buffer.size(), kLargestTransfer);
    const int got = ::_read(fd_, buffer.data(), static_cast<unsigned>(wanted));
    if (got < 0) RaiseIoError(errno);
    return static_cast<std::size_t>(got);
}

AppendFile::AppendFile(const std::string& path)
    : fd_(OpenFile(path, _O_WRONLY | _O_CREAT | _O_APPEND, Others::DevicesAndPipes)) {
    buffer_.reserve(kBuffer);
}

void AppendFile::CloseDescriptor(int fd, bool report) {
    if (::_close(fd) != 0 && report) RaiseIoError(errno);
}

void AppendFile::WriteAll(const char* data, std::size_t size) {
    while (size > 0) {
        const std::size_t chunk = std::min<std::size_t>(size, kLargestTransfer);
        const int put = ::_write(fd_, data, static_cast<unsigned>(chunk));
        if (put < 0) RaiseIoError(errno);
        if (put == 0) raise(Err::DeviceIOError);
        data += put;
        size -= static_cast<std::size_t>(put);
    }
}

void ReplaceFileText(const std::string& path, std::string_view text) {
    const std::string temporary = path + ".new";
    const HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) RaiseOpenError(EACCES, temporary);
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && ::FlushFileBuffers(file);
    ::CloseHandle(file);
    // ReplaceFileA keeps the old file's attributes and access control list.
    if (!ok || !::ReplaceFileA(path.c_str(), temporary.c_str(), nullptr, 0, nullptr, nullptr)) {
        ::DeleteFileA(temporary.c_str());
        RaiseIoError(EIO);
    }
}

}  // namespace quillpost
