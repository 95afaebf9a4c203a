// One HTTPS request: a form posted to a URL, for the token endpoints of
// OAuth 2.0 (RFC 6749 4.4, 6). The connection is always protected with TLS
// 1.2 or later and the endpoint's certificate is always checked against the
// system's trust store and the settings' CA file; there is no switch to turn
// that off.
#pragma once

#include <string>

namespace quillpost {

struct HttpsSettings {
    // A file of trusted certificates (PEM) in addition to the system's store.
    std::string caFile;
    // Seconds the whole request may take.
    float timeOut = 50;
};

struct HttpsAnswer {
    long status = 0;  // the HTTP status code
    std::string body;
};

// Posts `form` (application/x-www-form-urlencoded) to `url`, which must be
// an https:// URL. Returns the answer whatever its status; raises 9978 with
// the transport's reason (host not found, connection refused, certificate not
// trusted, time-out) when no answer came. Neither the form nor the answer is
// ever part of an error text.
HttpsAnswer HttpsPostForm(const std::string& url, const std::string& form, const HttpsSettings& settings);

}  // namespace quillpost
