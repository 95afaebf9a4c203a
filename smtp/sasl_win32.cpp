// The login pieces with Windows' own cryptography (CNG) for the keyed MD5
// digest of CRAM-MD5.
#include "smtp/sasl.hpp"

#include <quillpost/base64.hpp>
#include <quillpost/detail/errors.hpp>

#include <windows.h>
#include <bcrypt.h>

#include <cstdint>
#include <span>

namespace quillpost {

std::string Base64Text(std::string_view text) {
    std::string line = Base64EncodeLine(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    line.resize(line.size() - 2);
    return line;
}

std::string HmacMd5Hex(std::string_view key, std::string_view challenge) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char digest[16];
    bool done = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr,
                                            BCRYPT_ALG_HANDLE_HMAC_FLAG) >= 0;
    done = done && BCryptCreateHash(algorithm, &hash, nullptr, 0,
                                    reinterpret_cast<PUCHAR>(const_cast<char*>(key.data())),
                                    static_cast<ULONG>(key.size()), 0) >= 0;
    done = done && BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(challenge.data())),
                                  static_cast<ULONG>(challenge.size()), 0) >= 0;
    done = done && BCryptFinishHash(hash, digest, sizeof digest, 0) >= 0;
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!done) raise(Err::InternalError, "no MD5 digest for CRAM-MD5");
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : digest) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
    }
    return hex;
}

}  // namespace quillpost
