// Loading a shared library and finding an entry point in it.
#pragma once

#include <string>

namespace quillpost::server {

// A loaded library, or null with the system's reason.
void* LoadLibraryFile(const std::string& path, std::string& reason);
void* FindEntryPoint(void* library, const char* name);
void FreeLibraryFile(void* library);

}  // namespace quillpost::server
