// The cryptography of DKIM signatures (RFC 6376, RFC 8463): SHA-256 and the
// signing key. One file per library: dkim_crypto_openssl.cpp, and
// dkim_crypto_win32.cpp for the system's own cryptography.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillpost {

using Sha256Digest = std::array<std::uint8_t, 32>;

// A running SHA-256.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(std::string_view bytes);
    // The digest of everything so far; the running hash goes on unchanged.
    Sha256Digest Peek() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

enum class DkimAlgorithm { RsaSha256, Ed25519Sha256 };

// A private key for signing, RSA of 1024 bits or more, or Ed25519.
class DkimKey {
public:
    // The key in `pem` (PKCS#8 "PRIVATE KEY" or PKCS#1 "RSA PRIVATE KEY"; an
    // encrypted key is refused, nothing asks for a pass phrase). Raises 9988
    // with a reason that names `file`.
    static DkimKey FromPem(std::string_view pem, const std::string& file);

    DkimKey(DkimKey&&) noexcept;
    DkimKey& operator=(DkimKey&&) noexcept;
    ~DkimKey();

    DkimAlgorithm Algorithm() const { return algorithm_; }
    // The signature of `data` by the key's algorithm: RSASSA-PKCS1-v1_5 over
    // SHA-256(data), or (RFC 8463 3) PureEd25519 over SHA-256(data).
    std::string Sign(std::string_view data) const;
    // The public key as a DKIM key record holds it in "p=" (before Base64):
    // the DER SubjectPublicKeyInfo of an RSA key, the 32 raw bytes of an
    // Ed25519 key (RFC 8463 4.2).
    std::string PublicKey() const;

private:
    struct Impl;
    DkimKey(std::unique_ptr<Impl> impl, DkimAlgorithm algorithm);
    std::unique_ptr<Impl> impl_;
    DkimAlgorithm algorithm_;
};

}  // namespace quillpost
