// The pieces of the login mechanisms (RFC 4954) that are not SMTP itself.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillpost {

// Base64 of a short text, on one line without a line break.
std::string Base64Text(std::string_view text);

// RFC 2195: the keyed MD5 digest of the server's challenge, in lower-case
// hexadecimal.
std::string HmacMd5Hex(std::string_view key, std::string_view challenge);

// RFC 7628 3.2.2: a server that refuses an XOAUTH2 token answers with a
// Base64 JSON object; its "status" member ("401", "invalid_token"), or the
// empty text when the challenge is no such object.
std::string OAuthErrorStatus(std::string_view challenge);

// The keyed MD5 digest itself, from the system's cryptography (one file per
// library: sasl_openssl.cpp, sasl_win32.cpp).
std::array<std::uint8_t, 16> HmacMd5(std::string_view key, std::string_view challenge);

}  // namespace quillpost
