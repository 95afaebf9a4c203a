#include "mailer/attachment_file.hpp"

#include <quillpost/detail/errors.hpp>

#include "mailer/header_block.hpp"

namespace quillpost {

namespace {

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

void RefuseLineBreak(std::string_view text, std::string_view property) {
    if (HasLineBreak(text)) raise(Err::LineBreakNotAllowed, property);
}

void RefuseLineBreaks(Recipients& list, std::string_view property) {
    for (const auto& r : list) {
        RefuseLineBreak(r->Address(), property);
        RefuseLineBreak(r->Name(), property);
    }
}

}  // namespace

void CheckLineBreaks(Message& message) {
    // Every value here becomes part of a header line or an SMTP command; a
    // line break inside one would let a web form add lines of its own.
    RefuseLineBreak(message.FromAddress(), "FromAddress");
    RefuseLineBreak(message.FromName(), "FromName");
    RefuseLineBreak(message.Subject(), "Subject");
    RefuseLineBreak(message.Organization(), "Organization");
    RefuseLineBreak(message.Application(), "Application");
    RefuseLineBreaks(*message.Recipients(), "Recipients");
    RefuseLineBreaks(*message.CCs(), "CCs");
    RefuseLineBreaks(*message.BCCs(), "BCCs");
    RefuseLineBreaks(*message.ReplyTos(), "ReplyTos");
    for (const auto& h : *message.ExtraHeaders()) {
        RefuseLineBreak(h->Name(), "ExtraHeaders");
        RefuseLineBreak(h->Value(), "ExtraHeaders");
    }
    for (const auto& a : *message.Attachments()) RefuseLineBreak(ShortName(a->FileName()), "Attachments");
}

}  // namespace quillpost
