#include "server/text16.hpp"

#include <cstdint>

namespace quillpost::server {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void PutUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void PutUtf16(OleText& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<OLECHAR>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<OLECHAR>(0xD800 + (c >> 10)));
        out.push_back(static_cast<OLECHAR>(0xDC00 + (c & 0x3FF)));
    }
}

OLECHAR Fold(OLECHAR c) noexcept { return c >= u'A' && c <= u'Z' ? static_cast<OLECHAR>(c + 32) : c; }

}  // namespace

OleText Utf8ToUtf16(std::string_view text) {
    OleText out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (length == 0 || i + length > text.size()) {
            PutUtf16(out, lead < 0x80 ? lead : kReplacement);
            ++i;
            continue;
        }
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        bool ok = true;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) ok = false;
            c = (c << 6) | (next & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!ok || c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
            PutUtf16(out, kReplacement);
            ++i;
            continue;
        }
        PutUtf16(out, c);
        i += length;
    }
    return out;
}

std::string Utf16ToUtf8(OleView text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = kReplacement;
        }
        PutUtf8(out, c);
    }
    return out;
}

bool EqualsNoCase(OleView a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(static_cast<OLECHAR>(static_cast<unsigned char>(b[i])))) return false;
    return true;
}

}  // namespace quillpost::server
