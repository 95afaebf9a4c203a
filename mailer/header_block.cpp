#include "mailer/header_block.hpp"

#include <quillpost/detail/date.hpp>

#include <quillpost/detail/text.hpp>

#include "encoding/header_text.hpp"
#include "encoding/idn.hpp"
#include "encoding/utf8.hpp"
#include "mailer/message_id.hpp"
#include "platform/local_time.hpp"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <optional>

namespace quillpost {

namespace {

// What stands before a header line's value: the name, and ": " or, for a
// name that ends with a colon already, one blank.
std::string HeaderPrefix(std::string_view name) {
    std::string prefix(name);
    prefix += !name.empty() && name.back() == ':' ? " " : ": ";
    return prefix;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

constexpr std::string_view kCrLf = "\r\n";

// Where FoldLine breaks `line` (one line, no line break): before the last
// blank from `from` on that begins a run of blanks with more than blanks
// after it, within the first 78 characters, or else the first such blank
// after them; npos when there is none.
std::size_t FoldPoint(std::string_view line, std::size_t from) {
    std::size_t best = std::string_view::npos;
    for (std::size_t i = std::max<std::size_t>(from, 1); i < line.size(); ++i) {
        if (!IsBlank(line[i]) || IsBlank(line[i - 1])) continue;
        std::size_t next = i;
        while (next < line.size() && IsBlank(line[next])) ++next;
        if (next == line.size()) break;
        if (i > kHeaderLineLength) return best == std::string_view::npos ? i : best;
        best = i;
        i = next;
    }
    return best;
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
    line += kCrLf;
    return FoldLine(line);
}

std::string FoldLine(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    // The blank after the name's colon stays: a fold there would leave the
    // name alone on its line and shorten no line of the value.
    const std::size_t colon = text.find(':');
    std::size_t from = colon == std::string_view::npos ? 0 : colon + 2;
    while (!text.empty()) {
        const std::size_t end = text.find(kCrLf);
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + kCrLf.size());
        while (line.size() > kHeaderLineLength) {
            const std::size_t fold = FoldPoint(line, from);
            from = 0;
            if (fold == std::string_view::npos) break;
            out += line.substr(0, fold);
            out += kCrLf;
            line.remove_prefix(fold);
        }
        out += line;
        out += kCrLf;
        from = 0;
    }
    return out;
}

std::size_t LongestLine(std::string_view text) {
    std::size_t longest = 0;
    for (;;) {
        const std::size_t end = text.find(kCrLf);
        longest = std::max(longest, std::min(end, text.size()));
        if (end == std::string_view::npos) return longest;
        text.remove_prefix(end + kCrLf.size());
    }
}

std::size_t LongestRun(std::string_view text) {
    std::size_t longest = 0;
    std::size_t run = 0;
    for (const char c : text) {
        run = IsBlank(c) ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

std::string Quote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string FormatAddress(std::string_view name) {
    if (name.empty()) return {};
    return Quote(name) + " ";
}

std::string TextHeaderLine(std::string_view name, std::string_view value) {
    if (IsAscii(value)) {
        std::string line = HeaderLine(name, value);
        if (LongestLine(line) <= kLongestLine) return line;
        // A run with no blank to fold at: encoded words may be split
        // anywhere (RFC 2047 2), and a reader joins them again.
    }
    const std::string prefix = HeaderPrefix(name);
    return prefix + EncodeWords(value, prefix.size()) + std::string(kCrLf);
}

std::string Mailbox(std::string_view name, std::string_view address, std::size_t column) {
    std::string angled;
    angled.reserve(address.size() + 2);
    angled += '<';
    angled += address;
    angled += '>';
    // Folded, the quoted name's longest run stands on a line of its own
    // after one blank, or at `column`, with at most a comma after it.
    if (IsAscii(name) && std::max<std::size_t>(column, 1) + LongestRun(Quote(name)) + 1 <= kLongestLine)
        return FormatAddress(name) + angled;
    std::string out = EncodeWords(name, column);
    // The blank, the address and a comma that may follow it.
    const bool fits = LastLineEnd(out, column) + 1 + angled.size() + 1 <= kHeaderLineLength;
    out += fits ? " " : "\r\n ";
    return out + angled;
}

namespace {

// One header line listing every address of `list`, continuation lines
// folded with a comma, a line break and a blank; nothing for an empty list.
void AddAddressHeader(std::vector<std::string>& out, std::string_view headerName,
                      const std::vector<Snapshot::Address>& list) {
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
    out.push_back(FoldLine(prefix + value + std::string(kCrLf)));
}

// RFC 5322 3.2.3 dot-atom-text: atext in runs between single dots.
bool IsDotAtomText(std::string_view text) {
    constexpr std::string_view kSpecials = "!#$%&'*+-/=?^_`{|}~";
    if (text.empty() || text.front() == '.' || text.back() == '.') return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (c == '.' ? text[i - 1] == '.' : !alphanumeric && kSpecials.find(c) == std::string_view::npos)
            return false;
    }
    return true;
}

// The extra header named `name` (letter case and a closing colon ignored).
const Snapshot::HeaderField* FindExtra(const Snapshot& m, std::string_view name) {
    for (const auto& h : m.extraHeaders) {
        std::string_view field = h.name;
        if (field.ends_with(':')) field.remove_suffix(1);
        if (EqualsFolded(field, name)) return &h;
    }
    return nullptr;
}

}  // namespace

std::string DateText(double dateTime, std::int32_t offsetMinutes) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const DateParts p = SplitDate(dateTime);
    const int offset = std::abs(offsetMinutes);
    // "Sun, 06 Dec 2026 22:20:18 +0530": every number has its fixed width.
    std::string text;
    text.reserve(31);
    const auto digits = [&text](int value, int width) {
        char buffer[8];
        for (int i = width - 1; i >= 0; --i, value /= 10) buffer[i] = static_cast<char>('0' + value % 10);
        text.append(buffer, static_cast<std::size_t>(width));
    };
    text.append(kDays[p.weekday]).append(", ");
    digits(p.day, 2);
    text.append(" ").append(kMonths[p.month - 1]).append(" ");
    digits(p.year, 4);
    text += ' ';
    digits(p.hour, 2);
    text += ':';
    digits(p.minute, 2);
    text += ':';
    digits(p.second, 2);
    text.append(offsetMinutes < 0 ? " -" : " +");
    digits(offset / 60, 2);
    digits(offset % 60, 2);
    return text;
}

std::string MessageIdFor(std::string_view fromAddress) {
    const std::size_t at = fromAddress.rfind('@');
    if (at == std::string_view::npos) return NewMessageId({});
    const std::optional<std::string> domain = DomainToAscii(fromAddress.substr(at + 1));
    return NewMessageId(domain && IsDotAtomText(*domain) ? *domain : std::string());
}

std::vector<std::string> HeaderBlockLines(const Snapshot& m) {
    std::vector<std::string> lines;
    const auto extraLine = [](const Snapshot::HeaderField& h) { return TextHeaderLine(h.name, h.value); };
    AddAddressHeader(lines, "Reply-To", m.replyTos);
    const Snapshot::HeaderField* date = FindExtra(m, "Date");
    const auto offset = [&m] { return m.dateOffset ? *m.dateOffset : TimeZoneOffset(m.dateTime); };
    lines.push_back(date ? extraLine(*date) : HeaderLine("Date", DateText(m.dateTime, offset())));
    // RFC 5322 3.6.4: every message should have one; some receivers refuse
    // mail without it.
    const Snapshot::HeaderField* id = FindExtra(m, "Message-ID");
    lines.push_back(id ? extraLine(*id) : HeaderLine("Message-ID", MessageIdFor(m.fromAddress)));
    lines.push_back(HeaderLine("From", Mailbox(m.fromName, m.fromAddress, HeaderPrefix("From").size())));
    lines.push_back(TextHeaderLine("Subject", m.subject));
    AddAddressHeader(lines, "To", m.recipients);
    AddAddressHeader(lines, "Cc", m.ccs);
    // Blind copies get their envelope recipients only: a "Bcc" line would
    // show every recipient what the blind copies are meant to hide.
    if (!m.organization.empty()) lines.push_back(TextHeaderLine("Organization", m.organization));
    lines.push_back(TextHeaderLine("X-Mailer", m.application));
    if (m.priority != QP_PRIORITY_NONE) {
        const std::string priority = std::to_string(m.priority);
        lines.push_back(HeaderLine("X-Priority", priority));
        lines.push_back(HeaderLine("X-MSMail-Priority", priority));
    }
    if (m.confirmReading) lines.push_back(HeaderLine("Disposition-Notification-To", m.fromAddress));
    for (const auto& header : m.extraHeaders)
        if (&header != date && &header != id) lines.push_back(extraLine(header));
    return lines;
}

void WriteHeaderBlock(const Snapshot& m, DataSink& out) {
    for (const std::string& line : HeaderBlockLines(m)) out.Write(line);
}

}  // namespace quillpost
