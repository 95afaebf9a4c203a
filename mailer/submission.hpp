// How one send reaches its server: protection, credentials and trust. Each
// setting comes from the message when the caller set it, else from the
// registry values of the server's key, so that an administrator can move an
// old site to a modern relay without changing one script.
#pragma once

#include "mailer/snapshot.hpp"

#include <quillpost/message.hpp>

#include <string>

namespace quillpost {

struct Submission {
    quillpost::Security security = quillpost::Security::None;
    std::string userName;
    std::string password;
    std::string oauthToken;
    std::string caFile;
    bool verifyCertificate = true;
    bool allowPlainTextAuth = false;

    bool HasCredentials() const { return !userName.empty() || !password.empty() || !oauthToken.empty(); }
    // True when anything beyond the plain HELO conversation is asked for.
    bool NeedsExtensions() const { return security != quillpost::Security::None || HasCredentials(); }
};

// The key of a server's settings under the product's key.
std::string ServerKeyPath(const std::string& server);

// The settings of the snapshot's message, with those it leaves unset read
// from HKEY_LOCAL_MACHINE\SOFTWARE\Brackenfold\Quillpost\Servers\<Server>
// ("Security", "UserName", "Password", "OAuthToken", "CAFile",
// "VerifyCertificate", "AllowPlainTextAuth"). A value that cannot be
// understood raises 5 naming it.
Submission ResolveSubmission(const Snapshot& message);

// Raises 9977 naming the blank one when a login is asked for with a part
// missing: a password or token without a user name (RFC 4616 2 and the
// XOAUTH2 grant both need one), or a user name with neither.
void CheckCredentials(const Submission& submission);

}  // namespace quillpost
