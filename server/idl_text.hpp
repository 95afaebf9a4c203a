// The type library's source (IDL) written from the member table, so that the
// library a Windows build embeds says what the binding does, slot for slot.
#pragma once

#include <string>

namespace quillpost::server {

std::string LibraryIdl();

}  // namespace quillpost::server
