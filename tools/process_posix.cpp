#include "process.hpp"

#include <unistd.h>

#include <csignal>

namespace quillpost::qpmail {

void ReportBrokenConnectionsAsErrors() {
    // A write to a closed socket raises SIGPIPE, whose default is to end the
    // process; ignored, the write fails with EPIPE and the send reports it.
    std::signal(SIGPIPE, SIG_IGN);
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace quillpost::qpmail
