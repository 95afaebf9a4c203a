#include "encoding/utf8.hpp"

namespace quillpost {

bool IsAscii(std::string_view text) noexcept {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::size_t Utf8SequenceLength(unsigned char lead) noexcept {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    return 1;
}

bool IsValidUtf8(std::string_view text) noexcept {
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // C0 and C1 could only start overlong forms of ASCII; F5 and above
        // would lie beyond U+10FFFF.
        const std::size_t length = Utf8SequenceLength(lead);
        if (length == 1 || size - i < length) return false;
        // RFC 3629 4: the second byte's range depends on the lead byte; it
        // is what rules out the overlong three- and four-byte forms, the
        // surrogates and the code points above U+10FFFF.
        const auto second = static_cast<unsigned char>(text[i + 1]);
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
        if (second < low || second > high) return false;
        for (std::size_t k = 2; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

std::size_t WholeCharactersWithin(std::string_view text, std::size_t limit) noexcept {
    std::size_t taken = 0;
    while (taken < text.size()) {
        const std::size_t next = taken + Utf8SequenceLength(static_cast<unsigned char>(text[taken]));
        if (next > limit || next > text.size()) break;
        taken = next;
    }
    return taken;
}

}  // namespace quillpost
