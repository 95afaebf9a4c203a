#include <quillpost/base64.hpp>

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace quillpost;

namespace {

std::string Line(std::initializer_list<std::uint8_t> bytes) {
    std::vector<std::uint8_t> v(bytes);
    return Base64EncodeLine(v);
}

// A plain reference decoder, to check the encoder against round trips.
std::vector<std::uint8_t> Decode(const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::uint8_t> out;
    std::uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        const auto at = alphabet.find(c);
        if (at == std::string::npos) continue;  // line ends and padding
        acc = (acc << 6) | static_cast<std::uint32_t>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> bits));
        }
    }
    return out;
}

}  // namespace

TEST(Base64EncodeLine, KnownBlocks) {
    EXPECT_EQ(Line({'a', 'b', 'c'}), "YWJj\r\n");
    EXPECT_EQ(Line({0}), "AA==\r\n");
    EXPECT_EQ(Line({0, 0}), "AAA=\r\n");
    EXPECT_EQ(Line({0, 0, 0}), "AAAA\r\n");
    EXPECT_EQ(Line({251, 239, 255}), "++//\r\n");
    EXPECT_EQ(Line({255, 255, 255}), "////\r\n");
    EXPECT_EQ(Base64EncodeLine({}), "\r\n");
}

TEST(Base64EncodeLine, FullBlockIs76Characters) {
    std::vector<std::uint8_t> block(57, 0x5A);
    EXPECT_EQ(Base64EncodeLine(block).size(), 78u);
    block.resize(1);
    EXPECT_EQ(Base64EncodeLine(block).size(), 6u);
}

TEST(Base64EncodeLines, MatchesTheLineEncoderBlockByBlock) {
    std::mt19937 rng(7);
    for (std::size_t size : {0u, 1u, 2u, 3u, 56u, 57u, 58u, 114u, 115u, 1000u, 4096u}) {
        std::vector<std::uint8_t> data(size);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());
        std::string expected;
        for (std::size_t at = 0; at < size; at += 57) {
            const std::size_t n = std::min<std::size_t>(57, size - at);
            expected += Base64EncodeLine(std::span(data).subspan(at, n));
        }
        std::string out = "prefix";
        Base64EncodeLines(data, out);
        EXPECT_EQ(out, "prefix" + expected) << "size " << size;
        EXPECT_EQ(out.size() - 6, Base64LinesSize(size));
        EXPECT_EQ(Decode(out.substr(6)), data);
    }
}

TEST(Base64EncodeLines, EveryByteValueRoundTrips) {
    std::vector<std::uint8_t> data(256 * 3);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    std::string out;
    Base64EncodeLines(data, out);
    EXPECT_EQ(Decode(out), data);
    for (std::size_t line = 0; line + 78 <= out.size(); line += 78) EXPECT_EQ(out.substr(line + 76, 2), "\r\n");
}
