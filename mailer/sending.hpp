// The steps of `send` that write the message content, and the helpers they
// share. Each writes through the server exchange only.
#pragma once

#include "mailer/exchange.hpp"

#include <quillpost/message.hpp>
#include <quillpost/variant.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quillpost {

class RegistryKey;

// A double quote, the text unchanged, a double quote.
std::string Quote(std::string_view text);
// Quote(name) and a blank, or nothing for an empty name.
std::string FormatAddress(std::string_view name);
// One header line listing every address of `list`, continuation lines
// folded with a comma, a line break and a blank; nothing for an empty list.
void SendAddressHeader(Exchange& exchange, std::string_view headerName, Recipients& list);
// "Sun, 06 Dec 2026 22:20:18 +0100" for a local automation date.
std::string DateText(double dateTime, std::int32_t offsetMinutes);
// The header block, from "Reply-To" to the extra header lines.
void SendHeaderBlock(Message& message, Exchange& exchange);

// What the MIME writer needs besides the message's public values.
struct MimeLayout {
    std::string_view contentType;  // of the plain-text part
    std::string_view charset;
    std::string_view mixBoundary;  // stored with two leading hyphens
    std::string_view altBoundary;
};
void SendMimeBody(Message& message, Exchange& exchange, const MimeLayout& layout);
// The lines of a body text: every lone carriage return or line feed counts
// as a line break, and a line that begins with a period gets one more.
void SendBodyLines(Exchange& exchange, std::string_view body);

// The part of a path after its last backslash, else after its last slash.
std::string ShortName(std::string_view path);
// The content type registered for the path's extension, or
// "application/unknown".
std::string ContentTypeOf(std::string_view path);
// One attachment part: delimiter, three header lines, the file in Base64.
void SendAttachment(Exchange& exchange, const std::string& path, std::string_view mixBoundary);

// Reads a registry value as text or a 32-bit number: 0 on success, the
// platform's status when it cannot be read, -1 for a value of another type.
std::int32_t ReadRegistryValue(const RegistryKey& key, std::string_view valueName, Variant& value);

// Raises 9993 when a value that becomes part of a header line or an SMTP
// command holds a carriage return or a line feed.
void CheckLineBreaks(Message& message);

// The boundary clock text: seconds since local midnight as a 32-bit float,
// at most seven significant digits, the decimal point written as "_".
std::string BoundaryClockText(float secondsSinceMidnight);

// Where `send` gets its connection on the calling thread: a plain socket
// unless a host or a test installs a maker of its own (an empty function
// restores the socket).
using StreamMaker = std::function<std::unique_ptr<ByteStream>()>;
void SetStreamMakerForThisThread(StreamMaker maker);

}  // namespace quillpost
