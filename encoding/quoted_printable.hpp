// Quoted-printable (RFC 2045 6.7), one line of text at a time, so that a
// body of any size is encoded in one pass with a bounded buffer.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace quillpost {

// RFC 2045 6.7 (5): encoded lines are at most 76 characters long.
inline constexpr std::size_t kQuotedPrintableLineLength = 76;

class QuotedPrintableEncoder {
public:
    // `emit` takes the encoded text in pieces of whole lines, each ending
    // with a line break (hard or soft): a piece is handed on at the first
    // line end after `flushAt` characters have gathered, and by Flush.
    explicit QuotedPrintableEncoder(std::function<void(std::string_view)> emit, std::size_t flushAt = 64 * 1024);

    // Encodes one line of text, given without its line break: printable
    // ASCII but "=" as it is, every other byte as "=" and two upper-case
    // hexadecimal digits, a blank or tab at the end of the line encoded too
    // (RFC 2045 6.7 (3)). Lines longer than 76 characters are cut by soft
    // breaks ("=" and a line break), never inside an "=XX" and never inside
    // the bytes of one UTF-8 character; the line ends with "\r\n".
    void Line(std::string_view line);
    // Hands on what is held.
    void Flush();

private:
    std::function<void(std::string_view)> emit_;
    std::size_t flushAt_;
    std::string out_;
};

}  // namespace quillpost
