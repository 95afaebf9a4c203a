#include "encoding/idn.hpp"

#include "encoding/utf8.hpp"

#include <idn2.h>

#include <memory>

namespace quillpost {

std::optional<std::string> DomainToAscii(std::string_view domain) {
    if (IsAscii(domain)) return std::string(domain);
    // UTS 46 mapping without the transitional rules: "Bücher" is looked up
    // as "bücher", and "ß" stays itself as IDNA 2008 has it.
    const std::string input(domain);
    char* output = nullptr;
    if (idn2_to_ascii_8z(input.c_str(), &output, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL) != IDN2_OK) return std::nullopt;
    const std::unique_ptr<char, decltype(&idn2_free)> owned(output, &idn2_free);
    return std::string(output);
}

}  // namespace quillpost
