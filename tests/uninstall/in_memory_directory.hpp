// A web server's configuration store held in memory, for running the removal
// without a web server. It behaves as the real directory does for the calls
// the removal makes, can be told to fail them, and records every call and
// every reference it hands out, so that a test can check what was deleted and
// that everything obtained was given back exactly once.
#pragma once

#include "uninstall/directory_service.hpp"

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillpost::uninst::test {

// One object of the store. Its class is the type it was made with; its
// "KeyType" property starts out as that type but can be removed or replaced
// without changing the class.
struct Node {
    std::string name;
    std::string className;
    std::map<std::string, PropertyValue, std::less<>> properties;
    std::vector<std::unique_ptr<Node>> children;
    Node* parent = nullptr;

    bool refuseDelete = false;          // a deletion of this object fails
    bool noDirectoryInterface = false;  // asking it for its directory-object interface fails
    bool nameUnreadable = false;        // reading its relative name fails
    bool throwOnRead = false;           // reading any property of it throws

    Node* Child(std::string_view childName) const;
};

// A call that deleted, or tried to delete, an object.
struct Deletion {
    std::string containerPath;
    std::string className;
    std::string relativeName;
    bool succeeded = false;

    friend bool operator==(const Deletion&, const Deletion&) = default;
};

class InMemoryDirectory final : public DirectoryService {
public:
    static constexpr std::string_view kServiceType = "IIsWebService";
    static constexpr std::string_view kSiteType = "IIsWebServer";
    static constexpr std::string_view kVirtualDirType = "IIsWebVirtualDir";

    // A store holding the web service "IIS://localhost/W3SVC" with no children.
    InMemoryDirectory();
    ~InMemoryDirectory() override;

    // Building the store.
    Node& Service() { return *service_; }
    // A child of `parent` whose class and "KeyType" are `type`.
    Node& Add(Node& parent, std::string_view name, std::string_view type);
    // A web site under the service, with an empty "Root" virtual directory.
    Node& AddSite(std::string_view name);
    static Node& RootOf(Node& site);
    // The object at a path, or null.
    Node* Find(std::string_view path) const;
    static std::string PathOf(const Node& node);

    // Failures of the service as a whole.
    bool webServerInstalled = true;    // false: no path can be bound
    bool coInitializeFails = false;
    bool buildEnumeratorFails = false;
    std::optional<std::size_t> failEnumerationAtStep;  // 0-based step that fails

    // What happened.
    const std::vector<std::string>& Calls() const { return calls_; }
    std::size_t CountCalls(std::string_view operation) const;
    const std::vector<Deletion>& Deletions() const { return deletions_; }
    // Relative names of the children handed out by enumerators, in order.
    std::vector<std::string> ChildrenHandedOut() const;
    // References handed out and never given back, as "kind path".
    std::vector<std::string> Outstanding() const;
    // Misuse: a reference given back twice or under the wrong kind, an unknown
    // or already given-back reference used, an enumerator freed as an object.
    const std::vector<std::string>& Faults() const { return faults_; }

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

private:
    enum class Kind { Container, Enumerator, Child, DirObject };
    struct Reference {
        Kind kind;
        Node* node;
        std::vector<Node*> pending;  // an enumerator's children still to come
        std::size_t step = 0;
        int givenBack = 0;
    };

    std::uintptr_t HandOut(Kind kind, Node* node);
    Reference* Use(Kind kind, std::uintptr_t handle, std::string_view operation);
    void GiveBack(Kind kind, std::uintptr_t handle, std::string_view operation) noexcept;

    std::unique_ptr<Node> top_;  // "IIS://localhost"
    Node* service_ = nullptr;
    // Deleted objects are kept, so that a reference to one never dangles.
    std::vector<std::unique_ptr<Node>> deleted_;
    std::map<std::uintptr_t, Reference> references_;
    std::uintptr_t nextHandle_ = 1;
    std::vector<std::string> calls_;
    std::vector<Deletion> deletions_;
    std::vector<std::string> faults_;
};

// Text values of the two kinds the directory gives, and a value that is not text.
PropertyValue TextValue(std::string_view text);
PropertyValue TextByReference(std::string_view text);
PropertyValue NumberValue();

}  // namespace quillpost::uninst::test
