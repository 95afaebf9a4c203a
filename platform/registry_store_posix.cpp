#include "platform/registry_store.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillpost {

namespace {

bool ReadAll(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

class FileLock {
public:
    explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

// Follows symbolic links to the path they end at, which need not exist yet.
std::string ResolveLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        char target[4096];
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof target) return path;
        std::string next(target, static_cast<std::size_t>(length));
        const auto slash = path.find_last_of('/');
        if (!next.starts_with('/') && slash != std::string::npos) next = path.substr(0, slash + 1) + next;
        path = std::move(next);
    }
    return path;
}

// Writes `data` to `fd` whole; false with errno set on failure.
bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces the file at `path` with `contents` in one rename, so that a
// reader sees the old file or the new one and never a part. The new file
// keeps the old one's permissions and owner: the registry file can hold
// passwords, and an administrator who made it readable by its owner only
// must not find it readable by everyone after a registration. A file that
// did not exist is made readable and writable by its owner only.
bool ReplaceFile(const std::string& path, const std::string& contents, std::string& reason) {
    struct stat old {};
    const bool existed = ::stat(path.c_str(), &old) == 0;
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    ::unlink(temporary.c_str());  // left by a process of the same number that died
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        reason = "cannot write " + temporary + ": " + std::strerror(errno);
        return false;
    }
    const auto fail = [&](const std::string& what) {
        reason = what + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    };
    struct stat made {};
    if (::fstat(fd, &made) != 0) return fail("cannot write " + temporary);
    if (existed && (old.st_uid != made.st_uid || old.st_gid != made.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return fail("cannot give " + temporary + " the owner of " + path);
    if (::fchmod(fd, existed ? old.st_mode & 07777 : 0600) != 0)
        return fail("cannot give " + temporary + " the permissions of " + path);
    if (!WriteAll(fd, contents) || ::fsync(fd) != 0) return fail("cannot write " + temporary);
    if (::close(fd) != 0) {
        reason = "cannot write " + temporary + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        reason = "cannot replace " + path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace

std::string RegistryPath() {
    const char* path = std::getenv("QUILLPOST_REGISTRY");
    return path && *path ? path : "/etc/quillpost/registry.reg";
}

RegText ReadRegistry() {
    std::string text;
    ReadAll(RegistryPath(), text);
    return ParseRegText(text);
}

bool EditRegistry(const std::function<void(RegText&)>& change, std::string& reason) {
    // A symbolic link is written through: the file it leads to is the one
    // that changes, and the link stays.
    const std::string path = ResolveLinks(RegistryPath());
    FileLock lock(path + ".lock");
    if (!lock.held()) {
        reason = "cannot lock " + path + ".lock: " + std::strerror(errno);
        return false;
    }
    std::string text;
    ReadAll(path, text);
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        reason = path + " is UTF-16 text; only UTF-8 registry files can be changed";
        return false;
    }
    RegText file = ParseRegText(text);
    if (file.preamble.empty() && file.sections.empty()) file.preamble.push_back("REGEDIT4");
    if (!HasExportHeader(file)) {
        reason = path + " does not begin with a registry export header";
        return false;
    }
    change(file);
    return ReplaceFile(path, WriteRegText(file), reason);
}

}  // namespace quillpost
