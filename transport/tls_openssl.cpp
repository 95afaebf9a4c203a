// TLS through OpenSSL. The library talks to memory buffers; this stream moves
// their bytes to and from the stream it wraps, so that any byte stream (the
// socket now) can carry it and the conversation's waits stay in charge.
#include "transport/tls.hpp"

#include <quillpost/detail/errors.hpp>
#include <quillpost/host_events.hpp>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace quillpost {

namespace {

// Plain text taken per write: four TLS records of 16 KiB.
constexpr std::size_t kWriteSize = 64 * 1024;
// Bytes read out of the library at a time.
constexpr std::size_t kRecord = 16 * 1024;

struct ContextFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
    void operator()(SSL* s) const { SSL_free(s); }
};

// The reason at the front of OpenSSL's error queue, and the queue emptied.
std::string LibraryReason(std::string_view fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return std::string(fallback);
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// The last session each server gave, by server, port and trust settings:
// the next connection resumes it (RFC 8446 2.2, RFC 5246 7.3) and skips the
// certificate exchange, the costliest part of sending one small message. A
// session made without checking the certificate, or trusting another CA
// file, is kept under another key, so that it never stands in for a check.
// OpenSSL marks a session not resumable when its connection is freed
// without a close_notify; TlsStream's destructor sends one.
class SessionCache {
public:
    // Kept to the end of the process and never destroyed: the library's own
    // clean-up at exit may come first.
    static SessionCache& Instance() {
        static auto* cache = new SessionCache;
        return *cache;
    }
    // A reference the caller frees, or nullptr.
    SSL_SESSION* Take(const std::string& key) {
        const std::lock_guard guard(lock_);
        const auto found = sessions_.find(key);
        if (found == sessions_.end()) return nullptr;
        SSL_SESSION_up_ref(found->second);
        return found->second;
    }
    // Keeps `session` (its reference passes to the cache).
    void Keep(const std::string& key, SSL_SESSION* session) {
        const std::lock_guard guard(lock_);
        SSL_SESSION*& slot = sessions_[key];
        if (slot != nullptr) SSL_SESSION_free(slot);
        slot = session;
    }

private:
    std::mutex lock_;
    std::map<std::string, SSL_SESSION*> sessions_;
};

std::atomic<bool> resumeSessions{true};

// Where a connection's sessions are kept: set on each SSL object.
int CacheKeyIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int KeepNewSession(SSL* ssl, SSL_SESSION* session) {
    const auto* key = static_cast<const std::string*>(SSL_get_ex_data(ssl, CacheKeyIndex()));
    if (key == nullptr) return 0;
    SessionCache::Instance().Keep(*key, session);
    return 1;  // the cache holds the reference now
}

bool IsFolder(const char* path) {
    std::error_code failure;
    return path != nullptr && std::filesystem::is_directory(path, failure);
}

// Contexts are kept for the process, one per trust setting: loading the
// system's store costs far more than a handshake on a local network.
SSL_CTX* ContextFor(const std::string& caFile, bool verify) {
    // Never destroyed, for the reason the session cache is not.
    static auto* lock = new std::mutex;
    static auto* contexts = new std::map<std::pair<std::string, bool>, std::unique_ptr<SSL_CTX, ContextFree>>;
    const std::lock_guard guard(*lock);
    auto& slot = (*contexts)[{caFile, verify}];
    if (slot) return slot.get();
    std::unique_ptr<SSL_CTX, ContextFree> context(SSL_CTX_new(TLS_client_method()));
    if (!context) raise(Err::TlsHandshakeFailed, LibraryReason("no TLS context"));
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    // AES-128 first: as strong as mail needs, and the cheapest to seal a
    // large attachment with.
    SSL_CTX_set_ciphersuites(context.get(), "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256");
    SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(context.get(), KeepNewSession);
    if (verify) {
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
        // The system's hashed folder of certificates is read one certificate
        // at a time as a chain needs it; parsing the whole bundle file
        // instead costs more than the handshake. A system without the folder
        // gets the bundle.
        const char* folder = X509_get_default_cert_dir();
        if (!IsFolder(folder) || SSL_CTX_set_default_verify_dir(context.get()) != 1) {
            if (SSL_CTX_set_default_verify_paths(context.get()) != 1) ERR_clear_error();
        }
        if (!caFile.empty() && SSL_CTX_load_verify_locations(context.get(), caFile.c_str(), nullptr) != 1)
            raise(Err::CertificateNotTrusted, "cannot read the CA file " + caFile + ": " + LibraryReason(""));
    } else {
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
    }
    slot = std::move(context);
    return slot.get();
}

bool IsAddress(const std::string& host) {
    return host.find(':') != std::string::npos ||
           host.find_first_not_of("0123456789.") == std::string::npos;
}

class TlsStream final : public ByteStream {
public:
    TlsStream(std::unique_ptr<ByteStream> plain, const TlsSettings& settings) : plain_(std::move(plain)) {
        ssl_.reset(SSL_new(ContextFor(settings.caFile, settings.verify)));
        BIO* in = BIO_new(BIO_s_mem());
        BIO* out = BIO_new(BIO_s_mem());
        if (!ssl_ || in == nullptr || out == nullptr) {
            BIO_free(in);
            BIO_free(out);
            raise(Err::TlsHandshakeFailed, LibraryReason("out of memory"));
        }
        SSL_set_bio(ssl_.get(), in, out);
        in_ = in;
        out_ = out;
        SSL_set_connect_state(ssl_.get());
        const std::string host = Unbracketed(settings.host);
        if (settings.verify) {
            X509_VERIFY_PARAM* param = SSL_get0_param(ssl_.get());
            // RFC 6125 6.4.4: names are matched in the subject alternative
            // names only, never in the subject's common name.
            X509_VERIFY_PARAM_set_hostflags(param,
                                            X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
            const int set = IsAddress(host) ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str())
                                            : X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
            if (set != 1) raise(Err::CertificateNotTrusted, "cannot check the name " + host);
        }
        // RFC 6066 3: the name, never an address, tells the server whom we want.
        if (!IsAddress(host)) SSL_set_tlsext_host_name(ssl_.get(), host.c_str());
        cacheKey_ = host + '\n' + std::to_string(static_cast<std::uint16_t>(settings.port)) + '\n' + settings.caFile +
                    (settings.verify ? "\nverified" : "\nunverified");
        SSL_set_ex_data(ssl_.get(), CacheKeyIndex(), &cacheKey_);
        SSL_SESSION* earlier = resumeSessions ? SessionCache::Instance().Take(cacheKey_) : nullptr;
        if (earlier != nullptr) {
            SSL_set_session(ssl_.get(), earlier);
            SSL_SESSION_free(earlier);
        }
        Handshake(settings.timeOut);
    }

    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // RFC 8446 6.1: the close_notify alert ends the connection cleanly. It
    // is handed to the wrapped stream as far as it takes it now; the reply
    // is not awaited (the stream is closed right after).
    ~TlsStream() override {
        try {
            if (SSL_is_init_finished(ssl_.get()) == 1 && SSL_shutdown(ssl_.get()) >= 0) Push();
        } catch (...) {
            // The connection is going either way.
        }
        ERR_clear_error();
    }

    std::size_t Read(std::string& out) override {
        Pull();
        std::size_t taken = 0;
        char buffer[kRecord];
        for (;;) {
            std::size_t got = 0;
            const int result = SSL_read_ex(ssl_.get(), buffer, sizeof buffer, &got);
            if (result == 1) {
                out.append(buffer, got);
                taken += got;
                continue;
            }
            const int reason = SSL_get_error(ssl_.get(), result);
            if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_ZERO_RETURN) break;
            raise(Err::TlsHandshakeFailed, LibraryReason("the connection's protection failed"));
        }
        Push();
        return taken;
    }

    std::size_t Write(std::string_view data) override {
        // New text is taken only once what was sealed before has gone, so that
        // a slow server holds back the writer instead of filling memory.
        if (!Push()) return 0;
        const std::size_t piece = data.size() < kWriteSize ? data.size() : kWriteSize;
        std::size_t taken = 0;
        if (piece > 0 && SSL_write_ex(ssl_.get(), data.data(), piece, &taken) != 1)
            raise(Err::TlsHandshakeFailed, LibraryReason("the connection's protection failed"));
        Push();
        return taken;
    }

    void WaitReadable(std::int16_t seconds, TraceSink* trace) override {
        // Text already opened, or sealed bytes not yet opened, need no wait.
        if (SSL_pending(ssl_.get()) > 0 || BIO_ctrl_pending(in_) > 0) return;
        plain_->WaitReadable(seconds, trace);
    }

    void WaitWritable(std::int16_t seconds) override {
        if (!sealed_.empty() || BIO_ctrl_pending(out_) > 0) plain_->WaitWritable(seconds);
    }

    // The server's close_notify ends the stream as its close does.
    bool Ended() const override {
        return plain_->Ended() || (SSL_get_shutdown(ssl_.get()) & SSL_RECEIVED_SHUTDOWN) != 0;
    }

private:
    static std::string Unbracketed(const std::string& host) {
        if (host.size() > 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
        return host;
    }

    // Moves what the wrapped stream has received into the library.
    bool Pull() {
        incoming_.clear();
        if (plain_->Read(incoming_) == 0) return false;
        BIO_write(in_, incoming_.data(), static_cast<int>(incoming_.size()));
        return true;
    }

    // Moves what the library has sealed to the wrapped stream, as far as it
    // takes it now; true when nothing is left waiting. Sealed bytes go
    // straight from the library's buffer; only a rest the stream did not
    // take is copied aside.
    bool Push() {
        while (!sealed_.empty()) {
            const std::size_t put = plain_->Write(sealed_);
            if (put == 0) return false;
            sealed_.erase(0, put);
        }
        char* data = nullptr;
        const long size = BIO_get_mem_data(out_, &data);
        if (size <= 0) return true;
        const std::string_view sealed(data, static_cast<std::size_t>(size));
        std::size_t put = 0;
        while (put < sealed.size()) {
            const std::size_t more = plain_->Write(sealed.substr(put));
            if (more == 0) break;
            put += more;
        }
        if (put < sealed.size()) sealed_.assign(sealed.substr(put));
        (void)BIO_reset(out_);
        return sealed_.empty();
    }

    void Handshake(float timeOut) {
        using Clock = std::chrono::steady_clock;
        auto lastProgress = Clock::now();
        for (;;) {
            const int result = SSL_do_handshake(ssl_.get());
            const bool sent = Push();
            if (result == 1) {
                while (!Push()) plain_->WaitWritable(1);
                return;
            }
            const int reason = SSL_get_error(ssl_.get(), result);
            if (reason != SSL_ERROR_WANT_READ && reason != SSL_ERROR_WANT_WRITE) {
                const long verified = SSL_get_verify_result(ssl_.get());
                if (verified != X509_V_OK) {
                    ERR_clear_error();
                    raise(Err::CertificateNotTrusted, X509_verify_cert_error_string(verified));
                }
                raise(Err::TlsHandshakeFailed, LibraryReason("the server ended the handshake"));
            }
            if (!sent)
                plain_->WaitWritable(1);
            else
                plain_->WaitReadable(1, nullptr);
            if (Pull()) lastProgress = Clock::now();
            if (std::chrono::duration<float>(Clock::now() - lastProgress).count() > timeOut)
                raise(Err::TlsHandshakeFailed, "no answer from the server in time");
            ProcessPendingEvents();
        }
    }

    std::unique_ptr<ByteStream> plain_;
    std::unique_ptr<SSL, SslFree> ssl_;
    BIO* in_ = nullptr;   // owned by ssl_
    BIO* out_ = nullptr;  // owned by ssl_
    std::string sealed_;  // sealed bytes the wrapped stream has not taken yet
    std::string cacheKey_;
    std::string incoming_;
};

}  // namespace

std::unique_ptr<ByteStream> WrapInTls(std::unique_ptr<ByteStream> plain, const TlsSettings& settings) {
    return std::make_unique<TlsStream>(std::move(plain), settings);
}

void StartTlsLibrary() { OPENSSL_init_ssl(0, nullptr); }

void ResumeTlsSessions(bool on) { resumeSessions = on; }

std::string TlsLibraryVersion() { return OpenSSL_version(OPENSSL_VERSION); }

}  // namespace quillpost
