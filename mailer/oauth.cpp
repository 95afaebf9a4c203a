#include "mailer/oauth.hpp"

#include <quillpost/detail/errors.hpp>

#include "platform/clock.hpp"
#include "smtp/trace.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>

namespace quillpost {

namespace {

struct Kept {
    std::string token;
    double usableUntil = 0;  // steady-clock seconds
};

using Key = std::tuple<std::string, std::string, std::string, std::string, std::string>;

Key KeyOf(const OAuthSource& s) { return {s.tokenUrl, s.clientId, s.scope, s.refreshToken, s.user}; }

// One lock for the kept tokens and for the requests: two sends that need the
// same token ask once, and a rotated refresh token is never used twice.
std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

std::map<Key, Kept>& Tokens() {
    static std::map<Key, Kept> tokens;
    return tokens;
}

// RFC 6749 appendix B: application/x-www-form-urlencoded, UTF-8.
std::string FormEncoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
            b == '_' || b == '*') {
            out += c;
        } else if (b == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

// The URL as it may be shown: without its query, which is nobody's business.
std::string Shown(const std::string& url) { return url.substr(0, url.find_first_of("?#")); }

std::string TextField(const nlohmann::json& answer, const char* name) {
    const auto found = answer.find(name);
    return found != answer.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// expires_in as a number or, as some endpoints write it, a string of digits.
double Lifetime(const nlohmann::json& answer) {
    const auto found = answer.find("expires_in");
    if (found != answer.end() && found->is_number()) return found->get<double>();
    if (found != answer.end() && found->is_string()) {
        const std::string text = found->get<std::string>();
        if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::stod(text);
    }
    return 3600;  // RFC 6749 5.1 leaves it out when the server documents it; an hour is usual
}

[[noreturn]] void RaiseRefused(const nlohmann::json& answer, long status) {
    // RFC 6749 5.2: error, and error_description for people.
    std::string text = TextField(answer, "error");
    const std::string description = TextField(answer, "error_description");
    if (text.empty()) text = "the endpoint gave no token";
    if (!description.empty()) text += ": " + description;
    raise(Err::OAuthTokenRequestFailed, text + " (HTTP " + std::to_string(status) + ")");
}

Kept Request(const OAuthSource& source, const HttpsSettings& https, const RefreshTokenStore& store,
             std::string& newRefreshToken) {
    if (!source.tokenUrl.starts_with("https://"))
        raise(Err::OAuthTokenRequestFailed, "the token URL must begin with https:// (" + Shown(source.tokenUrl) + ")");
    const double asked = SteadyClock().Seconds();
    const HttpsAnswer reply = HttpsPostForm(source.tokenUrl, TokenRequestForm(source), https);
    const nlohmann::json answer = nlohmann::json::parse(reply.body, nullptr, false);
    if (!answer.is_object()) {
        raise(Err::OAuthTokenRequestFailed,
              "the answer is not JSON (HTTP " + std::to_string(reply.status) + ")");
    }
    Kept kept{TextField(answer, "access_token"), 0};
    if (reply.status != 200 || kept.token.empty()) RaiseRefused(answer, reply.status);
    const double life = Lifetime(answer);
    kept.usableUntil = asked + life - std::min(60.0, life / 2);
    newRefreshToken = TextField(answer, "refresh_token");
    if (newRefreshToken == source.refreshToken || source.refreshToken.empty()) newRefreshToken.clear();
    if (!newRefreshToken.empty() && store) store(newRefreshToken);
    return kept;
}

}  // namespace

std::string TokenRequestForm(const OAuthSource& s) {
    std::string form = s.refreshToken.empty()
                           ? "grant_type=client_credentials"
                           : "grant_type=refresh_token&refresh_token=" + FormEncoded(s.refreshToken);
    form += "&client_id=" + FormEncoded(s.clientId);
    if (!s.clientSecret.empty()) form += "&client_secret=" + FormEncoded(s.clientSecret);
    if (!s.scope.empty()) form += "&scope=" + FormEncoded(s.scope);
    return form;
}

AccessToken GetAccessToken(const OAuthSource& source, const HttpsSettings& https, Trace& trace,
                           const RefreshTokenStore& store) {
    const std::lock_guard guard(Lock());
    const auto found = Tokens().find(KeyOf(source));
    if (found != Tokens().end()) {
        if (SteadyClock().Seconds() < found->second.usableUntil) {
            trace.Write("+ Using the OAuth token kept from " + Shown(source.tokenUrl));
            return {found->second.token, true};
        }
        Tokens().erase(found);
    }
    trace.Write("+ Requesting an OAuth token from " + Shown(source.tokenUrl) +
                (source.refreshToken.empty() ? " (client credentials)" : " (refresh token)"));
    trace.Flush();
    std::string newRefreshToken;
    Kept kept = Request(source, https, store, newRefreshToken);
    OAuthSource keptFor = source;
    if (!newRefreshToken.empty()) {
        trace.Write("+ The endpoint issued a new refresh token");
        keptFor.refreshToken = newRefreshToken;
    }
    Tokens()[KeyOf(keptFor)] = kept;
    return {std::move(kept.token), false};
}

void DropAccessToken(const OAuthSource& source, const std::string& token) {
    const std::lock_guard guard(Lock());
    const auto found = Tokens().find(KeyOf(source));
    if (found != Tokens().end() && found->second.token == token) Tokens().erase(found);
}

}  // namespace quillpost
