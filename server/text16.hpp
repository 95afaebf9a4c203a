// Text between the component (UTF-8) and automation clients (UTF-16).
#pragma once

#include "server/automation.hpp"

#include <string>
#include <string_view>

namespace quillpost::server {

// Text in the platform's 16-bit characters (OLECHAR here, wchar_t on Windows).
using OleText = std::basic_string<OLECHAR>;
using OleView = std::basic_string_view<OLECHAR>;

// Ill-formed input (a lone surrogate, a broken UTF-8 sequence) becomes U+FFFD.
OleText Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(OleView text);

// Letter case folded for ASCII only: automation names are ASCII.
bool EqualsNoCase(OleView a, std::string_view b) noexcept;

}  // namespace quillpost::server
