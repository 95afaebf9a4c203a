// UTF-8 text as the component holds it: whether a text needs more than
// ASCII, whether it is well formed, and where its characters begin.
#pragma once

#include <cstddef>
#include <string_view>

namespace quillpost {

// True when every byte is below 0x80: such text goes into a header line, a
// body or an SMTP command as it is. The envelope needs SMTPUTF8 (RFC 6531)
// only for addresses where this is false.
bool IsAscii(std::string_view text) noexcept;

// True for well-formed UTF-8 (RFC 3629 4): no overlong form, no surrogate
// (U+D800 to U+DFFF), nothing above U+10FFFF, no sequence cut short and no
// stray continuation byte.
bool IsValidUtf8(std::string_view text) noexcept;

// The length of the character that begins with `lead` as its lead byte
// announces it (1 for ASCII, 2 to 4 for a lead byte of a longer sequence),
// and 1 for a byte that cannot begin a character.
std::size_t Utf8SequenceLength(unsigned char lead) noexcept;

// How many bytes from the start of valid UTF-8 `text` make whole characters
// and add up to at most `limit`.
std::size_t WholeCharactersWithin(std::string_view text, std::size_t limit) noexcept;

}  // namespace quillpost
