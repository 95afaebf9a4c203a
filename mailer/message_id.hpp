// The identifier every message carries in its "Message-ID" line.
#pragma once

#include <string>
#include <string_view>

namespace quillpost {

// "<LEFT@RIGHT>": LEFT is 128 bits from the system's cryptographic random
// source written as letters and digits (RFC 5322 3.6.4, dot-atom-text), RIGHT
// is `domain` (already in its A-label form), or the host's name when the
// domain is empty.
std::string NewMessageId(std::string_view domain);

}  // namespace quillpost
