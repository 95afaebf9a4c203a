#include "mailer/sending.hpp"

#include "platform/registry.hpp"

#include <array>

namespace quillpost {

namespace {

constexpr std::string_view kProductKey = "SOFTWARE\\Brackenfold\\Quillpost";

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

void Message::CheckSender(const std::string& Address) {
    if (Address.empty()) raise(Err::BlankFromAddress);
    RegistryKey key;
    key.Open(RegistryRoot::LocalMachine, kProductKey);
    Variant setting;
    const std::int32_t status = ReadRegistryValue(key, "RequireLocalSender", setting);
    key.Close();
    // Any registry failure leaves the rule off; so does the text "False",
    // exactly so spelt, and a message that knows no page.
    if (status != 0 || !mvarRequest.is_object()) return;
    if (setting.ToText() == "False") return;

    const std::array<Variant, 1> name{Variant("SERVER_NAME")};
    std::string server =
        mvarRequest.ToObject()->Invoke("ServerVariables", CallKind::PropertyGet, name).ToText();
    if (server.starts_with("www.")) server.erase(0, 4);
    const auto at = Address.find('@');
    if (at != std::string::npos && Address.compare(at + 1, std::string::npos, server) == 0) return;
    raise(Err::ForeignSender, server);
}

Variant Message::OnStartPage(const Variant& ScriptingContext) {
    mvarRequest = ScriptingContext.ToObject()->Invoke("Request", CallKind::PropertyGet, {});
    return Variant();
}

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
