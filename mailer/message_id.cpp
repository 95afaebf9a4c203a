#include "mailer/message_id.hpp"

#include "platform/system_identity.hpp"

namespace quillpost {

std::string NewMessageId(std::string_view domain) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const std::string random = SystemRandomBytes(16);
    std::string id = "<";
    for (const char byte : random) {
        const auto value = static_cast<unsigned char>(byte);
        id += kDigits[value >> 4];
        id += kDigits[value & 0x0F];
    }
    id += '@';
    id += domain.empty() ? LocalHostName() : std::string(domain);
    id += '>';
    return id;
}

}  // namespace quillpost
