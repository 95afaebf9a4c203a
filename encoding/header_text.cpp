#include "encoding/header_text.hpp"

#include "encoding/utf8.hpp"

#include <quillpost/base64.hpp>

#include <algorithm>
#include <span>

namespace quillpost {

namespace {

constexpr std::string_view kFold = "\r\n ";
constexpr std::string_view kWordStart = "=?utf-8?B?";
constexpr std::string_view kWordEnd = "?=";
// RFC 2047 2: an encoded word is at most 75 characters.
constexpr std::size_t kLongestWord = 75;
constexpr std::string_view kCharsetPrefix = "utf-8''";

// The most bytes whose Base64 fits a word of `room` characters.
std::size_t WordPayload(std::size_t room) {
    const std::size_t overhead = kWordStart.size() + kWordEnd.size();
    return room < overhead ? 0 : (room - overhead) / 4 * 3;
}

std::string Word(std::string_view bytes) {
    std::string base64 =
        Base64EncodeLine(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    base64.resize(base64.size() - 2);  // the line break
    return std::string(kWordStart) + base64 + std::string(kWordEnd);
}

// RFC 2231 4 with RFC 2045 5.1: attribute-char is any printable ASCII
// character except blank, "*", "'", "%" and the characters that separate
// parameters and values; everything else is written as "%" and two
// hexadecimal digits.
bool IsAttributeChar(unsigned char c) {
    if (c <= 0x20 || c >= 0x7F) return false;
    return std::string_view("*'%()<>@,;:\\\"/[]?=").find(static_cast<char>(c)) == std::string_view::npos;
}

void AppendPercentEncoded(std::string_view character, std::string& out) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char ch : character) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsAttributeChar(c)) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
}

}  // namespace

std::string EncodeWords(std::string_view text, std::size_t column) {
    std::string out;
    while (!text.empty()) {
        const std::size_t room =
            std::min(kLongestWord, column < kHeaderLineLength ? kHeaderLineLength - column : 0);
        std::size_t take = WholeCharactersWithin(text, WordPayload(room));
        if (take == 0 && column > 1) {
            // A fold leaves one blank on the new line, where any character
            // fits a word. Each word fills its line, so the words after the
            // first one begin after a fold too.
            out += kFold;
            column = 1;
            continue;
        }
        // Only for text that is not valid UTF-8: one byte goes by itself.
        if (take == 0) take = std::min(Utf8SequenceLength(static_cast<unsigned char>(text.front())), text.size());
        const std::string word = Word(text.substr(0, take));
        out += word;
        column += word.size();
        text.remove_prefix(take);
    }
    return out;
}

std::string ExtendedParameter(std::string_view attribute, std::string_view value) {
    std::string whole(attribute);
    whole += "*=";
    whole += kCharsetPrefix;
    AppendPercentEncoded(value, whole);
    if (1 + whole.size() <= kHeaderLineLength) return whole;

    // Numbered sections, one a line: a blank, "attribute*N*=", the piece and
    // the ";" that separates it from the next section.
    std::string out;
    std::string section;
    std::size_t number = 0;
    auto startSection = [&] {
        section.assign(attribute);
        section += '*';
        section += std::to_string(number);
        section += "*=";
        if (number == 0) section += kCharsetPrefix;
    };
    auto endSection = [&] {
        if (number > 0) {
            out += ';';
            out += kFold;
        }
        out += section;
        ++number;
    };
    startSection();
    std::size_t pieceStart = section.size();
    std::string encoded;
    while (!value.empty()) {
        const std::size_t length = std::min(Utf8SequenceLength(static_cast<unsigned char>(value.front())), value.size());
        encoded.clear();
        AppendPercentEncoded(value.substr(0, length), encoded);
        if (section.size() > pieceStart && 1 + section.size() + encoded.size() + 1 > kHeaderLineLength) {
            endSection();
            startSection();
            pieceStart = section.size();
        }
        section += encoded;
        value.remove_prefix(length);
    }
    endSection();
    return out;
}

}  // namespace quillpost
