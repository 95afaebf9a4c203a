// Opening a key of the registry stand-in: the export file, with the
// system's table of media types behind it for file types.
#include "platform/registry.hpp"

#include <quillpost/detail/text.hpp>

#include "platform/file.hpp"
#include "platform/media_types.hpp"
#include "platform/registry_file.hpp"
#include "platform/registry_store.hpp"

#include <utility>

namespace quillpost {

namespace {

constexpr std::string_view kContentType = "Content Type";

std::string_view RootName(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::ClassesRoot: return "HKEY_CLASSES_ROOT";
    case RegistryRoot::CurrentUser: return "HKEY_CURRENT_USER";
    case RegistryRoot::Users: return "HKEY_USERS";
    case RegistryRoot::LocalMachine: break;
    }
    return "HKEY_LOCAL_MACHINE";
}

}  // namespace

std::int32_t RegistryKey::Open(RegistryRoot root, std::string_view subKey) {
    Close();
    const RegistryKeyPath target{root, SplitKeyNames(subKey)};
    // The file is read afresh at every open, so a change to it shows at once.
    KeyInFile inFile = FindKeyInExport(ReadSmallFile(RegistryFilePath()), target);

    if (target.parts.empty() || inFile.presence == KeyPresence::Present) {
        values_ = std::move(inFile.values);
        open_ = true;
        return kRegSuccess;
    }
    // File types the registry file does not mention come from the system's
    // table of media types; a key the file takes away stays away.
    if (root == RegistryRoot::ClassesRoot && inFile.presence == KeyPresence::Unknown &&
        target.parts.size() == 1 && target.parts.front().starts_with('.')) {
        const std::string table = ReadSmallFile(MediaTypesFilePath());
        if (auto type = MediaTypeInTable(table, std::string_view(target.parts.front()).substr(1))) {
            Value& value = values_[FoldCase(kContentType)];
            value.type = kRegSz;
            value.data = std::move(*type);
            value.data += '\0';
            open_ = true;
            return kRegSuccess;
        }
    }
    return kRegFileNotFound;
}

bool WriteRegistryString(RegistryRoot root, std::string_view subKey, std::string_view valueName,
                         std::string_view value, std::string& reason) {
    const std::string key = std::string(RootName(root)) + "\\" + std::string(subKey);
    bool found = true;
    const bool written = EditRegistry(
        [&](RegText& file) { found = SetString(file, key, valueName, value); }, reason);
    if (written && !found) reason = "no key " + key;
    return written && found;
}

}  // namespace quillpost
