// Text between the component (UTF-8) and automation clients (UTF-16).
#pragma once

#include <string>
#include <string_view>

namespace quillpost::server {

// Ill-formed input (a lone surrogate, a broken UTF-8 sequence) becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Letter case folded for ASCII only: automation names are ASCII.
bool EqualsNoCase(std::u16string_view a, std::string_view b) noexcept;

}  // namespace quillpost::server
