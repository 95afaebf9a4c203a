#include "mailer/sending.hpp"

namespace quillpost {

namespace {

constexpr std::string_view kCrLf = "\r\n";

}  // namespace

void SendBodyLines(Exchange& exchange, std::string_view body) {
    // A lone carriage return or line feed ends a line as a full line break
    // does: left alone, it would let a body hide a line with a single period
    // (which some servers take as the end of the data) and display
    // differently from server to server.
    std::string line;
    for (;;) {
        const std::size_t end = body.find_first_of("\r\n");
        const std::string_view piece = body.substr(0, end);
        line.assign(piece.starts_with('.') ? "." : "");
        line += piece;
        line += kCrLf;
        exchange.SendText(line);
        // The last piece is sent too, empty when the text ends with a break.
        if (end == std::string_view::npos) return;
        const bool crLf = body[end] == '\r' && end + 1 < body.size() && body[end + 1] == '\n';
        body.remove_prefix(end + (crLf ? 2 : 1));
    }
}

void SendMimeBody(Message& message, Exchange& exchange, const MimeLayout& layout) {
    const bool hasText = !message.TextBody().empty();
    const bool hasHtml = !message.HtmlBody().empty();
    const bool both = hasText && hasHtml;
    const std::string alt(layout.altBoundary);
    const std::string mix(layout.mixBoundary);

    exchange.SendHeader("MIME-Version", "1.0");
    if (message.Attachments()->Count() > 0) {
        exchange.SendHeader("Content-Type", "multipart/mixed; boundary=\"" + mix + "\"");
        exchange.SendText(kCrLf);
        exchange.SendText("This is a multi-part message in MIME format.\r\n\r\n");
        exchange.SendText("--" + mix + "\r\n");
    }
    if (both) {
        exchange.SendHeader("Content-Type", "multipart/alternative; boundary=\"" + alt + "\"");
        exchange.SendText(kCrLf);
        exchange.SendText("\r\n--" + alt + "\r\n");
    }
    if (hasText) {
        exchange.SendHeader("Content-Type", std::string(layout.contentType) + "; charset=" + std::string(layout.charset));
        exchange.SendText(kCrLf);
        SendBodyLines(exchange, message.TextBody());
    }
    if (both) {
        exchange.SendText(kCrLf);
        exchange.SendText("\r\n--" + alt + "\r\n");
    }
    if (hasHtml) {
        exchange.SendHeader("Content-Type", "text/html");
        exchange.SendText(kCrLf);
        SendBodyLines(exchange, message.HtmlBody());
        if (both) {
            exchange.SendText(kCrLf);
            exchange.SendText("--" + alt + "--\r\n\r\n");
        }
    }
}

}  // namespace quillpost
