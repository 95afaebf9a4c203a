// What qpmail asks of the process it runs in and of the system's files,
// whatever the system.
#pragma once

#include <string>

namespace quillpost::qpmail {

// From now on a write to a connection the server has closed fails with an
// error that qpmail reports, instead of ending the process without a word.
void ReportBrokenConnectionsAsErrors();

// True when standard error is a terminal, where someone watches a progress
// line; a log file or a pipe gets no progress line.
bool StandardErrorIsTerminal();

// True when users other than the file's owner may read the file at `path`
// (its group or everyone); false when it cannot be looked at.
bool OthersMayRead(const std::string& path);

}  // namespace quillpost::qpmail
