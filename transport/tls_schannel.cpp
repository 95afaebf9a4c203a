// TLS through Windows' own Schannel (SSPI). Schannel works on buffers the
// caller hands it: this stream moves sealed bytes to and from the stream it
// wraps, so that any byte stream (the socket now) can carry it and the
// conversation's waits stay in charge, as with OpenSSL elsewhere.
//
// The certificate is checked here rather than inside Schannel, so that a CA
// file can be trusted beside the system's roots and the reasons for a
// refusal are this component's own words.
#include "transport/tls.hpp"

#include "encoding/wide_text_win32.hpp"
#include "platform/file.hpp"
#include "transport/certificate_check_win32.hpp"

#include <quillpost/detail/errors.hpp>
#include <quillpost/host_events.hpp>

#define SECURITY_WIN32
// The newer credentials (SCH_CREDENTIALS) are declared only on request.
#define SCHANNEL_USE_BLACKLISTS
#include <windows.h>
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace quillpost {

namespace {

// Plain text taken per write: four TLS records of 16 KiB.
constexpr std::size_t kWriteSize = 64 * 1024;
// The header of a TLS record: type, version and length.
constexpr std::size_t kRecordHeader = 5;

// The SSL policy's flag for a root the system does not know (declared with
// WinINet, which this file has no other use for).
constexpr DWORD kIgnoreUnknownCa = 0x00000100;

constexpr DWORD kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                           ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                           ISC_REQ_MANUAL_CRED_VALIDATION;

std::string Hex(unsigned long code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", code);
    return text;
}

// The handshake's and the record layer's failures in words; the code stays
// beside them for the one who looks it up.
std::string StatusText(SECURITY_STATUS status) {
    const char* words = nullptr;
    switch (static_cast<unsigned long>(status)) {
    case 0x80090326UL: words = "the server's answer is not TLS"; break;                    // SEC_E_ILLEGAL_MESSAGE
    case 0x80090331UL: words = "no protocol or cipher in common with the server"; break;    // SEC_E_ALGORITHM_MISMATCH
    case 0x80090330UL: words = "the data could not be opened"; break;                      // SEC_E_DECRYPT_FAILURE
    case 0x8009030FUL: words = "a record failed its integrity check"; break;               // SEC_E_MESSAGE_ALTERED
    case 0x80090308UL: words = "the server's handshake message is not valid"; break;       // SEC_E_INVALID_TOKEN
    case 0x80090304UL: words = "the security system failed"; break;                        // SEC_E_INTERNAL_ERROR
    case 0x80090302UL: words = "the operation is not supported"; break;                    // SEC_E_UNSUPPORTED_FUNCTION
    case 0x8009030EUL: words = "no credentials are available"; break;                      // SEC_E_NO_CREDENTIALS
    case 0x80090327UL: words = "the certificate could not be processed"; break;            // SEC_E_CERT_UNKNOWN
    case 0x80090317UL: words = "the connection was closed"; break;                         // SEC_E_CONTEXT_EXPIRED
    default: break;
    }
    const std::string code = Hex(static_cast<unsigned long>(status));
    return words ? std::string(words) + " (" + code + ")" : "Schannel status " + code;
}

// Why the chain or the name was refused, from the policy's answer.
std::string TrustText(DWORD error, const std::string& host) {
    switch (error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
        return "the certificate chain ends in a root that is not trusted";
    case static_cast<DWORD>(CERT_E_CHAINING):
        return "the certificate's issuer is unknown";
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return "the certificate is not issued for " + host;
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return "the certificate has expired or is not yet valid";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
        return "the certificate is not meant for a server";
    case static_cast<DWORD>(CERT_E_REVOKED):
        return "the certificate has been revoked";
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
        return "a signature in the certificate chain is not valid";
    default:
        return "the certificate was refused (" + Hex(error) + ")";
    }
}

// The first fault of a chain, in words.
std::string ChainText(DWORD faults) {
    if (faults & CERT_TRUST_IS_PARTIAL_CHAIN) return "the certificate's issuer is unknown";
    if (faults & CERT_TRUST_IS_UNTRUSTED_ROOT) return "the certificate chain ends in a root that is not trusted";
    if (faults & CERT_TRUST_IS_NOT_TIME_VALID) return "the certificate has expired or is not yet valid";
    if (faults & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return "a signature in the certificate chain is not valid";
    if (faults & CERT_TRUST_IS_REVOKED) return "the certificate has been revoked";
    if (faults & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "the certificate is not meant for a server";
    return "the certificate chain is not valid (" + Hex(faults) + ")";
}

// The credentials, one per process: Schannel keeps the sessions it may
// resume with the credentials, so sharing them lets the next connection to
// a server skip the certificate exchange. Never freed, for the process may
// end while another thread still sends.
CredHandle* Credentials() {
    static std::mutex lock;
    static CredHandle handle{};
    static bool acquired = false;
    const std::lock_guard guard(lock);
    if (acquired) return &handle;
    TimeStamp expiry{};
    // Newer systems take the protocol floor as a list of what is refused
    // (and only then offer TLS 1.3); older ones know only the list of what
    // is enabled. Either way nothing below TLS 1.2 is spoken.
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols = static_cast<DWORD>(~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT));
    SCH_CREDENTIALS current{};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    wchar_t package[] = UNISP_NAME_W;
    SECURITY_STATUS status = ::AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &current,
                                                        nullptr, nullptr, &handle, &expiry);
    if (status != SEC_E_OK) {
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        older.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
        status = ::AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &older, nullptr,
                                             nullptr, &handle, &expiry);
    }
    if (status != SEC_E_OK) raise(Err::TlsHandshakeFailed, "no TLS credentials: " + StatusText(status));
    acquired = true;
    return &handle;
}

struct StoreClose {
    void operator()(HCERTSTORE store) const { ::CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreClose>;

struct CertificateFree {
    void operator()(PCCERT_CONTEXT certificate) const { ::CertFreeCertificateContext(certificate); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

struct ChainFree {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { ::CertFreeCertificateChain(chain); }
};

// The certificates of a PEM file in a store of their own, in memory.
Store LoadCaFile(const std::string& path) {
    const std::string text = ReadSmallFile(path);
    Store store(::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!store) raise(Err::CertificateNotTrusted, "cannot read the CA file " + path + ": no store for it");
    constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
    constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
    std::size_t added = 0;
    for (std::size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at)) {
        const std::size_t end = text.find(kEnd, at);
        if (end == std::string::npos) break;
        const std::string block = text.substr(at, end + kEnd.size() - at);
        at = end + kEnd.size();
        DWORD size = 0;
        if (!::CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                    nullptr, &size, nullptr, nullptr))
            continue;
        std::vector<BYTE> der(size);
        if (!::CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                    der.data(), &size, nullptr, nullptr))
            continue;
        if (::CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), size,
                                               CERT_STORE_ADD_USE_EXISTING, nullptr))
            ++added;
    }
    if (added == 0)
        raise(Err::CertificateNotTrusted,
              "cannot read the CA file " + path + (text.empty() ? ": it is missing or empty" : ": no certificate in it"));
    return store;
}

bool IsAddress(const std::string& host) {
    return host.find(':') != std::string::npos || host.find_first_not_of("0123456789.") == std::string::npos;
}

// RFC 6125 6.4.4: the names a certificate is issued for are its subject
// alternative names; the subject's common name is not consulted (the SSL
// policy would fall back to it), so a certificate without a name of the
// host's kind there names no server.
bool NamesServerInAltNames(PCCERT_CONTEXT certificate, bool address) {
    const CERT_INFO* info = certificate->pCertInfo;
    const CERT_EXTENSION* extension = ::CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    if (extension == nullptr) return false;
    void* decoded = nullptr;
    DWORD size = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                               extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &size))
        return false;
    const auto* names = static_cast<const CERT_ALT_NAME_INFO*>(decoded);
    const DWORD wanted = address ? CERT_ALT_NAME_IP_ADDRESS : CERT_ALT_NAME_DNS_NAME;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) found = names->rgAltEntry[i].dwAltNameChoice == wanted;
    ::LocalFree(decoded);
    return found;
}

// Checks the server's certificate: a chain to one of the system's roots, or
// to a certificate of the CA file, issued to a server, and for `host` by a
// subject alternative name. Raises 9982 with the reason otherwise.
void CheckCertificate(PCCERT_CONTEXT server, const std::string& host, const std::string& caFile) {
    Store extra;
    Store pool;
    if (!caFile.empty()) {
        extra = LoadCaFile(caFile);
        // The certificates the server sent and those of the file together,
        // so that the chain may run through either.
        pool.reset(::CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
        if (!pool) raise(Err::CertificateNotTrusted, "no store for the certificate chain");
        ::CertAddStoreToCollection(pool.get(), server->hCertStore, 0, 0);
        ::CertAddStoreToCollection(pool.get(), extra.get(), 0, 0);
    }

    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!::CertGetCertificateChain(nullptr, server, nullptr, pool ? pool.get() : server->hCertStore, &para, 0,
                                   nullptr, &built))
        raise(Err::CertificateNotTrusted, "the certificate chain could not be built (" + Hex(::GetLastError()) + ")");
    const std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree> chain(built);

    // A chain that the system does not trust may still end in a certificate
    // of the CA file: then only the system's verdict on the root is set aside.
    bool anchored = false;
    if (extra && chain->cChain > 0 && (chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_UNTRUSTED_ROOT)) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        if (simple->cElement > 0) {
            PCCERT_CONTEXT top = simple->rgpElement[simple->cElement - 1]->pCertContext;
            const Certificate found(::CertFindCertificateInStore(extra.get(), X509_ASN_ENCODING, 0,
                                                                 CERT_FIND_EXISTING, top, nullptr));
            anchored = static_cast<bool>(found);
        }
    }

    // The chain's own verdict first: the policy check does not refuse
    // every broken chain everywhere (Wine passes one whose issuer is
    // missing). Revocation is not asked for, so its unknown state is no fault.
    DWORD faults = chain->TrustStatus.dwErrorStatus &
                   ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (anchored) faults &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
    if (faults != 0) raise(Err::CertificateNotTrusted, ChainText(faults));

    if (!NamesServerInAltNames(server, IsAddress(host)))
        raise(Err::CertificateNotTrusted, TrustText(static_cast<DWORD>(CERT_E_CN_NO_MATCH), host));
    std::wstring name = Widened(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = anchored ? kIgnoreUnknownCa : 0;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.dwFlags = anchored ? CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG : 0;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status))
        raise(Err::CertificateNotTrusted, "the certificate could not be checked (" + Hex(::GetLastError()) + ")");
    if (status.dwError != 0) raise(Err::CertificateNotTrusted, TrustText(status.dwError, host));
}

std::string Unbracketed(const std::string& host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
    return host;
}

// The output tokens Schannel allocates, freed on every way out.
struct OutputToken {
    SecBuffer buffer{0, SECBUFFER_TOKEN, nullptr};
    ~OutputToken() {
        if (buffer.pvBuffer != nullptr) ::FreeContextBuffer(buffer.pvBuffer);
    }
};

class TlsStream final : public ByteStream {
public:
    TlsStream(std::unique_ptr<ByteStream> plain, const TlsSettings& settings)
        : plain_(std::move(plain)), credentials_(Credentials()), timeOut_(settings.timeOut) {
        try {
            Start(settings);
        } catch (...) {
            // The destructor does not run for a stream that was never made:
            // its context is freed here, and no close_notify goes out after a
            // failed handshake or a refused certificate.
            if (haveContext_) ::DeleteSecurityContext(&context_);
            throw;
        }
    }

    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    ~TlsStream() override {
        if (!haveContext_) return;
        try {
            SendCloseNotify();
        } catch (...) {
            // The connection is going either way.
        }
        ::DeleteSecurityContext(&context_);
    }

    std::size_t Read(std::string& out) override {
        try {
            Pull();
            const std::size_t before = out.size();
            Open(out);
            Push();
            return out.size() - before;
        } catch (...) {
            failed_ = true;
            throw;
        }
    }

    std::size_t Write(std::string_view data) override {
        try {
            // New text is taken only once what was sealed before has gone, so
            // that a slow server holds back the writer instead of filling memory.
            if (!Push()) return 0;
            std::size_t taken = 0;
            while (taken < data.size() && taken < kWriteSize) {
                const std::size_t piece = std::min<std::size_t>(data.size() - taken, sizes_.cbMaximumMessage);
                Seal(data.substr(taken, piece));
                taken += piece;
            }
            Push();
            return taken;
        } catch (...) {
            failed_ = true;
            throw;
        }
    }

    void WaitReadable(std::int16_t seconds, TraceSink* trace) override {
        // A whole record already here needs no wait.
        if (HasWholeRecord()) return;
        try {
            plain_->WaitReadable(seconds, trace);
        } catch (...) {
            failed_ = true;
            throw;
        }
    }

    void WaitWritable(std::int16_t seconds) override {
        if (sealed_.empty()) return;
        try {
            plain_->WaitWritable(seconds);
        } catch (...) {
            failed_ = true;
            throw;
        }
    }

    bool Ended() const override { return plain_->Ended(); }

private:
    // The handshake, and the certificate checked when `settings` ask for it.
    void Start(const TlsSettings& settings) {
        const std::string host = Unbracketed(settings.host);
        // Schannel keys the sessions it may resume by the target, so a server
        // given by its address is named by the address too (without a target
        // it may find none). The target goes out as the server's name (RFC
        // 6066 3) only when it is a name: Windows' Schannel leaves an address
        // out (Wine's sends it). Under manual validation Schannel checks
        // nothing against the target; the certificate is checked below, as
        // for a name.
        target_ = Widened(host);
        Handshake(settings.timeOut);
        established_ = true;
        if (settings.verify) {
            PCCERT_CONTEXT presented = nullptr;
            const SECURITY_STATUS got =
                ::QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &presented);
            if (got != SEC_E_OK || presented == nullptr)
                raise(Err::CertificateNotTrusted, "the server presented no certificate");
            const Certificate certificate(presented);
            CheckCertificate(certificate.get(), host, settings.caFile);
        }
        const SECURITY_STATUS sized = ::QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
        if (sized != SEC_E_OK) raise(Err::TlsHandshakeFailed, StatusText(sized));
    }

    bool HasWholeRecord() const {
        if (received_.size() < kRecordHeader) return false;
        const std::size_t length = (static_cast<unsigned char>(received_[3]) << 8) |
                                   static_cast<unsigned char>(received_[4]);
        return received_.size() >= kRecordHeader + length;
    }

    // Moves what the wrapped stream has received to the end of received_.
    bool Pull() { return plain_->Read(received_) > 0; }

    // Hands the wrapped stream what is sealed, as far as it takes it now;
    // true when nothing is left waiting.
    bool Push() {
        while (!sealed_.empty()) {
            const std::size_t put = plain_->Write(sealed_);
            if (put == 0) return false;
            sealed_.erase(0, put);
        }
        return true;
    }

    // Keeps the unread rest of received_: Schannel names it by its length,
    // which is the tail of what it was given.
    void KeepExtra(const SecBuffer& extra, std::size_t given) {
        if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0 && extra.cbBuffer <= given)
            received_.erase(0, given - extra.cbBuffer);
        else
            received_.erase(0, given);
    }

    // A server that answers in plain text (an SMTP reply where the handshake
    // should be) is told apart at once: Schannel would read the text as the
    // length of a record and wait for the rest until the time limit.
    void CheckRecordStart() const {
        if (received_.empty()) return;
        const auto type = static_cast<unsigned char>(received_[0]);
        // The four record types a TLS server sends (20 to 23).
        const bool known = type >= 20 && type <= 23;
        if (!known || (received_.size() > 1 && received_[1] != '\x03'))
            raise(Err::TlsHandshakeFailed, "the server's answer is not TLS");
    }

    // One step of the handshake over what has been received; returns the
    // step's status with its token queued for sending.
    SECURITY_STATUS Step() {
        CheckRecordStart();
        SecBuffer input[2] = {{static_cast<unsigned long>(received_.size()), SECBUFFER_TOKEN, received_.data()},
                              {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inputs{SECBUFFER_VERSION, 2, input};
        OutputToken token;
        SecBuffer output[2] = {token.buffer, {0, SECBUFFER_ALERT, nullptr}};
        SecBufferDesc outputs{SECBUFFER_VERSION, 2, output};
        ULONG granted = 0;
        const bool first = !haveContext_;
        SECURITY_STATUS status = ::InitializeSecurityContextW(
            credentials_, first ? nullptr : &context_, target_.empty() ? nullptr : target_.data(), kRequest, 0, 0,
            first ? nullptr : &inputs, 0, first ? &context_ : nullptr, &outputs, &granted, nullptr);
        token.buffer = output[0];
        if (output[1].pvBuffer != nullptr) ::FreeContextBuffer(output[1].pvBuffer);
        if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) haveContext_ = true;
        if (token.buffer.pvBuffer != nullptr && token.buffer.cbBuffer > 0)
            sealed_.append(static_cast<const char*>(token.buffer.pvBuffer), token.buffer.cbBuffer);
        if (!first && status != SEC_E_INCOMPLETE_MESSAGE) KeepExtra(input[1], received_.size());
        return status;
    }

    void Handshake(float timeOut) {
        using Clock = std::chrono::steady_clock;
        auto lastProgress = Clock::now();
        SECURITY_STATUS status = Step();
        for (;;) {
            if (status == SEC_E_OK) {
                while (!Push()) plain_->WaitWritable(1);
                return;
            }
            if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
                // The server asks for a client certificate; none is offered,
                // and the server decides whether that will do.
                status = Step();
                continue;
            }
            if (status != SEC_I_CONTINUE_NEEDED && status != SEC_E_INCOMPLETE_MESSAGE) {
                Push();
                raise(Err::TlsHandshakeFailed, StatusText(status));
            }
            const bool sent = Push();
            // A step that left whole records unread goes on at once.
            if (status == SEC_I_CONTINUE_NEEDED && !received_.empty()) {
                status = Step();
                continue;
            }
            if (!sent)
                plain_->WaitWritable(1);
            else
                plain_->WaitReadable(1, nullptr);
            if (Pull()) {
                lastProgress = Clock::now();
                status = Step();
                continue;
            }
            if (std::chrono::duration<float>(Clock::now() - lastProgress).count() > timeOut)
                raise(Err::TlsHandshakeFailed, "no answer from the server in time");
            ProcessPendingEvents();
        }
    }

    // Opens every whole record received and appends its text to `out`.
    void Open(std::string& out) {
        while (!closed_ && !received_.empty()) {
            const std::size_t given = received_.size();
            SecBuffer buffers[4] = {{static_cast<unsigned long>(given), SECBUFFER_DATA, received_.data()},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
            const SECURITY_STATUS status = ::DecryptMessage(&context_, &description, 0, nullptr);
            if (status == SEC_E_INCOMPLETE_MESSAGE) return;
            if (status == SEC_I_CONTEXT_EXPIRED) {
                // The server's close_notify: nothing more will come.
                closed_ = true;
                received_.clear();
                return;
            }
            if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
                raise(Err::TlsHandshakeFailed, "the connection's protection failed: " + StatusText(status));
            const SecBuffer* extra = nullptr;
            for (const SecBuffer& b : buffers) {
                if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0)
                    out.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
                if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) extra = &b;
            }
            if (extra != nullptr)
                received_.erase(0, given - extra->cbBuffer);
            else
                received_.clear();
            if (status == SEC_I_RENEGOTIATE) Renegotiate();
        }
    }

    // TLS 1.3 carries handshake messages after the handshake (new session
    // tickets, key updates): Schannel asks for them to go back through the
    // handshake call, with what follows them.
    void Renegotiate() {
        const SECURITY_STATUS status = Step();
        Push();
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED && status != SEC_E_INCOMPLETE_MESSAGE)
            raise(Err::TlsHandshakeFailed, "the connection's protection failed: " + StatusText(status));
    }

    // RFC 8446 6.1: the close_notify alert tells the server that the end is
    // meant, not a cut, so that it has no reason to drop the session that a
    // later connection of the process offers from Schannel's cache. Sent
    // only from a finished handshake and a connection that has not failed,
    // as Schannel makes it: the shutdown token applied to the context, then
    // one more handshake step with no input, whose output is the alert. It
    // is handed to the wrapped stream as far as it takes it now; the reply
    // is not awaited. Only when everything sealed before has gone does it
    // wait for room, and never past the time-out: a server that left
    // earlier bytes unread would not read the alert either. Once it has
    // gone, whatever the server sent last (its own close_notify, as a rule)
    // is read and dropped: a connection closed with bytes unread is reset
    // rather than ended (RFC 2525 2.17), and the reset can overtake the alert.
    void SendCloseNotify() {
        if (!established_ || failed_) return;
        DWORD kind = SCHANNEL_SHUTDOWN;
        SecBuffer control{sizeof kind, SECBUFFER_TOKEN, &kind};
        SecBufferDesc controls{SECBUFFER_VERSION, 1, &control};
        if (::ApplyControlToken(&context_, &controls) != SEC_E_OK) return;
        OutputToken token;
        SecBuffer output[1] = {token.buffer};
        SecBufferDesc outputs{SECBUFFER_VERSION, 1, output};
        ULONG granted = 0;
        const SECURITY_STATUS status =
            ::InitializeSecurityContextW(credentials_, &context_, target_.empty() ? nullptr : target_.data(), kRequest,
                                         0, 0, nullptr, 0, &context_, &outputs, &granted, nullptr);
        token.buffer = output[0];
        if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED) return;
        if (token.buffer.pvBuffer == nullptr || token.buffer.cbBuffer == 0) return;
        const bool earlierGone = sealed_.empty();
        sealed_.append(static_cast<const char*>(token.buffer.pvBuffer), token.buffer.cbBuffer);
        if (!Push()) {
            if (!earlierGone) return;
            using Clock = std::chrono::steady_clock;
            const auto start = Clock::now();
            while (!Push() && std::chrono::duration<float>(Clock::now() - start).count() < timeOut_)
                plain_->WaitWritable(1);
            if (!sealed_.empty()) return;
        }
        std::string unread;
        plain_->Read(unread);
    }

    void Seal(std::string_view text) {
        std::string record(sizes_.cbHeader + text.size() + sizes_.cbTrailer, '\0');
        text.copy(record.data() + sizes_.cbHeader, text.size());
        SecBuffer buffers[4] = {
            {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
            {static_cast<unsigned long>(text.size()), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + text.size()},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = ::EncryptMessage(&context_, 0, &description, 0);
        if (status != SEC_E_OK)
            raise(Err::TlsHandshakeFailed, "the connection's protection failed: " + StatusText(status));
        // The trailer may be shorter than its most.
        sealed_.append(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
    }

    std::unique_ptr<ByteStream> plain_;
    CredHandle* credentials_;
    CtxtHandle context_{};
    bool haveContext_ = false;
    bool established_ = false;  // the handshake finished
    bool failed_ = false;       // a read, write or wait raised: the connection is broken
    bool closed_ = false;       // the server's close_notify arrived
    float timeOut_ = 0;
    std::wstring target_;
    SecPkgContext_StreamSizes sizes_{};
    std::string received_;  // sealed bytes from the server not yet opened
    std::string sealed_;    // sealed bytes the wrapped stream has not taken yet
};

}  // namespace

void CheckServerCertificate(PCCERT_CONTEXT server, const std::string& host, const std::string& caFile) {
    CheckCertificate(server, host, caFile);
}

std::unique_ptr<ByteStream> WrapInTls(std::unique_ptr<ByteStream> plain, const TlsSettings& settings) {
    return std::make_unique<TlsStream>(std::move(plain), settings);
}

void StartTlsLibrary() {}

std::string TlsLibraryVersion() {
    PSecPkgInfoW info = nullptr;
    wchar_t package[] = UNISP_NAME_W;
    if (::QuerySecurityPackageInfoW(package, &info) != SEC_E_OK || info == nullptr) return "Schannel";
    const std::string text = "Schannel (package version " + std::to_string(info->wVersion) + ")";
    ::FreeContextBuffer(info);
    return text;
}

}  // namespace quillpost
