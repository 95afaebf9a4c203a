// The system's table of media types (mime.types), which answers for file
// types that the registry does not hold.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

// The media type that `table` registers for `extension` (without its period):
// the table has lines of a type followed by its extensions, and '#' starts a
// comment. Extensions match without regard to letter case; the first line
// that lists the extension wins, and the type comes back as the table writes
// it. Nothing for an empty extension or one the table does not list.
std::optional<std::string> MediaTypeInTable(std::string_view table, std::string_view extension);

}  // namespace quillpost
