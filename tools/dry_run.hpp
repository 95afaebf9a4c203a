// qpmail --dry-run: the data section of a message as a send would write it,
// without a server.
#pragma once

#include <quillpost/message.hpp>

#include <ostream>

namespace quillpost::qpmail {

// Writes to `out` the header block and the MIME body, attachments included,
// and the empty line that ends the data: the message exactly as the server
// receives it from `send`, before leading periods are doubled for the wire. The message is
// checked as `send` checks it first (sender, line breaks, UTF-8); nothing is
// opened but the message's files.
void WriteDataSection(Message& message, std::ostream& out);

}  // namespace quillpost::qpmail
