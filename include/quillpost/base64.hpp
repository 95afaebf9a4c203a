// Base64 of RFC 2045: the standard alphabet with "=" padding, written as
// lines that end with carriage return and line feed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quillpost {

// Encodes one block (the attachment writer passes 1 to 57 bytes) into one
// line of Base64 text followed by carriage return and line feed.
std::string Base64EncodeLine(std::span<const std::uint8_t> block);

// Bytes per line of the bulk form: 57 input bytes make 76 characters.
inline constexpr std::size_t kBase64LineBytes = 57;

// Encodes a whole buffer as consecutive lines of 76 characters (the last
// one shorter), each followed by carriage return and line feed, appended to
// `out`. The output is sized once; no allocation happens per line.
void Base64EncodeLines(std::span<const std::uint8_t> data, std::string& out);

// Decodes Base64 text; characters outside the alphabet (line breaks, blanks)
// are passed over and decoding ends at the first "=".
std::string Base64Decode(std::string_view text);

// The number of characters Base64EncodeLines appends for `size` bytes.
constexpr std::size_t Base64LinesSize(std::size_t size) {
    const std::size_t lines = (size + kBase64LineBytes - 1) / kBase64LineBytes;
    return (size + 2) / 3 * 4 + lines * 2;
}

}  // namespace quillpost
