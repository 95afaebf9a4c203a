// What registration writes into the registry: the in-process server entries
// of the seven classes, their program identifiers, the type library and the
// interfaces, all from the member table.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quillpost::server {

struct RegKey {
    std::string path;
    std::vector<std::pair<std::string, std::string>> values;  // "" names the default value
};

// The keys that registration owns: unregistration takes these and everything
// below them away, then the type library's key if no other version of it is
// left.
std::vector<std::string> OwnedKeys();
// Every key and value written for the library at `libraryPath`.
std::vector<RegKey> RegistrationEntries(const std::string& libraryPath);

// Write or remove the entries; false, with the reason, on failure.
bool Register(const std::string& libraryPath, std::string& reason);
bool Unregister(std::string& reason);

// The full path of this library (posix: from the dynamic loader).
std::string ModulePath();

}  // namespace quillpost::server
