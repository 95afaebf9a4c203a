#include "server/registry_store.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillpost::server {

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
    explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
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
    const std::string path = RegistryPath();
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
    const std::string out = WriteRegText(file);
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = "cannot write " + temporary + ": " + std::strerror(errno);
        return false;
    }
    // The new file keeps the old one's permissions: it may hold secrets.
    if (struct stat old {}; ::stat(path.c_str(), &old) == 0) (void)::fchmod(fd, old.st_mode & 07777);
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool written = done == out.size() && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        reason = "cannot replace " + path + ": " + std::strerror(written ? errno : savedErrno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace quillpost::server
