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
    auto sendLine = [&] {
        if (!line.empty() && line.front() == '.') line.insert(line.begin(), '.');
        line += kCrLf;
        exchange.SendText(line);
        line.clear();
    };
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '\r') {
            if (i + 1 < body.size() && body[i + 1] == '\n') ++i;
            sendLine();
        } else if (c == '\n') {
            sendLine();
        } else {
            line += c;
        }
    }
    // The last piece, empty when the text ends with a line break.
    sendLine();
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
