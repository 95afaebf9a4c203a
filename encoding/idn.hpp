// Internationalized domain names: a domain with labels beyond ASCII in the
// form every server accepts, its A-labels ("xn--bcher-kva.example").
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

// The ASCII form of valid UTF-8 `domain`: an all-ASCII domain as it is, any
// other with each label beyond ASCII turned into its A-label (IDNA 2008,
// RFC 5891 4); nothing when a label cannot be one. The conversion is the
// system's (libidn2, or Windows' own IdnToAscii).
std::optional<std::string> DomainToAscii(std::string_view domain);

}  // namespace quillpost
