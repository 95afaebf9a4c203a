#include <quillpost/base64.hpp>

#include <array>
#include <cstring>

namespace quillpost {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12-bit value: one lookup per half of a
// three-byte group.
struct PairTable {
    std::array<char, 4096 * 2> chars{};
    constexpr PairTable() {
        for (std::size_t i = 0; i < 4096; ++i) {
            chars[2 * i] = kAlphabet[i >> 6];
            chars[2 * i + 1] = kAlphabet[i & 63];
        }
    }
};
constexpr PairTable kPairs;

// Encodes the full groups of `in` (size a multiple of 3) to `out`.
inline char* EncodeGroups(const std::uint8_t* in, std::size_t size, char* out) {
    for (std::size_t i = 0; i < size; i += 3) {
        const std::uint32_t group = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
        std::memcpy(out, &kPairs.chars[2 * (group >> 12)], 2);
        std::memcpy(out + 2, &kPairs.chars[2 * (group & 0xFFF)], 2);
        out += 4;
    }
    return out;
}

// Encodes the one or two bytes left after the full groups, with padding.
inline char* EncodeTail(const std::uint8_t* in, std::size_t size, char* out) {
    if (size == 1) {
        *out++ = kAlphabet[in[0] >> 2];
        *out++ = kAlphabet[(in[0] & 3) << 4];
        *out++ = '=';
        *out++ = '=';
    } else if (size == 2) {
        *out++ = kAlphabet[in[0] >> 2];
        *out++ = kAlphabet[((in[0] & 3) << 4) | (in[1] >> 4)];
        *out++ = kAlphabet[(in[1] & 15) << 2];
        *out++ = '=';
    }
    return out;
}

inline char* EncodeLine(const std::uint8_t* in, std::size_t size, char* out) {
    const std::size_t full = size - size % 3;
    out = EncodeGroups(in, full, out);
    out = EncodeTail(in + full, size - full, out);
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

}  // namespace

std::string Base64EncodeLine(std::span<const std::uint8_t> block) {
    std::string line((block.size() + 2) / 3 * 4 + 2, '\0');
    EncodeLine(block.data(), block.size(), line.data());
    return line;
}

void Base64EncodeLines(std::span<const std::uint8_t> data, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + Base64LinesSize(data.size()));
    char* at = out.data() + start;
    const std::uint8_t* in = data.data();
    std::size_t left = data.size();
    while (left >= kBase64LineBytes) {
        at = EncodeGroups(in, kBase64LineBytes, at);
        *at++ = '\r';
        *at++ = '\n';
        in += kBase64LineBytes;
        left -= kBase64LineBytes;
    }
    if (left > 0) EncodeLine(in, left, at);
}

}  // namespace quillpost

namespace quillpost {

std::string Base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t group = 0;
    int bits = 0;
    for (const char c : text) {
        int value;
        if (c >= 'A' && c <= 'Z') value = c - 'A';
        else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
        else if (c >= '0' && c <= '9') value = c - '0' + 52;
        else if (c == '+') value = 62;
        else if (c == '/') value = 63;
        else if (c == '=') break;
        else continue;  // line breaks and blanks carry nothing
        group = group << 6 | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(group >> bits & 0xFF);
        }
    }
    return out;
}

}  // namespace quillpost
