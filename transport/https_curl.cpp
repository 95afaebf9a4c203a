// HTTPS through libcurl (with its OpenSSL back end). The endpoint's
// certificate is checked against the system's store, as libcurl finds it,
// and the CA file is added to the same store, so that a private CA trusted
// for the mail server is trusted for its token endpoint too.
#include "transport/https.hpp"

#include <quillpost/detail/errors.hpp>

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cmath>
#include <memory>
#include <mutex>

namespace quillpost {

namespace {

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// An answer larger than this is no token answer.
constexpr std::size_t kAnswerLimit = 1024 * 1024;

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* target) {
    auto& body = *static_cast<std::string*>(target);
    if (body.size() + size * count > kAnswerLimit) return 0;  // ends the transfer
    body.append(data, size * count);
    return size * count;
}

CURLcode AddCaFile(CURL*, void* sslContext, void* caFile) {
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    if (X509_STORE_load_file(store, static_cast<const std::string*>(caFile)->c_str()) != 1) {
        ERR_clear_error();
        return CURLE_SSL_CACERT_BADFILE;
    }
    return CURLE_OK;
}

// The transport's reason in the user's terms; the URL's host is named where
// it helps, never the form.
std::string Reason(CURLcode code, const std::string& host, const HttpsSettings& settings, const char* detail) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST: return "host not found (" + host + ")";
    case CURLE_COULDNT_CONNECT: return "cannot connect to " + host + " (" + detail + ")";
    case CURLE_OPERATION_TIMEDOUT:
        return "no answer from " + host + " within " + std::to_string(std::lround(settings.timeOut)) + " seconds";
    case CURLE_PEER_FAILED_VERIFICATION: return "the certificate of " + host + " is not trusted (" + detail + ")";
    case CURLE_SSL_CACERT_BADFILE: return "cannot read the CA file " + settings.caFile;
    case CURLE_UNSUPPORTED_PROTOCOL: return "only https:// token URLs are accepted";
    default: return std::string(curl_easy_strerror(code)) + (*detail ? std::string(" (") + detail + ")" : "");
    }
}

}  // namespace

HttpsAnswer HttpsPostForm(const std::string& url, const std::string& form, const HttpsSettings& settings) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) raise(Err::OAuthTokenRequestFailed, "cannot start the HTTPS client");
    CURL* c = curl.get();
    std::unique_ptr<curl_slist, ListDeleter> headers(
        curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded"));
    headers.reset(curl_slist_append(headers.release(), "Accept: application/json"));

    HttpsAnswer answer;
    char detail[CURL_ERROR_SIZE] = "";
    const long milliseconds = settings.timeOut > 0 ? std::lround(settings.timeOut * 1000.0f) : 1;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    // Only HTTPS, and no redirection: the form carries the client's secret.
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!settings.caFile.empty()) {
        curl_easy_setopt(c, CURLOPT_SSL_CTX_FUNCTION, &AddCaFile);
        curl_easy_setopt(c, CURLOPT_SSL_CTX_DATA, &settings.caFile);
    }
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, form.c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(form.size()));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, milliseconds);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Quillpost/1.0");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer.body);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, detail);

    const CURLcode result = curl_easy_perform(c);
    if (result != CURLE_OK) {
        char* hostPart = nullptr;
        std::string host = "the token endpoint";
        CURLU* parsed = curl_url();
        if (parsed && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
            curl_url_get(parsed, CURLUPART_HOST, &hostPart, 0) == CURLUE_OK) {
            host = hostPart;
            curl_free(hostPart);
        }
        curl_url_cleanup(parsed);
        raise(Err::OAuthTokenRequestFailed, Reason(result, host, settings, detail));
    }
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &answer.status);
    return answer;
}

}  // namespace quillpost
