// Identifiers as the registry writes them: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include "server/automation.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace quillpost::server {

std::string GuidText(const GUID& guid);
// Braces required, hexadecimal digits in either case.
std::optional<GUID> ParseGuid(std::string_view text);

}  // namespace quillpost::server
