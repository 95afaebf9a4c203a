// Opening a key of the machine's registry. The key's values are read once at
// the open, as the stand-in does, and the system's handle is closed at once:
// what the component reads is a handful of settings per send.
#include "platform/registry.hpp"

#include <quillpost/detail/text.hpp>

#include <windows.h>

#include <string>
#include <vector>

namespace quillpost {

namespace {

HKEY RootKey(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegistryRoot::CurrentUser: return HKEY_CURRENT_USER;
    case RegistryRoot::Users: return HKEY_USERS;
    case RegistryRoot::LocalMachine: break;
    }
    return HKEY_LOCAL_MACHINE;
}

}  // namespace

std::int32_t RegistryKey::Open(RegistryRoot root, std::string_view subKey) {
    Close();
    const std::string path(subKey);
    HKEY key = nullptr;
    const LSTATUS opened = ::RegOpenKeyExA(RootKey(root), path.c_str(), 0, KEY_READ, &key);
    if (opened != ERROR_SUCCESS) return opened;

    DWORD count = 0, longestName = 0, longestData = 0;
    LSTATUS status = ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                                        &longestName, &longestData, nullptr, nullptr);
    std::vector<char> name(longestName + 1);
    std::vector<BYTE> data(longestData + 1);
    for (DWORD i = 0; status == ERROR_SUCCESS && i < count; ++i) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LSTATUS read = ::RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
        if (read == ERROR_NO_MORE_ITEMS) break;
        if (read != ERROR_SUCCESS) continue;  // changed meanwhile: left out, as if not there
        Value& value = values_[FoldCase(std::string_view(name.data(), nameSize))];
        value.type = type;
        value.data.assign(reinterpret_cast<const char*>(data.data()), dataSize);
    }
    ::RegCloseKey(key);
    open_ = true;
    return kRegSuccess;
}

bool WriteRegistryString(RegistryRoot root, std::string_view subKey, std::string_view valueName,
                         std::string_view value, std::string& reason) {
    const std::string path(subKey), name(valueName), data(value);
    HKEY key = nullptr;
    LSTATUS status = ::RegOpenKeyExA(RootKey(root), path.c_str(), 0, KEY_SET_VALUE, &key);
    if (status == ERROR_SUCCESS) {
        status = ::RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                  static_cast<DWORD>(data.size() + 1));
        ::RegCloseKey(key);
    }
    if (status == ERROR_SUCCESS) return true;
    reason = "cannot write the value " + name + " of " + path + ": error " + std::to_string(status);
    return false;
}

}  // namespace quillpost
