#include "process.hpp"

#include <csignal>

namespace quillpost::qpmail {

void ReportBrokenConnectionsAsErrors() {
    // A write to a closed socket raises SIGPIPE, whose default is to end the
    // process; ignored, the write fails with EPIPE and the send reports it.
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace quillpost::qpmail
