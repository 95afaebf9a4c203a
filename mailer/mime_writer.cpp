#include "mailer/mime_writer.hpp"

#include "mailer/attachment_file.hpp"
#include "mailer/header_block.hpp"
#include "platform/local_time.hpp"

#include <cmath>
#include <cstdio>

namespace quillpost {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kTextType = "text/plain";
constexpr std::string_view kTextCharset = "us-ascii";

std::string Boundary(std::string_view stem) {
    return std::string(stem) + BoundaryClockText(static_cast<float>(SecondsSinceLocalMidnight()));
}

}  // namespace

std::string BoundaryClockText(float seconds) {
    // At most seven significant digits, never an exponent.
    int integerDigits = 1;
    for (double limit = 10; std::fabs(seconds) >= limit && integerDigits < 7; limit *= 10) ++integerDigits;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", 7 - integerDigits, static_cast<double>(seconds));
    std::string out(text);
    if (out.find('.') != std::string::npos) {
        while (out.back() == '0') out.pop_back();
        if (out.back() == '.') out.pop_back();
    }
    for (char& c : out)
        if (c == '.') c = '_';
    return out;
}

MimeWriter::MimeWriter(DataSink& out)
    : out_(out), alt_(Boundary("--QP_AltBoundary_")), mix_(Boundary("--QP_MixBoundary_")) {}

void MimeWriter::Header(std::string_view name, std::string_view value) { out_.Write(HeaderLine(name, value)); }

void MimeWriter::BodyLines(std::string_view body) {
    // A lone carriage return or line feed ends a line as a full line break
    // does: left alone, it would let a body hide a line with a single period
    // (which some servers take as the end of the data) and display
    // differently from server to server.
    std::string line;
    for (;;) {
        const std::size_t end = body.find_first_of("\r\n");
        line.assign(body.substr(0, end));
        line += kCrLf;
        out_.Write(line);
        // The last piece is sent too, empty when the text ends with a break.
        if (end == std::string_view::npos) return;
        const bool crLf = body[end] == '\r' && end + 1 < body.size() && body[end + 1] == '\n';
        body.remove_prefix(end + (crLf ? 2 : 1));
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
    if (!text.empty()) {
        Header("Content-Type", std::string(kTextType) + "; charset=" + std::string(kTextCharset));
        out_.Write(kCrLf);
        BodyLines(text);
    }
    if (both) {
        out_.Write(kCrLf);
        out_.Write("\r\n--" + alt_ + "\r\n");
    }
    if (!html.empty()) {
        Header("Content-Type", "text/html");
        out_.Write(kCrLf);
        BodyLines(html);
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
    Header("Content-Type", type + "; Name = \"" + name + "\"");
    Header("Content-Transfer-Encoding", "base64");
    Header("Content-Disposition", "attachment; FileName = \"" + name + "\"");
    out_.Write(kCrLf);
    WriteFileAsBase64(out_, path);
    out_.Write(kCrLf);
}

void MimeWriter::Close() {
    if (mixed_) out_.Write("--" + mix_ + "--\r\n");
    mixed_ = false;
}

}  // namespace quillpost
