#include "smtp/sasl.hpp"

#include <quillpost/base64.hpp>

#include <nlohmann/json.hpp>

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

std::string OAuthErrorStatus(std::string_view challenge) {
    const nlohmann::json error = nlohmann::json::parse(Base64Decode(challenge), nullptr, false);
    if (!error.is_object()) return {};
    const auto status = error.find("status");
    if (status == error.end()) return {};
    if (status->is_string()) return status->get<std::string>();
    return status->is_number() ? status->dump() : std::string();
}

}  // namespace quillpost
