#include "process.hpp"

#include <io.h>
#include <stdio.h>

namespace quillpost::qpmail {

// Windows Sockets has no signal for a write to a closed connection: the
// send fails with 10054 and qpmail reports it.
void ReportBrokenConnectionsAsErrors() {}

bool StandardErrorIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

}  // namespace quillpost::qpmail
