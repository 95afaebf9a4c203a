#include <quillpost/detail/errors.hpp>
#include <quillpost/detail/text.hpp>

#include "encoding/idn.hpp"
#include "encoding/utf8.hpp"
#include "mailer/header_block.hpp"
#include "mailer/mime_writer.hpp"

#include <algorithm>
#include <optional>

namespace quillpost {

namespace {

// The lines RFC 5322 3.6 allows at most once, and the MIME lines the body
// writes into the header block.
constexpr std::string_view kOnceOnly[] = {
    "Date", "From", "Sender", "Reply-To", "To", "Cc", "Message-ID", "In-Reply-To", "References", "Subject",
    "MIME-Version", "Content-Type", "Content-Transfer-Encoding"};

// An extra header's field name: the name without the colon that may end it.
std::string_view FieldName(std::string_view name) {
    if (name.ends_with(':')) name.remove_suffix(1);
    return name;
}

// RFC 5322 3.6.8: ftext is printable ASCII but the colon. The name must
// leave room for ": " on a line of at most 998 characters.
bool IsFieldName(std::string_view name) {
    if (name.empty() || name.size() + 2 > kLongestLine) return false;
    return std::all_of(name.begin(), name.end(), [](char c) { return c >= 33 && c <= 126 && c != ':'; });
}

void RefuseRepeatedLines(const Snapshot& m) {
    // The lines the block writes whatever the extra headers hold; "Date"
    // and "Message-ID" give way to an extra header of that name instead.
    std::vector<std::string_view> written{"From", "Subject"};
    if (!m.replyTos.empty()) written.push_back("Reply-To");
    if (!m.recipients.empty()) written.push_back("To");
    if (!m.ccs.empty()) written.push_back("Cc");
    for (const std::string_view name : MimeHeaderNames(m.textBody, m.htmlBody, !m.attachments.empty()))
        written.push_back(name);
    for (const std::string_view name : kOnceOnly) {
        std::size_t count = static_cast<std::size_t>(std::count(written.begin(), written.end(), name));
        for (const auto& h : m.extraHeaders)
            if (EqualsFolded(FieldName(h.name), name)) ++count;
        if (count > 1) raise(Err::HeaderOnlyOnce, name);
    }
}

// `address` with the A-labels of its domain when the local part is ASCII.
void UseALabels(std::string& address, std::string_view property) {
    const std::size_t at = address.rfind('@');
    if (at == std::string::npos || IsAscii(std::string_view(address).substr(at + 1))) return;
    const std::optional<std::string> domain = DomainToAscii(std::string_view(address).substr(at + 1));
    if (!domain) raise(Err::InvalidUtf8, property);
    // RFC 6531 3.2: a local part beyond ASCII needs SMTPUTF8 anyway, and
    // with it the domain may stay as it is written.
    if (IsAscii(std::string_view(address).substr(0, at))) address = address.substr(0, at + 1) + *domain;
}

}  // namespace

void PrepareHeaders(Snapshot& m) {
    for (const auto& h : m.extraHeaders)
        if (!IsFieldName(FieldName(h.name))) raise(Err::InvalidHeaderName, h.name);
    RefuseRepeatedLines(m);
    UseALabels(m.fromAddress, "FromAddress");
    const std::pair<std::vector<Snapshot::Address>*, std::string_view> lists[] = {
        {&m.recipients, "Recipients"}, {&m.ccs, "CCs"}, {&m.bccs, "BCCs"}, {&m.replyTos, "ReplyTos"}};
    for (const auto& [list, property] : lists)
        for (auto& r : *list) UseALabels(r.address, property);
}

}  // namespace quillpost
