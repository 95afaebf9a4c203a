#include "mailer/attachment_file.hpp"

#include <quillpost/detail/errors.hpp>

#include "mailer/header_block.hpp"

namespace quillpost {

namespace {

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

void RefuseLineBreak(std::string_view text, std::string_view property) {
    if (HasLineBreak(text)) raise(Err::LineBreakNotAllowed, property);
}

void RefuseLineBreaks(const std::vector<Snapshot::Address>& list, std::string_view property) {
    for (const auto& r : list) {
        RefuseLineBreak(r.address, property);
        RefuseLineBreak(r.name, property);
    }
}

}  // namespace

void CheckLineBreaks(const Snapshot& m) {
    // Every value here becomes part of a header line or an SMTP command; a
    // line break inside one would let a web form add lines of its own.
    RefuseLineBreak(m.fromAddress, "FromAddress");
    RefuseLineBreak(m.fromName, "FromName");
    RefuseLineBreak(m.subject, "Subject");
    RefuseLineBreak(m.organization, "Organization");
    RefuseLineBreak(m.application, "Application");
    RefuseLineBreaks(m.recipients, "Recipients");
    RefuseLineBreaks(m.ccs, "CCs");
    RefuseLineBreaks(m.bccs, "BCCs");
    RefuseLineBreaks(m.replyTos, "ReplyTos");
    for (const auto& h : m.extraHeaders) {
        RefuseLineBreak(h.name, "ExtraHeaders");
        RefuseLineBreak(h.value, "ExtraHeaders");
    }
    for (const auto& a : m.attachments) RefuseLineBreak(ShortName(a), "Attachments");
}

}  // namespace quillpost
