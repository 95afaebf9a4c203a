// The content of a message as it goes into the data section: the header
// block and the helpers that the header block and the MIME writer share.
#pragma once

#include "smtp/data_stream.hpp"

#include <quillpost/message.hpp>
#include <quillpost/variant.hpp>

#include <cstdint>
#include <string>
#include <string_view>

namespace quillpost {

class RegistryKey;

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
void WriteHeaderBlock(Message& message, DataSink& out);

// The part of a path after its last backslash, else after its last slash.
std::string ShortName(std::string_view path);
// The content type registered for the path's extension, or
// "application/unknown".
std::string ContentTypeOf(std::string_view path);
// The whole file as Base64 lines of 76 characters.
void WriteFileAsBase64(DataSink& out, const std::string& path);

// Reads a registry value as text or a 32-bit number: 0 on success, the
// platform's status when it cannot be read, -1 for a value of another type.
std::int32_t ReadRegistryValue(const RegistryKey& key, std::string_view valueName, Variant& value);

// Raises 9993 when a value that becomes part of a header line or an SMTP
// command holds a carriage return or a line feed.
void CheckLineBreaks(Message& message);

}  // namespace quillpost
