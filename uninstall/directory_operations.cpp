#include "uninstall/directory_operations.hpp"

#include "uninstall/fixed_texts.hpp"

#include <algorithm>
#include <utility>

namespace quillpost::uninst {

namespace {

// Brings a text from the directory into a caller's buffer. The text ends at
// its first zero byte, as a string converted with its terminator does. A text
// that would not fit, terminator included, is refused whole and the buffer
// holds the empty text.
bool CopyIntoBuffer(std::string_view text, TextBuffer& buffer) {
    text = text.substr(0, text.find('\0'));
    if (text.size() + 1 > buffer.size()) {
        buffer[0] = '\0';
        return false;
    }
    std::copy(text.begin(), text.end(), buffer.begin());
    buffer[text.size()] = '\0';
    return true;
}

template <typename Ref>
int GiveBack(DirectoryService& service, Ref& ref) noexcept {
    if (ref == Ref{}) return -1;
    service.Release(std::exchange(ref, Ref{}));
    return 0;
}

}  // namespace

std::string_view BufferText(const TextBuffer& buffer) {
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    return {buffer.data(), static_cast<std::size_t>(end - buffer.begin())};
}

int OpenChildEnumerator(DirectoryService& service, std::string_view path,
                        EnumeratorRef& enumerator) {
    if (!service.CoInitialize()) return -1;
    const Held<ContainerRef> container(service, service.ADsGetObject(path));
    if (container.empty()) return -1;
    const EnumeratorRef built = service.ADsBuildEnumerator(container.get());
    if (built == EnumeratorRef{}) return -1;
    enumerator = built;
    return 0;
}

int NextChild(DirectoryService& service, EnumeratorRef enumerator, ChildRef& child) {
    if (enumerator == EnumeratorRef{}) return -1;
    const EnumerateStep step = service.ADsEnumerateNext(enumerator);
    if (!step.ok) return -1;
    if (step.fetched == 0) return -2;
    child = step.child;
    return 0;
}

int ReadPropertyText(DirectoryService& service, ChildRef object, std::string_view property,
                     TextBuffer& buffer) {
    buffer[0] = '\0';
    if (object == ChildRef{}) return -1;
    const Held<DirObjectRef> directoryObject(service, service.QueryDirectoryObject(object));
    if (directoryObject.empty()) return -1;

    if (property == kNameProperty) {
        const auto name = service.GetName(directoryObject.get());
        return name && CopyIntoBuffer(*name, buffer) ? 0 : -1;
    }
    const auto value = service.Get(directoryObject.get(), property);
    if (!value) return -1;
    switch (value->kind) {
    case PropertyValue::Kind::String:
    case PropertyValue::Kind::StringByReference:
        return CopyIntoBuffer(value->text, buffer) ? 0 : -1;
    case PropertyValue::Kind::Other:
        break;
    }
    return -1;
}

int DeleteChildObject(DirectoryService& service, std::string_view containerPath,
                      std::string_view className, std::string_view relativeName) {
    if (!service.CoInitialize()) return -1;
    const Held<ContainerRef> container(service, service.ADsGetObject(containerPath));
    if (container.empty()) return -1;
    return service.Delete(container.get(), className, relativeName) ? 0 : -1;
}

int ReleaseObject(DirectoryService& service, ChildRef& object) noexcept {
    return GiveBack(service, object);
}

int ReleaseObject(DirectoryService& service, ContainerRef& object) noexcept {
    return GiveBack(service, object);
}

int ReleaseObject(DirectoryService& service, DirObjectRef& object) noexcept {
    return GiveBack(service, object);
}

int FreeEnumerator(DirectoryService& service, EnumeratorRef& enumerator) noexcept {
    if (enumerator == EnumeratorRef{}) return -1;
    service.ADsFreeEnumerator(std::exchange(enumerator, EnumeratorRef{}));
    return 0;
}

}  // namespace quillpost::uninst
