// Attached files: their names and content types, and their bytes as Base64
// lines.
#pragma once

#include "smtp/data_stream.hpp"

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

}  // namespace quillpost
