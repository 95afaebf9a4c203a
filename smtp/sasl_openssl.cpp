#include "smtp/sasl.hpp"

#include <quillpost/detail/errors.hpp>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdint>

namespace quillpost {

std::array<std::uint8_t, 16> HmacMd5(std::string_view key, std::string_view challenge) {
    std::array<std::uint8_t, 16> digest{};
    unsigned int length = 0;
    if (HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(challenge.data()),
             challenge.size(), digest.data(), &length) == nullptr ||
        length != digest.size())
        raise(Err::InternalError, "no MD5 digest for CRAM-MD5");
    return digest;
}

}  // namespace quillpost
