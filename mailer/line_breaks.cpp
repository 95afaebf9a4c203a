#include "mailer/attachment_file.hpp"

#include <quillpost/detail/errors.hpp>

#include "encoding/utf8.hpp"
#include "mailer/header_block.hpp"

#include <functional>

namespace quillpost {

namespace {

using TextVisitor = std::function<void(std::string_view text, std::string_view property)>;

// Every value that becomes part of a header line or an SMTP command, with
// the name of the property it comes from.
void VisitHeaderTexts(const Snapshot& m, const TextVisitor& visit) {
    visit(m.fromAddress, "FromAddress");
    visit(m.fromName, "FromName");
    visit(m.subject, "Subject");
    visit(m.organization, "Organization");
    visit(m.application, "Application");
    const std::pair<const std::vector<Snapshot::Address>*, std::string_view> lists[] = {
        {&m.recipients, "Recipients"}, {&m.ccs, "CCs"}, {&m.bccs, "BCCs"}, {&m.replyTos, "ReplyTos"}};
    for (const auto& [list, property] : lists) {
        for (const auto& r : *list) {
            visit(r.address, property);
            visit(r.name, property);
        }
    }
    for (const auto& h : m.extraHeaders) {
        visit(h.name, "ExtraHeaders");
        visit(h.value, "ExtraHeaders");
    }
    for (const auto& a : m.attachments) visit(ShortName(a), "Attachments");
}

void RefuseLineBreak(std::string_view text, std::string_view property) {
    if (text.find_first_of("\r\n") != std::string_view::npos) raise(Err::LineBreakNotAllowed, property);
}

// Text that is not valid UTF-8 could not be encoded for the header block or
// labelled with a character set in the bodies: a reader would show
// something else than the caller wrote.
void RefuseInvalidUtf8(std::string_view text, std::string_view property) {
    if (!IsValidUtf8(text)) raise(Err::InvalidUtf8, property);
}

}  // namespace

void CheckLineBreaks(const Snapshot& m) {
    // Every value here becomes part of a header line or an SMTP command; a
    // line break inside one would let a web form add lines of its own.
    VisitHeaderTexts(m, RefuseLineBreak);
    // The server's name goes into the trace and into the TLS name check.
    RefuseLineBreak(m.server, "Server");
    VisitHeaderTexts(m, RefuseInvalidUtf8);
    RefuseInvalidUtf8(m.textBody, "TextBody");
    RefuseInvalidUtf8(m.htmlBody, "HtmlBody");
}

}  // namespace quillpost
