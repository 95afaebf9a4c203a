// The MIME structure of one message: the MIME header lines that complete the
// header block, the text and HTML bodies (alone, or both as alternatives),
// and the attachment parts inside a mixed structure. One writer serves one
// send and owns the two boundaries made for it.
#pragma once

#include "smtp/data_stream.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace quillpost {

// The boundary clock text: seconds since local midnight as a 32-bit float,
// at most seven significant digits, the decimal point written as "_".
std::string BoundaryClockText(float secondsSinceMidnight);

// The MIME header lines that WriteBodies puts into the message's own header
// block for these bodies: "MIME-Version", then "Content-Type" and
// "Content-Transfer-Encoding" where the message has them.
std::vector<std::string_view> MimeHeaderNames(std::string_view text, std::string_view html, bool attachmentsFollow);

// The two boundaries of one send, made from the local clock, the
// alternative one first.
struct MimeBoundaries {
    std::string alt;
    std::string mix;
};
MimeBoundaries NewMimeBoundaries();

class MimeWriter {
public:
    // Makes the boundaries from the local clock.
    explicit MimeWriter(DataSink& out);
    // Uses boundaries made before, so that the same content can be written
    // twice (once to be counted and signed, once onto the wire).
    MimeWriter(DataSink& out, const MimeBoundaries& boundaries);

    // Both boundaries begin with two hyphens of their own, so every
    // delimiter line begins with four.
    const std::string& MixBoundary() const { return mix_; }
    const std::string& AltBoundary() const { return alt_; }

    // The MIME header lines and the bodies; an empty body has no part. With
    // attachments to follow, everything goes inside a mixed structure whose
    // first part holds the bodies.
    void WriteBodies(std::string_view text, std::string_view html, bool attachmentsFollow);
    // One attachment part: delimiter, three header lines, the file in Base64.
    // A name beyond ASCII goes into the disposition in RFC 2231 form and
    // into the content type as RFC 2047 encoded words.
    void WriteAttachment(const std::string& path);
    // Closes the mixed structure, when there is one.
    void Close();

private:
    void Header(std::string_view name, std::string_view value);
    // The lines of a body text: every carriage return and line feed, alone
    // or as a pair, ends a line, and every line goes out with a full line
    // break.
    void BodyLines(std::string_view body);
    // The same lines, quoted-printable.
    void QuotedPrintableLines(std::string_view body);
    // The header lines of one body and its lines: as they are, with
    // `asciiParameters` after the type, for ASCII text whose lines are at
    // most 998 characters; else labelled UTF-8 and quoted-printable.
    void BodyPart(std::string_view type, std::string_view asciiParameters, std::string_view body);

    DataSink& out_;
    std::string alt_;
    std::string mix_;
    bool mixed_ = false;
};

}  // namespace quillpost
