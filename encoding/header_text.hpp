// Header text beyond ASCII: RFC 2047 encoded words for header values and
// display names, RFC 2231 parameter values for file names. Both fold their
// output so that header lines stay within 78 characters (RFC 5322 2.1.1).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillpost {

// The longest header line that a fold can keep a line within, without its
// line break (RFC 5322 2.1.1).
inline constexpr std::size_t kHeaderLineLength = 78;

// Valid UTF-8 `text` as "B"-encoded UTF-8 words ("=?utf-8?B?...?="), each at
// most 75 characters long (RFC 2047 2) and holding whole characters only, so
// that every word decodes to text of its own. Each word takes as much text
// as fits on its line; the next one follows a fold ("\r\n "), which a
// reader drops between two encoded words (RFC 2047 6.2). `column` is the
// number of characters already on the line before the first word; when not
// even one character fits there, the text begins with a fold.
std::string EncodeWords(std::string_view text, std::size_t column);

// The RFC 2231 form of parameter `attribute` with valid UTF-8 `value`:
// `attribute*=utf-8''` and the value percent-encoded (RFC 2231 4), or, when
// that would not fit on a line of its own after one blank, numbered sections
// `attribute*0*=utf-8''...;`, `attribute*1*=...` (RFC 2231 3), each on a line
// of its own after a fold, never cutting a character.
std::string ExtendedParameter(std::string_view attribute, std::string_view value);

}  // namespace quillpost
