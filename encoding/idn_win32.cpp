#include "encoding/idn.hpp"

#include "encoding/utf8.hpp"
#include "encoding/wide_text_win32.hpp"

#include <windows.h>

namespace quillpost {

std::optional<std::string> DomainToAscii(std::string_view domain) {
    if (IsAscii(domain)) return std::string(domain);
    const std::wstring wide = Widened(domain);
    if (wide.empty()) return std::nullopt;
    const int length = ::IdnToAscii(0, wide.data(), static_cast<int>(wide.size()), nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring ascii(static_cast<std::size_t>(length), L'\0');
    if (::IdnToAscii(0, wide.data(), static_cast<int>(wide.size()), ascii.data(), length) != length)
        return std::nullopt;
    std::string out;
    out.reserve(ascii.size());
    for (const wchar_t c : ascii) {
        if (c == L'\0') break;
        if (c >= 0x80) return std::nullopt;
        out += static_cast<char>(c);
    }
    return out;
}

}  // namespace quillpost
