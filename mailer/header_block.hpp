// The header block of a message as it goes into the data section, and the
// header line that the MIME writer shares.
#pragma once

#include "mailer/snapshot.hpp"
#include "smtp/data_stream.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace quillpost {

// One header line: the name, ": " and the value, or one blank and the value
// when the name already ends with a colon, then a line break. The value goes
// out unchanged.
std::string HeaderLine(std::string_view name, std::string_view value);
// A double quote, the text unchanged, a double quote.
std::string Quote(std::string_view text);
// Quote(name) and a blank, or nothing for an empty name.
std::string FormatAddress(std::string_view name);
// A header line for a text value: HeaderLine(name, value) for ASCII, else
// the value as RFC 2047 encoded words folded within 78 characters.
std::string TextHeaderLine(std::string_view name, std::string_view value);
// One mailbox of an address header that begins at `column`: an ASCII name
// as FormatAddress(name) + "<address>"; a name beyond ASCII as encoded words
// (never quoted: RFC 2047 5 (3) does not let a quoted string hold them), a
// blank or, when the address and a following comma would pass 78
// characters, a fold, then "<address>". The address goes out as it is.
std::string Mailbox(std::string_view name, std::string_view address, std::size_t column);
// "Sun, 06 Dec 2026 22:20:18 +0100" for a local automation date.
std::string DateText(double dateTime, std::int32_t offsetMinutes);
// The header block, from "Reply-To" to the extra header lines.
void WriteHeaderBlock(const Snapshot& message, DataSink& out);

// Raises 9993 when a value that becomes part of a header line or an SMTP
// command holds a carriage return or a line feed, then 9986 when any text
// that goes into the message (those values and the bodies) is not valid
// UTF-8; both name the property.
void CheckLineBreaks(const Snapshot& message);

}  // namespace quillpost
