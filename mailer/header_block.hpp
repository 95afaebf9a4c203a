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
// "Sun, 06 Dec 2026 22:20:18 +0100" for a local automation date.
std::string DateText(double dateTime, std::int32_t offsetMinutes);
// The header block, from "Reply-To" to the extra header lines.
void WriteHeaderBlock(const Snapshot& message, DataSink& out);

// Raises 9993 when a value that becomes part of a header line or an SMTP
// command holds a carriage return or a line feed.
void CheckLineBreaks(const Snapshot& message);

}  // namespace quillpost
