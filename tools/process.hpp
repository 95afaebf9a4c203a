// What qpmail asks of the process it runs in, whatever the system.
#pragma once

namespace quillpost::qpmail {

// From now on a write to a connection the server has closed fails with an
// error that qpmail reports, instead of ending the process without a word.
void ReportBrokenConnectionsAsErrors();

// True when standard error is a terminal, where someone watches a progress
// line; a log file or a pipe gets no progress line.
bool StandardErrorIsTerminal();

}  // namespace quillpost::qpmail
