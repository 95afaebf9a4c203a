#include "process.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

namespace quillpost::qpmail {

void ReportBrokenConnectionsAsErrors() {
    // A write to a closed socket raises SIGPIPE, whose default is to end the
    // process; ignored, the write fails with EPIPE and the send reports it.
    std::signal(SIGPIPE, SIG_IGN);
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool OthersMayRead(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

}  // namespace quillpost::qpmail
