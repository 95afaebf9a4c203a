// Access tokens for XOAUTH2 got by the component itself from an OAuth 2.0
// token endpoint (RFC 6749): the client-credentials grant (4.4) when no
// refresh token is given, the refresh-token grant (6) otherwise. Tokens are
// kept for the whole process, so that later sends, and other messages with
// the same settings, log in without asking again.
#pragma once

#include "transport/https.hpp"

#include <functional>
#include <string>

namespace quillpost {

class Trace;

// Where tokens come from and for whom; every field but the secret tells
// tokens apart.
struct OAuthSource {
    std::string tokenUrl;
    std::string clientId;
    std::string clientSecret;
    std::string scope;
    std::string refreshToken;  // empty: client credentials
    std::string user;          // the mailbox named in the login
};

// Called with the new refresh token when an answer replaces the old one.
using RefreshTokenStore = std::function<void(const std::string& refreshToken)>;

struct AccessToken {
    std::string value;
    bool cached = false;  // true when it was kept from an earlier request
};

// The kept token of `source` while it still has time to live (it is given
// up 60 seconds before it expires, or half-way through a shorter life),
// else a new one from the endpoint. A new refresh token in the answer goes
// to `store`, and the token is kept under the new one. Raises 9978 with the
// endpoint's error and description and the HTTP status, or the transport's
// reason; "+ " lines in the trace say when a token is asked for, never what
// it is.
AccessToken GetAccessToken(const OAuthSource& source, const HttpsSettings& https, Trace& trace,
                           const RefreshTokenStore& store);

// Forgets the kept token of `source` when it is still `token`.
void DropAccessToken(const OAuthSource& source, const std::string& token);

// The form body of a token request (RFC 6749 appendix B encoding).
std::string TokenRequestForm(const OAuthSource& source);

}  // namespace quillpost
