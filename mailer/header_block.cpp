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
void WriteAddressHeader(DataSink& out, std::string_view headerName, Recipients& list) {
    if (list.Count() == 0) return;
    std::string value;
    std::string_view separator;
    for (const auto& r : list) {
        value += separator;
        value += FormatAddress(r->Name());
        value += '<';
        value += r->Address();
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

void WriteHeaderBlock(Message& message, DataSink& out) {
    WriteAddressHeader(out, "Reply-To", *message.ReplyTos());
    out.Write(HeaderLine("Date", DateText(message.DateTime(), TimeZoneOffset(message.DateTime()))));
    out.Write(HeaderLine("From", FormatAddress(message.FromName()) + "<" + message.FromAddress() + ">"));
    out.Write(HeaderLine("Subject", message.Subject()));
    WriteAddressHeader(out, "To", *message.Recipients());
    WriteAddressHeader(out, "Cc", *message.CCs());
    // Blind copies get their envelope recipients only: a "Bcc" line would
    // show every recipient what the blind copies are meant to hide.
    if (!message.Organization().empty()) out.Write(HeaderLine("Organization", message.Organization()));
    out.Write(HeaderLine("X-Mailer", message.Application()));
    if (message.Priority() != QP_PRIORITY_NONE) {
        const std::string priority = std::to_string(message.Priority());
        out.Write(HeaderLine("X-Priority", priority));
        out.Write(HeaderLine("X-MSMail-Priority", priority));
    }
    if (message.ConfirmReading()) out.Write(HeaderLine("Disposition-Notification-To", message.FromAddress()));
    for (const auto& header : *message.ExtraHeaders()) out.Write(HeaderLine(header->Name(), header->Value()));
}

}  // namespace quillpost
