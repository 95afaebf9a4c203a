// UTF-16 text from outside (registry exports, automation strings) turned into
// the UTF-8 that the component works on.
#pragma once

#include <string>
#include <string_view>

namespace quillpost {

// Decodes UTF-16LE bytes, without a byte order mark, into UTF-8. Surrogate
// pairs become one code point; an unpaired surrogate becomes U+FFFD, and an
// odd last byte is dropped, so any input gives valid UTF-8.
std::string Utf16LeToUtf8(std::string_view bytes);

}  // namespace quillpost
