#include <quillpost/detail/date.hpp>
#include "mailer/sending.hpp"
#include "platform/local_time.hpp"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace quillpost {

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

void SendAddressHeader(Exchange& exchange, std::string_view headerName, Recipients& list) {
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
    exchange.SendHeader(std::string(headerName) + ":", value);
}

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

void SendHeaderBlock(Message& message, Exchange& exchange) {
    SendAddressHeader(exchange, "Reply-To", *message.ReplyTos());
    exchange.SendHeader("Date", DateText(message.DateTime(), TimeZoneOffset(message.DateTime())));
    exchange.SendHeader("From", FormatAddress(message.FromName()) + "<" + message.FromAddress() + ">");
    exchange.SendHeader("Subject", message.Subject());
    SendAddressHeader(exchange, "To", *message.Recipients());
    SendAddressHeader(exchange, "Cc", *message.CCs());
    // Blind copies get their envelope recipients only: a "Bcc" line would
    // show every recipient what the blind copies are meant to hide.
    if (!message.Organization().empty()) exchange.SendHeader("Organization", message.Organization());
    exchange.SendHeader("X-Mailer", message.Application());
    if (message.Priority() != QP_PRIORITY_NONE) {
        const std::string priority = std::to_string(message.Priority());
        exchange.SendHeader("X-Priority", priority);
        exchange.SendHeader("X-MSMail-Priority", priority);
    }
    if (message.ConfirmReading()) exchange.SendHeader("Disposition-Notification-To", message.FromAddress());
    for (const auto& header : *message.ExtraHeaders()) exchange.SendHeader(header->Name(), header->Value());
}

}  // namespace quillpost
