// Case-blind names and keys: member names, header names, registry keys.
// Installed for the keyed list; not part of the interface.
#pragma once

#include <string>
#include <string_view>

namespace quillpost {

// ASCII lower-casing, the folding used for case-blind names and keys.
std::string FoldCase(std::string_view text);
bool EqualsFolded(std::string_view a, std::string_view b) noexcept;

}  // namespace quillpost
