// The header block of a message as it goes into the data section, and the
// header line that the MIME writer shares.
#pragma once

#include "mailer/snapshot.hpp"
#include "smtp/data_stream.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillpost {

// RFC 5322 2.1.1: no line of a message may pass 998 characters, its line
// break not counted.
inline constexpr std::size_t kLongestLine = 998;

// One header line: the name, ": " and the value, or one blank and the value
// when the name already ends with a colon, then a line break; folded by
// FoldLine.
std::string HeaderLine(std::string_view name, std::string_view value);
// RFC 5322 2.2.3: a header line (with its line break, perhaps folded
// already) with every line longer than 78 characters broken before a blank,
// the last blank that keeps the line within 78 or else the first one after;
// never so that a line holds blanks alone. Removing each inserted line break
// gives the line back, so the value is unchanged. A line whose text has no
// blank to break at stays long.
std::string FoldLine(std::string_view line);
// The length of the longest line of `text` (lines end with CRLF).
std::size_t LongestLine(std::string_view text);
// The length of the longest run of `text` without a blank or a tab.
std::size_t LongestRun(std::string_view text);
// RFC 5322 3.2.4: a double quote, the text with a backslash put before each
// backslash and double quote in it (a quoted-pair), a double quote, so that
// a reader gets the text back whatever it holds.
std::string Quote(std::string_view text);
// Quote(name) and a blank, or nothing for an empty name.
std::string FormatAddress(std::string_view name);
// A header line for a text value: HeaderLine(name, value) for ASCII that
// folds within 998 characters a line, else the value as RFC 2047 encoded
// words folded within 78 characters.
std::string TextHeaderLine(std::string_view name, std::string_view value);
// One mailbox of an address header that begins at `column`: an ASCII name
// as FormatAddress(name) + "<address>" (folded with the line); a name beyond
// ASCII, or one with a run too long for a line, as encoded words
// (never quoted: RFC 2047 5 (3) does not let a quoted string hold them), a
// blank or, when the address and a following comma would pass 78
// characters, a fold, then "<address>". The address goes out as it is.
std::string Mailbox(std::string_view name, std::string_view address, std::size_t column);
// "Sun, 06 Dec 2026 22:20:18 +0100" for a local automation date.
std::string DateText(double dateTime, std::int32_t offsetMinutes);
// The "Message-ID" value for a message from `fromAddress`: its domain in
// A-label form on the right, or the host's name when the address has no
// domain that could stand there.
std::string MessageIdFor(std::string_view fromAddress);
// The header block, from "Reply-To" to the extra header lines, each a
// finished line with its line break (folded where it needs to be). An extra
// header named "Date" or "Message-ID" takes the place of the line the block
// would make.
std::vector<std::string> HeaderBlockLines(const Snapshot& message);
// Writes HeaderBlockLines, one piece a line.
void WriteHeaderBlock(const Snapshot& message, DataSink& out);

// Raises 9993 when a value that becomes part of a header line or an SMTP
// command holds a carriage return or a line feed, then 9986 when any text
// that goes into the message (those values and the bodies) is not valid
// UTF-8; both name the property.
void CheckLineBreaks(const Snapshot& message);

// The refusals of the header block and the envelope, after CheckLineBreaks:
// 9979 for an extra header name that is not printable ASCII without a colon
// (RFC 5322 3.6.8 ftext; one colon at its end is the separator); 9987 for a
// line RFC 5322 3.6 allows once, or a MIME line the body writes, that the
// extra headers would put in the block twice. Then every address whose
// domain has labels beyond ASCII gets the domain's A-labels when its local
// part is ASCII, so that the server needs no SMTPUTF8 for it; a domain that
// has no A-label form raises 9986 naming the property.
void PrepareHeaders(Snapshot& message);

}  // namespace quillpost
