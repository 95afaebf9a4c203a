#include "server/guid_text.hpp"

#include <cstdio>

namespace quillpost::server {

std::string GuidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

std::optional<GUID> ParseGuid(std::string_view text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
    std::uint8_t bytes[16];
    std::size_t count = 0;
    for (std::size_t i = 1; i + 1 < text.size();) {
        if (i == 9 || i == 14 || i == 19 || i == 24) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int value = 0;
        for (int k = 0; k < 2; ++k) {
            const char c = text[i + static_cast<std::size_t>(k)];
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                            : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0) return std::nullopt;
            value = value * 16 + digit;
        }
        if (count == 16) return std::nullopt;
        bytes[count++] = static_cast<std::uint8_t>(value);
        i += 2;
    }
    if (count != 16) return std::nullopt;
    GUID g{};
    g.Data1 = static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
              static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    g.Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    g.Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    for (int k = 0; k < 8; ++k) g.Data4[k] = bytes[8 + k];
    return g;
}

}  // namespace quillpost::server
