#include <quillpost/collections.hpp>
#include <quillpost/detail/errors.hpp>

namespace quillpost {

void Recipients::Add(const Variant& vAddress, const Variant& vName) {
    if (vAddress.is_blank() || vAddress.is_missing()) raise(Err::BlankRecipient);
    auto item = std::make_shared<Recipient>();
    // The address is converted before the name, so a name that cannot be
    // converted leaves nothing behind either way.
    item->Address(vAddress.ToText());
    if (!vName.is_missing()) item->Name(vName.ToText());
    list_.Add(std::move(item));
}

}  // namespace quillpost
