#include "smtp/sasl.hpp"

#include <quillpost/base64.hpp>

#include <span>

namespace quillpost {

std::string Base64Text(std::string_view text) {
    std::string line = Base64EncodeLine(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    line.resize(line.size() - 2);
    return line;
}

std::string HmacMd5Hex(std::string_view key, std::string_view challenge) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : HmacMd5(key, challenge)) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
    }
    return hex;
}

}  // namespace quillpost
