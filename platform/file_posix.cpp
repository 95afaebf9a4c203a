#include "platform/file.hpp"

#include <quillpost/detail/errors.hpp>
#include <quillpost/error.hpp>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillpost {

namespace {


bool ParentFolderExists(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return true;  // the current folder
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    struct stat st {};
    return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Keeps file numbers clear of standard input, output and error, so that a
// host that closed one of them never has our file take its place.
int MoveAboveStandardStreams(int fd) {
    if (fd > 2) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

// What may stand at a path besides a regular file.
enum class Others { None, DevicesAndPipes };

// Opens `path` with `flags` (new files get mode 0644), clear of the standard
// streams. The open itself never waits: a named pipe would otherwise hold it
// until someone opens the other end, and a pipe without a reader then fails
// at once. Anything but a regular file (or, where allowed, a character
// device or a pipe) is refused with 75; every other failure is raised by its
// errno. The file is left in blocking mode for its reads and writes.
int OpenFile(const std::string& path, int flags, Others others) {
    int fd = ::open(path.c_str(), flags | O_NONBLOCK, 0644);
    if (fd < 0) RaiseOpenError(errno, path);
    fd = MoveAboveStandardStreams(fd);
    if (fd < 0) RaiseOpenError(errno, path);
    struct stat st {};
    const bool stated = ::fstat(fd, &st) == 0;
    const bool allowed = stated && (S_ISREG(st.st_mode) || (others == Others::DevicesAndPipes &&
                                                           (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))));
    if (!allowed || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
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
    default:  // ENXIO among others: a pipe that nobody reads
        raise(Err::PathFileAccessError);
    }
}

void RaiseIoError(int err) {
    if (err == ENOSPC || err == EDQUOT) raise(Err::DiskFull);
    raise(Err::DeviceIOError);
}

std::string ReadSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    std::string text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        // Read straight into the text, sized by the file; a file that grows
        // meanwhile is read to its end all the same.
        std::size_t used = 0;
        text.resize(static_cast<std::size_t>(st.st_size) + 1);
        while (true) {
            if (used == text.size()) text.resize(text.size() * 2);
            const ssize_t got = ::read(fd, text.data() + used, text.size() - used);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                text.resize(got < 0 ? 0 : used);
                break;
            }
            used += static_cast<std::size_t>(got);
        }
    }
    ::close(fd);
    return text;
}

InputFile::InputFile(const std::string& path) : fd_(OpenFile(path, O_RDONLY | O_CLOEXEC, Others::None)) {}

InputFile::~InputFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::uint64_t InputFile::Length() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) RaiseIoError(errno);
    return static_cast<std::uint64_t>(st.st_size);
}

std::size_t InputFile::ReadSome(std::span<std::uint8_t> buffer) {
    for (;;) {
        const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) RaiseIoError(errno);
    }
}

AppendFile::AppendFile(const std::string& path)
    : fd_(OpenFile(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, Others::DevicesAndPipes)) {
    buffer_.reserve(kBuffer);
}

void AppendFile::CloseDescriptor(int fd, bool report) {
    // A close cut short by a signal has closed the file all the same.
    if (::close(fd) != 0 && errno != EINTR && report) RaiseIoError(errno);
}

void AppendFile::WriteAll(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd_, data, size);
        if (put < 0) {
            if (errno == EINTR) continue;
            RaiseIoError(errno);
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
}

void ReplaceFileText(const std::string& path, std::string_view text) {
    char resolved[PATH_MAX];
    const std::string target = ::realpath(path.c_str(), resolved) != nullptr ? resolved : path;
    struct stat old {};
    if (::stat(target.c_str(), &old) != 0) RaiseOpenError(errno, path);
    const std::string temporary = target + ".new" + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) RaiseOpenError(errno, temporary);
    std::size_t done = 0;
    int err = 0;
    if (::fchmod(fd, old.st_mode & 07777) != 0) err = errno;
    while (err == 0 && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) err = n < 0 ? errno : EIO;
        else done += static_cast<std::size_t>(n);
    }
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(temporary.c_str());
        RaiseIoError(err);
    }
}

}  // namespace quillpost
