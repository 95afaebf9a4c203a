#include "smtp/sasl.hpp"

#include <quillpost/base64.hpp>
#include <quillpost/detail/errors.hpp>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdint>
#include <span>

namespace quillpost {

std::string Base64Text(std::string_view text) {
    std::string line = Base64EncodeLine(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    line.resize(line.size() - 2);
    return line;
}

std::string HmacMd5Hex(std::string_view key, std::string_view challenge) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(challenge.data()),
             challenge.size(), digest, &length) == nullptr)
        raise(Err::InternalError, "no MD5 digest for CRAM-MD5");
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

}  // namespace quillpost
