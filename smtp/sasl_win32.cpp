// The login pieces with Windows' own cryptography (CNG) for the keyed MD5
// digest of CRAM-MD5.
#include "smtp/sasl.hpp"

#include <quillpost/detail/errors.hpp>

#include <windows.h>
#include <bcrypt.h>

#include <cstdint>

namespace quillpost {

std::array<std::uint8_t, 16> HmacMd5(std::string_view key, std::string_view challenge) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::array<std::uint8_t, 16> digest{};
    bool done = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr,
                                            BCRYPT_ALG_HANDLE_HMAC_FLAG) >= 0;
    done = done && BCryptCreateHash(algorithm, &hash, nullptr, 0,
                                    reinterpret_cast<PUCHAR>(const_cast<char*>(key.data())),
                                    static_cast<ULONG>(key.size()), 0) >= 0;
    done = done && BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(challenge.data())),
                                  static_cast<ULONG>(challenge.size()), 0) >= 0;
    done = done && BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) >= 0;
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!done) raise(Err::InternalError, "no MD5 digest for CRAM-MD5");
    return digest;
}

}  // namespace quillpost
