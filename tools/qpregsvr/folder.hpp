// The folder that holds the registry file, made when it is missing.
#pragma once

#include <string>

namespace quillpost::tools {

// Creates the folder and every missing folder above it (mode 0755). Returns
// false, with the system's reason, when one cannot be made.
bool MakeFolders(const std::string& path, std::string& reason);

}  // namespace quillpost::tools
