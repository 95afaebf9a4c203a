// Attached files: their names and content types, and their bytes as Base64
// lines.
#pragma once

#include "smtp/data_stream.hpp"

#include <quillpost/variant.hpp>

#include <cstdint>
#include <string>
#include <string_view>

namespace quillpost {

// The part of a path after its last backslash, else after its last slash.
std::string ShortName(std::string_view path);
// The content type registered for the path's extension, or
// "application/unknown".
std::string ContentTypeOf(std::string_view path);
// The whole file as Base64 lines of 76 characters.
void WriteFileAsBase64(DataSink& out, const std::string& path);

class RegistryKey;

// Reads a registry value as text or a 32-bit number: 0 on success, the
// platform's status when it cannot be read, -1 for a value of another type.
std::int32_t ReadRegistryValue(const RegistryKey& key, std::string_view valueName, Variant& value);

}  // namespace quillpost
