// What qpmail asks of the process it runs in, whatever the system.
#pragma once

namespace quillpost::qpmail {

// From now on a write to a connection the server has closed fails with an
// error that qpmail reports, instead of ending the process without a word.
void ReportBrokenConnectionsAsErrors();

}  // namespace quillpost::qpmail
