#include "encoding/quoted_printable.hpp"

#include "encoding/utf8.hpp"

#include <utility>

namespace quillpost {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool IsLiteral(unsigned char c) { return c >= 33 && c <= 126 && c != '='; }
bool IsBlank(unsigned char c) { return c == ' ' || c == '\t'; }

// The bytes that stay together on one encoded line, beginning at `at`: a
// whole UTF-8 character, else one byte.
std::size_t UnitLength(std::string_view line, std::size_t at) {
    const std::size_t length = Utf8SequenceLength(static_cast<unsigned char>(line[at]));
    if (length > line.size() - at) return 1;
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(line[at + k]) & 0xC0) != 0x80) return 1;
    return length;
}

}  // namespace

QuotedPrintableEncoder::QuotedPrintableEncoder(std::function<void(std::string_view)> emit, std::size_t flushAt)
    : emit_(std::move(emit)), flushAt_(flushAt) {}

void QuotedPrintableEncoder::Line(std::string_view line) {
    std::size_t column = 0;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t length = UnitLength(line, at);
        const bool last = at + length == line.size();
        const auto first = static_cast<unsigned char>(line[at]);
        // A blank stays literal unless it ends the line: a trailing blank
        // may be removed on the way (RFC 2045 6.7 (3)).
        const bool literal = length == 1 && (IsLiteral(first) || (IsBlank(first) && !last));
        const std::size_t width = literal ? 1 : 3 * length;
        // A line that goes on needs room for its soft break's "=".
        const std::size_t limit = last ? kQuotedPrintableLineLength : kQuotedPrintableLineLength - 1;
        if (column > 0 && column + width > limit) {
            out_ += "=\r\n";
            column = 0;
            // Handed on at a soft break, so that a long line needs no more
            // than the buffer, and the lines do not depend on its size.
            if (out_.size() >= flushAt_) Flush();
        }
        if (literal) {
            out_ += static_cast<char>(first);
        } else {
            for (std::size_t k = 0; k < length; ++k) {
                const auto c = static_cast<unsigned char>(line[at + k]);
                out_ += '=';
                out_ += kHex[c >> 4];
                out_ += kHex[c & 15];
            }
        }
        column += width;
        at += length;
    }
    out_ += "\r\n";
    if (out_.size() >= flushAt_) Flush();
}

void QuotedPrintableEncoder::Flush() {
    if (out_.empty()) return;
    emit_(out_);
    out_.clear();
}

}  // namespace quillpost
