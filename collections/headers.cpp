#include <quillpost/collections.hpp>
#include <quillpost/detail/errors.hpp>

namespace quillpost {

bool Header::Parse(const Variant& vData) {
    std::string line = vData.ToText();
    const auto separator = line.find(": ");
    if (separator == std::string::npos) {
        value_ = std::move(line);
        return false;
    }
    name_ = line.substr(0, separator);
    value_ = line.substr(separator + 2);
    return true;
}

void Headers::Add(const Variant& Name, const Variant& Value) {
    if (Name.is_blank() || Name.is_missing()) raise(Err::BlankHeaderName);
    if (Value.is_blank() || Value.is_missing()) raise(Err::BlankHeaderValue);
    auto item = std::make_shared<Header>();
    item->Name(Name.ToText());
    item->Value(Value.ToText());
    const std::string key = item->Name();
    list_.Add(std::move(item), key);
}

}  // namespace quillpost
