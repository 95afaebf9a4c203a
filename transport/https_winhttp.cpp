// HTTPS through WinHTTP. The system checks the endpoint's certificate
// against its own roots; with a CA file, the unknown-root verdict is left to
// the component's own check (the one the Schannel stream makes), which runs
// after the handshake and before the form, with its secret, is written.
#include "transport/https.hpp"

#include "encoding/wide_text_win32.hpp"
#include "transport/certificate_check_win32.hpp"

#include <quillpost/detail/errors.hpp>

#include <windows.h>
#include <winhttp.h>

#include <cmath>
#include <memory>
#include <string>

namespace quillpost {

namespace {

struct InternetClose {
    void operator()(HINTERNET handle) const { ::WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, InternetClose>;

struct CertificateFree {
    void operator()(PCCERT_CONTEXT certificate) const { ::CertFreeCertificateContext(certificate); }
};

// An answer larger than this is no token answer.
constexpr std::size_t kAnswerLimit = 1024 * 1024;

// Not declared by every tool chain's headers.
constexpr DWORD kTls13 = 0x00002000;  // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3

[[noreturn]] void RaiseTransport(DWORD error, const std::string& host, const HttpsSettings& settings) {
    std::string reason;
    switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: reason = "host not found (" + host + ")"; break;
    case ERROR_WINHTTP_CANNOT_CONNECT: reason = "cannot connect to " + host; break;
    case ERROR_WINHTTP_TIMEOUT:
        reason = "no answer from " + host + " within " + std::to_string(std::lround(settings.timeOut)) + " seconds";
        break;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        reason = "the certificate of " + host + " is not trusted (WinHTTP error " + std::to_string(error) + ")";
        break;
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: reason = "only https:// token URLs are accepted"; break;
    default: reason = "WinHTTP error " + std::to_string(error) + " with " + host; break;
    }
    raise(Err::OAuthTokenRequestFailed, reason);
}

}  // namespace

HttpsAnswer HttpsPostForm(const std::string& url, const std::string& form, const HttpsSettings& settings) {
    std::wstring wideUrl = Widened(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS)
        raise(Err::OAuthTokenRequestFailed, "only https:// token URLs are accepted");
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::string hostName = Narrowed(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    const Handle session(::WinHttpOpen(L"Quillpost/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) RaiseTransport(::GetLastError(), hostName, settings);
    const int milliseconds = settings.timeOut > 0 ? static_cast<int>(std::lround(settings.timeOut * 1000.0f)) : 1;
    ::WinHttpSetTimeouts(session.get(), milliseconds, milliseconds, milliseconds, milliseconds);
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | kTls13;
    if (!::WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
        // A system without TLS 1.3 in WinHTTP.
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        ::WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
    }
    const Handle connection(::WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) RaiseTransport(::GetLastError(), hostName, settings);
    const Handle request(::WinHttpOpenRequest(connection.get(), L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) RaiseTransport(::GetLastError(), hostName, settings);
    // No redirection: the form carries the client's secret.
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
    if (!settings.caFile.empty()) {
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        ::WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }

    static const wchar_t kHeaders[] = L"Content-Type: application/x-www-form-urlencoded\r\nAccept: application/json\r\n";
    if (!::WinHttpSendRequest(request.get(), kHeaders, static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA, 0,
                              static_cast<DWORD>(form.size()), 0))
        RaiseTransport(::GetLastError(), hostName, settings);
    if (!settings.caFile.empty()) {
        PCCERT_CONTEXT presented = nullptr;
        DWORD size = sizeof presented;
        if (!::WinHttpQueryOption(request.get(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, &presented, &size) ||
            presented == nullptr)
            raise(Err::OAuthTokenRequestFailed, "the certificate of " + hostName + " could not be read");
        const std::unique_ptr<const CERT_CONTEXT, CertificateFree> certificate(presented);
        try {
            CheckServerCertificate(certificate.get(), hostName, settings.caFile);
        } catch (const Error& e) {
            raise(Err::OAuthTokenRequestFailed, "the certificate of " + hostName + " is not trusted (" +
                                                    std::string(e.description().substr(
                                                        error_info(Err::CertificateNotTrusted).description.size())) +
                                                    ")");
        }
    }
    DWORD written = 0;
    if (!form.empty() &&
        !::WinHttpWriteData(request.get(), form.data(), static_cast<DWORD>(form.size()), &written))
        RaiseTransport(::GetLastError(), hostName, settings);
    if (!::WinHttpReceiveResponse(request.get(), nullptr)) RaiseTransport(::GetLastError(), hostName, settings);

    HttpsAnswer answer;
    DWORD status = 0, size = sizeof status;
    ::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    answer.status = static_cast<long>(status);
    char block[8192];
    for (;;) {
        DWORD got = 0;
        if (!::WinHttpReadData(request.get(), block, sizeof block, &got))
            RaiseTransport(::GetLastError(), hostName, settings);
        if (got == 0) break;
        if (answer.body.size() + got > kAnswerLimit)
            raise(Err::OAuthTokenRequestFailed, "the answer of " + hostName + " is too large");
        answer.body.append(block, got);
    }
    return answer;
}

}  // namespace quillpost
