#include "mailer/submission.hpp"

#include <quillpost/detail/errors.hpp>
#include <quillpost/detail/text.hpp>

#include "platform/registry.hpp"

namespace quillpost {

namespace {

// A registry value that is present: as text, or its dword in decimal.
std::optional<Variant> ValueOf(const RegistryKey& key, std::string_view name) {
    Variant value;
    if (ReadRegistryValue(key, name, value) != kRegSuccess) return std::nullopt;
    return value;
}

[[noreturn]] void RaiseBadValue(std::string_view name) {
    raise(Err::InvalidProcedureCall, " (registry value \"" + std::string(name) + "\" of the server's key)");
}

// "True"/"False" or a dword 1/0.
bool Flag(const Variant& value, std::string_view name) {
    if (!value.is_text()) {
        const std::int32_t number = value.ToInt32();
        if (number == 0 || number == 1) return number == 1;
        RaiseBadValue(name);
    }
    if (EqualsFolded(value.text(), "True")) return true;
    if (EqualsFolded(value.text(), "False")) return false;
    RaiseBadValue(name);
}

void FillText(std::string& setting, const RegistryKey& key, std::string_view name) {
    if (!setting.empty()) return;
    if (const auto value = ValueOf(key, name)) setting = value->ToText();
}

}  // namespace

std::optional<quillpost::Security> SecurityNamed(std::string_view name) {
    if (EqualsFolded(name, "none")) return quillpost::Security::None;
    if (EqualsFolded(name, "may")) return quillpost::Security::May;
    if (EqualsFolded(name, "starttls")) return quillpost::Security::StartTls;
    if (EqualsFolded(name, "tls")) return quillpost::Security::Tls;
    return std::nullopt;
}

std::string ServerKeyPath(const std::string& server) { return std::string(kProductKey) + "\\Servers\\" + server; }

Submission ResolveSubmission(const Snapshot& m) {
    Submission s;
    s.userName = m.userName;
    s.password = m.password;
    s.oauthToken = m.oauthToken;
    s.oauth = {m.oauthTokenUrl, m.oauthClientId, m.oauthClientSecret, m.oauthScope, m.oauthRefreshToken, {}};
    s.caFile = m.caFile;

    RegistryKey key;
    if (key.Open(RegistryRoot::LocalMachine, ServerKeyPath(m.server)) != kRegSuccess) {
        s.security = m.security.value_or(quillpost::Security::None);
        s.verifyCertificate = m.verifyCertificate.value_or(true);
        s.allowPlainTextAuth = m.allowPlainTextAuth.value_or(false);
        s.keepAlive = m.keepAlive.value_or(0);
        s.oauth.user = s.userName;
        return s;
    }
    if (m.security) {
        s.security = *m.security;
    } else if (const auto value = ValueOf(key, "Security")) {
        const auto named = SecurityNamed(value->ToText());
        if (!named) RaiseBadValue("Security");
        s.security = *named;
    }
    FillText(s.userName, key, "UserName");
    FillText(s.password, key, "Password");
    FillText(s.oauthToken, key, "OAuthToken");
    FillText(s.oauth.tokenUrl, key, "OAuthTokenUrl");
    FillText(s.oauth.clientId, key, "OAuthClientId");
    FillText(s.oauth.clientSecret, key, "OAuthClientSecret");
    FillText(s.oauth.scope, key, "OAuthScope");
    s.refreshTokenFromRegistry = s.oauth.refreshToken.empty();
    FillText(s.oauth.refreshToken, key, "OAuthRefreshToken");
    s.refreshTokenFromRegistry = s.refreshTokenFromRegistry && !s.oauth.refreshToken.empty();
    s.oauth.user = s.userName;
    FillText(s.caFile, key, "CAFile");
    const auto verify = ValueOf(key, "VerifyCertificate");
    s.verifyCertificate = m.verifyCertificate.value_or(verify ? Flag(*verify, "VerifyCertificate") : true);
    const auto plain = ValueOf(key, "AllowPlainTextAuth");
    s.allowPlainTextAuth = m.allowPlainTextAuth.value_or(plain ? Flag(*plain, "AllowPlainTextAuth") : false);
    if (m.keepAlive) {
        s.keepAlive = *m.keepAlive;
    } else if (const auto value = ValueOf(key, "KeepAlive")) {
        if (value->is_text()) RaiseBadValue("KeepAlive");
        s.keepAlive = value->ToInt32();
        if (s.keepAlive < 0) RaiseBadValue("KeepAlive");
    }
    return s;
}

void CheckCredentials(const Submission& s) {
    if (!s.HasCredentials()) return;
    if (s.userName.empty()) raise(Err::BlankCredential, "UserName");
    if (s.password.empty() && s.oauthToken.empty() && !s.FetchesTokens()) raise(Err::BlankCredential, "Password");
}

bool StoreRefreshToken(const std::string& server, const std::string& refreshToken, std::string& reason) {
    return WriteRegistryString(RegistryRoot::LocalMachine, ServerKeyPath(server), "OAuthRefreshToken", refreshToken,
                               reason);
}

}  // namespace quillpost
