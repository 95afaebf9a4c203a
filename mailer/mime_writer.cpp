#include "mailer/mime_writer.hpp"

#include "encoding/header_text.hpp"
#include "encoding/quoted_printable.hpp"
#include "encoding/utf8.hpp"
#include "mailer/attachment_file.hpp"
#include "mailer/header_block.hpp"
#include "platform/local_time.hpp"

#include <cmath>
#include <charconv>

namespace quillpost {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kTextType = "text/plain";
constexpr std::string_view kTextCharset = "us-ascii";
constexpr std::string_view kHtmlType = "text/html";

std::string Boundary(std::string_view stem) {
    return std::string(stem) + BoundaryClockText(static_cast<float>(SecondsSinceLocalMidnight()));
}

// Calls `line` with every line of a body text, without its line break:
// every carriage return and line feed, alone or as a pair, ends a line, and
// the piece after the last one is a line too (empty when the text ends with
// a break).
template <class LineFunction>
void ForEachLine(std::string_view body, LineFunction&& line) {
    for (;;) {
        const std::size_t end = body.find_first_of("\r\n");
        line(body.substr(0, end));
        if (end == std::string_view::npos) return;
        const bool crLf = body[end] == '\r' && end + 1 < body.size() && body[end + 1] == '\n';
        body.remove_prefix(end + (crLf ? 2 : 1));
    }
}

// A body goes out as it is only when it is ASCII and no line is longer than
// a line may be; any other body is quoted-printable, which keeps the data
// section 7-bit for servers without 8BITMIME and every line within limits.
bool NeedsQuotedPrintable(std::string_view body) {
    if (!IsAscii(body)) return true;
    bool tooLong = false;
    ForEachLine(body, [&](std::string_view line) { tooLong = tooLong || line.size() > kLongestLine; });
    return tooLong;
}

}  // namespace

std::vector<std::string_view> MimeHeaderNames(std::string_view text, std::string_view html, bool attachmentsFollow) {
    std::vector<std::string_view> names{"MIME-Version"};
    // A multipart structure's header lines are its Content-Type alone; a
    // single body's lines are its own.
    const bool single = !attachmentsFollow && (text.empty() != html.empty());
    if (attachmentsFollow || !text.empty() || !html.empty()) names.push_back("Content-Type");
    if (single && NeedsQuotedPrintable(text.empty() ? html : text)) names.push_back("Content-Transfer-Encoding");
    return names;
}

std::string BoundaryClockText(float seconds) {
    // At most seven significant digits, never an exponent.
    int integerDigits = 1;
    for (double limit = 10; std::fabs(seconds) >= limit && integerDigits < 7; limit *= 10) ++integerDigits;
    // to_chars with a precision writes what printf's "%.*f" writes.
    char text[64];
    const auto written =
        std::to_chars(text, text + sizeof text, static_cast<double>(seconds), std::chars_format::fixed, 7 - integerDigits);
    std::string out(text, written.ptr);
    if (out.find('.') != std::string::npos) {
        while (out.back() == '0') out.pop_back();
        if (out.back() == '.') out.pop_back();
    }
    for (char& c : out)
        if (c == '.') c = '_';
    return out;
}

MimeBoundaries NewMimeBoundaries() {
    MimeBoundaries b;
    b.alt = Boundary("--QP_AltBoundary_");
    b.mix = Boundary("--QP_MixBoundary_");
    return b;
}

MimeWriter::MimeWriter(DataSink& out) : MimeWriter(out, NewMimeBoundaries()) {}

MimeWriter::MimeWriter(DataSink& out, const MimeBoundaries& boundaries)
    : out_(out), alt_(boundaries.alt), mix_(boundaries.mix) {}

void MimeWriter::Header(std::string_view name, std::string_view value) { out_.Write(HeaderLine(name, value)); }

void MimeWriter::BodyLines(std::string_view body) {
    // A lone carriage return or line feed ends a line as a full line break
    // does: left alone, it would let a body hide a line with a single period
    // (which some servers take as the end of the data) and display
    // differently from server to server.
    std::string text;
    ForEachLine(body, [&](std::string_view line) {
        text.assign(line);
        text += kCrLf;
        out_.Write(text);
    });
}

void MimeWriter::QuotedPrintableLines(std::string_view body) {
    // The same lines as BodyLines, each encoded on its own: the text's
    // line breaks stay line breaks (RFC 2045 6.7 (4)). Every encoded line is
    // handed on by itself, as the lines of a plain body and of Base64 are:
    // one trace entry a line.
    QuotedPrintableEncoder encoder([this](std::string_view line) { out_.Write(line); }, 0);
    ForEachLine(body, [&](std::string_view line) { encoder.Line(line); });
    encoder.Flush();
}

void MimeWriter::BodyPart(std::string_view type, std::string_view asciiParameters, std::string_view body) {
    if (NeedsQuotedPrintable(body)) {
        Header("Content-Type", std::string(type) + "; charset=utf-8");
        Header("Content-Transfer-Encoding", "quoted-printable");
        out_.Write(kCrLf);
        QuotedPrintableLines(body);
    } else {
        Header("Content-Type", std::string(type) + std::string(asciiParameters));
        out_.Write(kCrLf);
        BodyLines(body);
    }
}

void MimeWriter::WriteBodies(std::string_view text, std::string_view html, bool attachmentsFollow) {
    const bool both = !text.empty() && !html.empty();

    Header("MIME-Version", "1.0");
    if (attachmentsFollow) {
        mixed_ = true;
        Header("Content-Type", "multipart/mixed; boundary=\"" + mix_ + "\"");
        out_.Write(kCrLf);
        out_.Write("This is a multi-part message in MIME format.\r\n\r\n");
        out_.Write("--" + mix_ + "\r\n");
    }
    if (both) {
        Header("Content-Type", "multipart/alternative; boundary=\"" + alt_ + "\"");
        out_.Write(kCrLf);
        out_.Write("\r\n--" + alt_ + "\r\n");
    }
    if (!text.empty()) BodyPart(kTextType, "; charset=" + std::string(kTextCharset), text);
    if (both) {
        out_.Write(kCrLf);
        out_.Write("\r\n--" + alt_ + "\r\n");
    }
    if (!html.empty()) {
        BodyPart(kHtmlType, "", html);
        if (both) {
            out_.Write(kCrLf);
            out_.Write("--" + alt_ + "--\r\n\r\n");
        }
    }
}

void MimeWriter::WriteAttachment(const std::string& path) {
    const std::string name = ShortName(path);
    const std::string type = ContentTypeOf(path);
    out_.Write("--" + mix_ + "\r\n");
    // An ASCII name is quoted (its backslashes and double quotes as
    // quoted-pairs) and folded with its line; a run too long to fold goes
    // the way of a name beyond ASCII.
    const std::string quoted = Quote(name);
    if (IsAscii(name) && LongestRun(quoted) + 2 <= kLongestLine) {
        Header("Content-Type", type + "; Name = " + quoted);
        Header("Content-Transfer-Encoding", "base64");
        Header("Content-Disposition", "attachment; FileName = " + quoted);
    } else {
        // RFC 2231 is the standard form of a file name beyond ASCII; a
        // reader that predates it takes the name of the content type, where
        // RFC 2047 encoded words are what such readers decode.
        constexpr std::string_view kNameStart = "\r\n name=\"";
        Header("Content-Type", type + ";" + std::string(kNameStart) + EncodeWords(name, kNameStart.size() - 2) + "\"");
        Header("Content-Transfer-Encoding", "base64");
        Header("Content-Disposition", "attachment;\r\n " + ExtendedParameter("filename", name));
    }
    out_.Write(kCrLf);
    WriteFileAsBase64(out_, path);
    out_.Write(kCrLf);
}

void MimeWriter::Close() {
    if (mixed_) out_.Write("--" + mix_ + "--\r\n");
    mixed_ = false;
}

}  // namespace quillpost
