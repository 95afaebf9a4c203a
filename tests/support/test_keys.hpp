// Keys made for a test run, so that no key is kept in the source tree.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace quillpost::test {

// A new private key in PEM: "RSA" with `bits`, "ED25519" or "EC" (P-256);
// encrypted with a pass phrase when asked.
inline std::string NewKeyPem(const char* type, std::size_t bits = 2048, bool encrypted = false) {
    EVP_PKEY* key = std::string_view(type) == "RSA"  ? EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", bits)
                    : std::string_view(type) == "EC" ? EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")
                                                     : EVP_PKEY_Q_keygen(nullptr, nullptr, type);
    BIO* bio = BIO_new(BIO_s_mem());
    static char phrase[] = "secret";
    PEM_write_bio_PrivateKey(bio, key, encrypted ? EVP_aes_128_cbc() : nullptr,
                             encrypted ? reinterpret_cast<unsigned char*>(phrase) : nullptr, encrypted ? 6 : 0,
                             nullptr, nullptr);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<std::size_t>(size));
    BIO_free(bio);
    EVP_PKEY_free(key);
    return pem;
}

}  // namespace quillpost::test
