#include <quillpost/detail/errors.hpp>
#include <quillpost/message.hpp>

#include "mailer/attachment_file.hpp"

#include "platform/registry.hpp"

#include <array>

namespace quillpost {

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

}  // namespace quillpost
