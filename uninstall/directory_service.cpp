#include "uninstall/directory_service.hpp"

namespace quillpost::uninst {

// Nothing is ever handed out, so there is nothing to give back.

bool NoWebServerDirectory::CoInitialize() { return true; }

ContainerRef NoWebServerDirectory::ADsGetObject(std::string_view) { return {}; }

EnumeratorRef NoWebServerDirectory::ADsBuildEnumerator(ContainerRef) { return {}; }

EnumerateStep NoWebServerDirectory::ADsEnumerateNext(EnumeratorRef) { return {}; }

DirObjectRef NoWebServerDirectory::QueryDirectoryObject(ChildRef) { return {}; }

std::optional<std::string> NoWebServerDirectory::GetName(DirObjectRef) { return std::nullopt; }

std::optional<PropertyValue> NoWebServerDirectory::Get(DirObjectRef, std::string_view) {
    return std::nullopt;
}

bool NoWebServerDirectory::Delete(ContainerRef, std::string_view, std::string_view) {
    return false;
}

void NoWebServerDirectory::ADsFreeEnumerator(EnumeratorRef) noexcept {}
void NoWebServerDirectory::Release(ContainerRef) noexcept {}
void NoWebServerDirectory::Release(ChildRef) noexcept {}
void NoWebServerDirectory::Release(DirObjectRef) noexcept {}

}  // namespace quillpost::uninst
