// The directory service that holds the web server's configuration, as the
// removal run sees it: the few calls it makes, each named after the platform
// call it stands for. The service itself lies outside the library; a machine
// without a web server is served by NoWebServerDirectory, which binds no path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillpost::uninst {

// References handed out by the service. The value-initialised reference ({})
// is the empty one; every other reference is owned by whoever received it
// until it goes back through Release or ADsFreeEnumerator.
enum class ContainerRef : std::uintptr_t {};   // container interface of a path
enum class EnumeratorRef : std::uintptr_t {};  // enumerator of a container's children
enum class ChildRef : std::uintptr_t {};       // object reference of one child
enum class DirObjectRef : std::uintptr_t {};   // directory-object interface of a child

// One step of an enumerator: the call may fail; when it succeeds, a fetched
// count of 0 means that no child is left, and 1 that `child` holds one.
struct EnumerateStep {
    bool ok = false;
    std::uint32_t fetched = 0;
    ChildRef child{};
};

// The value of a property. A string may arrive by value or by reference;
// every other kind of value (numbers, lists, objects) is just "other".
struct PropertyValue {
    enum class Kind { String, StringByReference, Other };
    Kind kind = Kind::Other;
    std::string text;  // the string, for the two string kinds
};

// Texts cross this interface as 8-bit text of the system code page; turning
// them into the service's own strings, and back, is the service's business.
class DirectoryService {
public:
    virtual ~DirectoryService() = default;

    // Initialises the object library on the calling thread. Success and "the
    // thread was initialised already" both count as true.
    virtual bool CoInitialize() = 0;
    // Binds `path` for its container interface; empty when the path does not
    // exist or no web server or directory provider is installed.
    virtual ContainerRef ADsGetObject(std::string_view path) = 0;
    // An enumerator of the container's children; empty on failure.
    virtual EnumeratorRef ADsBuildEnumerator(ContainerRef container) = 0;
    // Asks the enumerator for one more child.
    virtual EnumerateStep ADsEnumerateNext(EnumeratorRef enumerator) = 0;
    // The child's directory-object interface; empty when it has none.
    virtual DirObjectRef QueryDirectoryObject(ChildRef child) = 0;
    // The object's relative name (for a site, its key within the web service).
    virtual std::optional<std::string> GetName(DirObjectRef object) = 0;
    // The value of a property; nothing when the read fails (for instance
    // because the object has no such property).
    virtual std::optional<PropertyValue> Get(DirObjectRef object, std::string_view property) = 0;
    // Deletes the container's child of the given class and relative name.
    virtual bool Delete(ContainerRef container, std::string_view className,
                        std::string_view relativeName) = 0;

    // Giving references back never fails in a way the caller could act on.
    virtual void ADsFreeEnumerator(EnumeratorRef enumerator) noexcept = 0;
    virtual void Release(ContainerRef container) noexcept = 0;
    virtual void Release(ChildRef child) noexcept = 0;
    virtual void Release(DirObjectRef object) noexcept = 0;
};

// The service of a machine without the web server's directory provider, which
// is every Linux machine: the object library needs no initialising and no path
// can be bound, so a removal run visits nothing. It holds no state; the hook
// makes one for each call.
class NoWebServerDirectory final : public DirectoryService {
public:
    bool CoInitialize() override;
    ContainerRef ADsGetObject(std::string_view path) override;
    EnumeratorRef ADsBuildEnumerator(ContainerRef container) override;
    EnumerateStep ADsEnumerateNext(EnumeratorRef enumerator) override;
    DirObjectRef QueryDirectoryObject(ChildRef child) override;
    std::optional<std::string> GetName(DirObjectRef object) override;
    std::optional<PropertyValue> Get(DirObjectRef object, std::string_view property) override;
    bool Delete(ContainerRef container, std::string_view className,
                std::string_view relativeName) override;
    void ADsFreeEnumerator(EnumeratorRef enumerator) noexcept override;
    void Release(ContainerRef container) noexcept override;
    void Release(ChildRef child) noexcept override;
    void Release(DirObjectRef object) noexcept override;
};

}  // namespace quillpost::uninst
