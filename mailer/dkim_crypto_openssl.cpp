#include "mailer/dkim_crypto.hpp"

#include <quillpost/detail/errors.hpp>

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace quillpost {

namespace {

struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

MdCtx NewMdCtx() {
    MdCtx ctx(EVP_MD_CTX_new());
    if (!ctx) raise(Err::OutOfMemory);
    return ctx;
}

// Refuses every pass phrase, so that an encrypted key fails instead of
// asking at the terminal.
int NoPassphrase(char*, int, int, void*) { return -1; }

[[noreturn]] void Unusable(const std::string& reason) { raise(Err::DkimKeyUnusable, reason); }

// RFC 8301 3.2: RSA keys of fewer than 1024 bits must not be used.
constexpr int kShortestRsaKey = 1024;

// OpenSSL 3 takes about 1.5 ms to decode a PEM key, several times what a
// small message costs to send. The thread keeps the key it decoded last,
// known by the digest of its PEM text: the file is still read for every
// message, so a key that is replaced is used at once.
struct LastKey {
    Sha256Digest pem{};
    EVP_PKEY* key = nullptr;
    ~LastKey() { EVP_PKEY_free(key); }
};
thread_local LastKey lastKey;

Sha256Digest DigestOf(std::string_view text);

}  // namespace

struct Sha256::State {
    MdCtx ctx = NewMdCtx();
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (EVP_DigestInit_ex(state_->ctx.get(), EVP_sha256(), nullptr) != 1)
        raise(Err::InternalError, "no SHA-256 digest");
}

Sha256::~Sha256() = default;

void Sha256::Update(std::string_view bytes) {
    if (EVP_DigestUpdate(state_->ctx.get(), bytes.data(), bytes.size()) != 1)
        raise(Err::InternalError, "SHA-256 update failed");
}

Sha256Digest Sha256::Peek() const {
    MdCtx copy = NewMdCtx();
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_MD_CTX_copy_ex(copy.get(), state_->ctx.get()) != 1 ||
        EVP_DigestFinal_ex(copy.get(), digest.data(), &length) != 1 || length != digest.size())
        raise(Err::InternalError, "SHA-256 final failed");
    return digest;
}

namespace {

Sha256Digest DigestOf(std::string_view text) {
    Sha256 hash;
    hash.Update(text);
    return hash.Peek();
}

void Remember(const Sha256Digest& pem, EVP_PKEY* key) {
    if (key == lastKey.key || EVP_PKEY_up_ref(key) != 1) return;
    EVP_PKEY_free(lastKey.key);
    lastKey.key = key;
    lastKey.pem = pem;
}

}  // namespace

struct DkimKey::Impl {
    EVP_PKEY* key = nullptr;
    ~Impl() { EVP_PKEY_free(key); }
};

DkimKey::DkimKey(std::unique_ptr<Impl> impl, DkimAlgorithm algorithm)
    : impl_(std::move(impl)), algorithm_(algorithm) {}
DkimKey::DkimKey(DkimKey&&) noexcept = default;
DkimKey& DkimKey::operator=(DkimKey&&) noexcept = default;
DkimKey::~DkimKey() = default;

DkimKey DkimKey::FromPem(std::string_view pem, const std::string& file) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                  &BIO_free);
    if (!bio) raise(Err::OutOfMemory);
    auto impl = std::make_unique<Impl>();
    const Sha256Digest digest = DigestOf(pem);
    if (lastKey.key != nullptr && lastKey.pem == digest && EVP_PKEY_up_ref(lastKey.key) == 1) {
        impl->key = lastKey.key;
    } else {
        impl->key = PEM_read_bio_PrivateKey(bio.get(), nullptr, &NoPassphrase, nullptr);
        if (impl->key == nullptr) Unusable(file + " holds no unencrypted private key in PEM form");
    }
    switch (EVP_PKEY_get_base_id(impl->key)) {
    case EVP_PKEY_RSA: {
        const int bits = EVP_PKEY_get_bits(impl->key);
        if (bits < kShortestRsaKey)
            Unusable("the RSA key in " + file + " has " + std::to_string(bits) + " bits; at least " +
                     std::to_string(kShortestRsaKey) + " are needed");
        Remember(digest, impl->key);
        return DkimKey(std::move(impl), DkimAlgorithm::RsaSha256);
    }
    case EVP_PKEY_ED25519:
        Remember(digest, impl->key);
        return DkimKey(std::move(impl), DkimAlgorithm::Ed25519Sha256);
    default:
        Unusable("the key in " + file + " is neither RSA nor Ed25519");
    }
}

std::string DkimKey::Sign(std::string_view data) const {
    MdCtx ctx = NewMdCtx();
    std::string input(data);
    const EVP_MD* digest = EVP_sha256();
    if (algorithm_ == DkimAlgorithm::Ed25519Sha256) {
        // RFC 8463 3: Ed25519 signs the SHA-256 of the data, not the data.
        Sha256 hash;
        hash.Update(data);
        const Sha256Digest d = hash.Peek();
        input.assign(d.begin(), d.end());
        digest = nullptr;
    }
    std::size_t size = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
    if (EVP_DigestSignInit(ctx.get(), nullptr, digest, nullptr, impl_->key) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &size, bytes, input.size()) != 1)
        raise(Err::InternalError, "DKIM signing failed");
    std::string signature(size, '\0');
    if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &size, bytes, input.size()) != 1)
        raise(Err::InternalError, "DKIM signing failed");
    signature.resize(size);
    return signature;
}

std::string DkimKey::PublicKey() const {
    if (algorithm_ == DkimAlgorithm::Ed25519Sha256) {
        std::string raw(32, '\0');
        std::size_t size = raw.size();
        if (EVP_PKEY_get_raw_public_key(impl_->key, reinterpret_cast<unsigned char*>(raw.data()), &size) != 1)
            raise(Err::InternalError, "no Ed25519 public key");
        raw.resize(size);
        return raw;
    }
    unsigned char* der = nullptr;
    const int size = i2d_PUBKEY(impl_->key, &der);
    if (size <= 0) raise(Err::InternalError, "no RSA public key");
    std::string out(reinterpret_cast<const char*>(der), static_cast<std::size_t>(size));
    OPENSSL_free(der);
    return out;
}

}  // namespace quillpost
