#include "server/registration.hpp"

#include "server/guid_text.hpp"
#include "server/members.hpp"
#include "platform/registry_store.hpp"

namespace quillpost::server {

namespace {

const std::string kRoot = "HKEY_CLASSES_ROOT\\";
// The platform's marshaller of dual automation interfaces, through the type
// library.
const GUID kAutomationMarshaller = {0x00020424, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

std::string ProgId(const ClassInfo& info) { return std::string(Library().name) + "." + info.name; }

std::string Version() {
    return std::to_string(Library().majorVersion) + "." + std::to_string(Library().minorVersion);
}

std::string Folder(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string TypeLibKey() { return kRoot + "TypeLib\\" + GuidText(Library().libid); }

// Takes away what registration wrote, and the type library's key when no
// other version is left below it.
void RemoveOwnedKeys(RegText& file) {
    RemoveKeys(file, OwnedKeys());
    RemoveEmptyKey(file, TypeLibKey());
}

}  // namespace

std::vector<std::string> OwnedKeys() {
    std::vector<std::string> keys;
    for (const ClassInfo* info : Library().classes) {
        keys.push_back(kRoot + "CLSID\\" + GuidText(info->clsid));
        keys.push_back(kRoot + ProgId(*info));
        keys.push_back(kRoot + "Interface\\" + GuidText(info->iid));
    }
    // Only this version of the type library: other versions registered under
    // the same identifier belong to whoever registered them.
    keys.push_back(TypeLibKey() + "\\" + Version());
    return keys;
}

std::vector<RegKey> RegistrationEntries(const std::string& libraryPath) {
    const std::string libid = GuidText(Library().libid);
    std::vector<RegKey> keys;
    for (const ClassInfo* info : Library().classes) {
        const std::string clsidKey = kRoot + "CLSID\\" + GuidText(info->clsid);
        keys.push_back({clsidKey, {{"", info->name}}});
        keys.push_back({clsidKey + "\\InprocServer32", {{"", libraryPath}, {"ThreadingModel", "Apartment"}}});
        keys.push_back({clsidKey + "\\ProgID", {{"", ProgId(*info)}}});
        keys.push_back({clsidKey + "\\TypeLib", {{"", libid}}});
        keys.push_back({clsidKey + "\\VERSION", {{"", Version()}}});
        keys.push_back({kRoot + ProgId(*info), {{"", ProgId(*info)}}});
        keys.push_back({kRoot + ProgId(*info) + "\\CLSID", {{"", GuidText(info->clsid)}}});
    }
    const std::string libKey = TypeLibKey() + "\\" + Version();
    keys.push_back({libKey, {{"", Library().name}}});
    keys.push_back({libKey + "\\0\\" + (sizeof(void*) == 8 ? "win64" : "win32"), {{"", libraryPath}}});
    keys.push_back({libKey + "\\FLAGS", {{"", "0"}}});
    keys.push_back({libKey + "\\HELPDIR", {{"", Folder(libraryPath)}}});
    for (const ClassInfo* info : Library().classes) {
        const std::string interfaceKey = kRoot + "Interface\\" + GuidText(info->iid);
        keys.push_back({interfaceKey, {{"", info->interfaceName}}});
        keys.push_back({interfaceKey + "\\ProxyStubClsid", {{"", GuidText(kAutomationMarshaller)}}});
        keys.push_back({interfaceKey + "\\ProxyStubClsid32", {{"", GuidText(kAutomationMarshaller)}}});
        keys.push_back({interfaceKey + "\\TypeLib", {{"", libid}, {"Version", Version()}}});
    }
    return keys;
}

bool Register(const std::string& libraryPath, std::string& reason) {
    const auto entries = RegistrationEntries(libraryPath);
    return EditRegistry(
        [&](RegText& file) {
            RemoveOwnedKeys(file);
            for (const RegKey& key : entries) AddKey(file, key.path, key.values);
        },
        reason);
}

bool Unregister(std::string& reason) {
    return EditRegistry(RemoveOwnedKeys, reason);
}

}  // namespace quillpost::server
