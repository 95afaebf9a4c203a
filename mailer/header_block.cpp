#include "mailer/header_block.hpp"

#include <quillpost/detail/date.hpp>

#include "platform/local_time.hpp"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace quillpost {

std::string HeaderLine(std::string_view name, std::string_view value) {
    std::string line(name);
    line += !name.empty() && name.back() == ':' ? " " : ": ";
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

namespace {

// One header line listing every address of `list`, continuation lines
// folded with a comma, a line break and a blank; nothing for an empty list.
void WriteAddressHeader(DataSink& out, std::string_view headerName, const std::vector<Snapshot::Address>& list) {
    if (list.empty()) return;
    std::string value;
    std::string_view separator;
    for (const auto& r : list) {
        value += separator;
        value += FormatAddress(r.name);
        value += '<';
        value += r.address;
        value += '>';
        separator = ",\r\n ";
    }
    out.Write(HeaderLine(std::string(headerName) + ":", value));
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
    out.Write(HeaderLine("From", FormatAddress(m.fromName) + "<" + m.fromAddress + ">"));
    out.Write(HeaderLine("Subject", m.subject));
    WriteAddressHeader(out, "To", m.recipients);
    WriteAddressHeader(out, "Cc", m.ccs);
    // Blind copies get their envelope recipients only: a "Bcc" line would
    // show every recipient what the blind copies are meant to hide.
    if (!m.organization.empty()) out.Write(HeaderLine("Organization", m.organization));
    out.Write(HeaderLine("X-Mailer", m.application));
    if (m.priority != QP_PRIORITY_NONE) {
        const std::string priority = std::to_string(m.priority);
        out.Write(HeaderLine("X-Priority", priority));
        out.Write(HeaderLine("X-MSMail-Priority", priority));
    }
    if (m.confirmReading) out.Write(HeaderLine("Disposition-Notification-To", m.fromAddress));
    for (const auto& header : m.extraHeaders) out.Write(HeaderLine(header.name, header.value));
}

}  // namespace quillpost
