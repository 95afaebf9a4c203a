#include "mailer/header_block.hpp"

#include <quillpost/detail/date.hpp>

#include "encoding/header_text.hpp"
#include "encoding/utf8.hpp"
#include "platform/local_time.hpp"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace quillpost {

namespace {

// What stands before a header line's value: the name, and ": " or, for a
// name that ends with a colon already, one blank.
std::string HeaderPrefix(std::string_view name) {
    std::string prefix(name);
    prefix += !name.empty() && name.back() == ':' ? " " : ": ";
    return prefix;
}

// The characters on the last line of `text` that begins at `column`.
std::size_t LastLineEnd(std::string_view text, std::size_t column) {
    const std::size_t fold = text.rfind('\n');
    return fold == std::string_view::npos ? column + text.size() : text.size() - fold - 1;
}

}  // namespace

std::string HeaderLine(std::string_view name, std::string_view value) {
    std::string line = HeaderPrefix(name);
    line += value;
    line += "\r\n";
    return line;
}

std::string Quote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    out += text;
    out += '"';
    return out;
}

std::string FormatAddress(std::string_view name) {
    if (name.empty()) return {};
    return Quote(name) + " ";
}

std::string TextHeaderLine(std::string_view name, std::string_view value) {
    if (IsAscii(value)) return HeaderLine(name, value);
    const std::string prefix = HeaderPrefix(name);
    return prefix + EncodeWords(value, prefix.size()) + "\r\n";
}

std::string Mailbox(std::string_view name, std::string_view address, std::size_t column) {
    std::string angled;
    angled.reserve(address.size() + 2);
    angled += '<';
    angled += address;
    angled += '>';
    if (IsAscii(name)) return FormatAddress(name) + angled;
    std::string out = EncodeWords(name, column);
    // The blank, the address and a comma that may follow it.
    const bool fits = LastLineEnd(out, column) + 1 + angled.size() + 1 <= kHeaderLineLength;
    out += fits ? " " : "\r\n ";
    return out + angled;
}

namespace {

// One header line listing every address of `list`, continuation lines
// folded with a comma, a line break and a blank; nothing for an empty list.
void WriteAddressHeader(DataSink& out, std::string_view headerName, const std::vector<Snapshot::Address>& list) {
    if (list.empty()) return;
    const std::string prefix = HeaderPrefix(std::string(headerName) + ":");
    std::string value;
    std::size_t column = prefix.size();
    for (const auto& r : list) {
        if (!value.empty()) {
            value += ",\r\n ";
            column = 1;
        }
        value += Mailbox(r.name, r.address, column);
    }
    out.Write(prefix + value + "\r\n");
}

}  // namespace

std::string DateText(double dateTime, std::int32_t offsetMinutes) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const DateParts p = SplitDate(dateTime);
    const int offset = std::abs(offsetMinutes);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", kDays[p.weekday], p.day,
                  kMonths[p.month - 1], p.year, p.hour, p.minute, p.second, offsetMinutes < 0 ? '-' : '+',
                  offset / 60, offset % 60);
    return text;
}

void WriteHeaderBlock(const Snapshot& m, DataSink& out) {
    WriteAddressHeader(out, "Reply-To", m.replyTos);
    out.Write(HeaderLine("Date", DateText(m.dateTime, TimeZoneOffset(m.dateTime))));
    out.Write(HeaderLine("From", Mailbox(m.fromName, m.fromAddress, HeaderPrefix("From").size())));
    out.Write(TextHeaderLine("Subject", m.subject));
    WriteAddressHeader(out, "To", m.recipients);
    WriteAddressHeader(out, "Cc", m.ccs);
    // Blind copies get their envelope recipients only: a "Bcc" line would
    // show every recipient what the blind copies are meant to hide.
    if (!m.organization.empty()) out.Write(TextHeaderLine("Organization", m.organization));
    out.Write(TextHeaderLine("X-Mailer", m.application));
    if (m.priority != QP_PRIORITY_NONE) {
        const std::string priority = std::to_string(m.priority);
        out.Write(HeaderLine("X-Priority", priority));
        out.Write(HeaderLine("X-MSMail-Priority", priority));
    }
    if (m.confirmReading) out.Write(HeaderLine("Disposition-Notification-To", m.fromAddress));
    for (const auto& header : m.extraHeaders) out.Write(TextHeaderLine(header.name, header.value));
}

}  // namespace quillpost
