#include "tests/uninstall/in_memory_directory.hpp"

#include <algorithm>
#include <stdexcept>

namespace quillpost::uninst::test {

namespace {

constexpr std::string_view kPathStart = "IIS://localhost/";

std::string_view KindName(int kind) {
    static constexpr std::string_view names[] = {"container", "enumerator", "child", "object"};
    return names[kind];
}

}  // namespace

Node* Node::Child(std::string_view childName) const {
    for (const auto& child : children) {
        if (child->name == childName) return child.get();
    }
    return nullptr;
}

PropertyValue TextValue(std::string_view text) {
    return {PropertyValue::Kind::String, std::string(text)};
}

PropertyValue TextByReference(std::string_view text) {
    return {PropertyValue::Kind::StringByReference, std::string(text)};
}

PropertyValue NumberValue() { return {PropertyValue::Kind::Other, {}}; }

InMemoryDirectory::InMemoryDirectory() : top_(std::make_unique<Node>()) {
    top_->name = "localhost";
    service_ = &Add(*top_, "W3SVC", kServiceType);
}

InMemoryDirectory::~InMemoryDirectory() = default;

Node& InMemoryDirectory::Add(Node& parent, std::string_view name, std::string_view type) {
    auto node = std::make_unique<Node>();
    node->name = name;
    node->className = type;
    node->properties.emplace("KeyType", TextValue(type));
    node->parent = &parent;
    parent.children.push_back(std::move(node));
    return *parent.children.back();
}

Node& InMemoryDirectory::AddSite(std::string_view name) {
    Node& site = Add(*service_, name, kSiteType);
    Add(site, "Root", kVirtualDirType);
    return site;
}

Node& InMemoryDirectory::RootOf(Node& site) { return *site.Child("Root"); }

Node* InMemoryDirectory::Find(std::string_view path) const {
    if (!path.starts_with(kPathStart)) return nullptr;
    path.remove_prefix(kPathStart.size());
    Node* node = top_.get();
    while (node != nullptr) {
        const auto slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (part.empty()) return nullptr;
        node = node->Child(part);
        if (slash == std::string_view::npos) return node;
        path.remove_prefix(slash + 1);
    }
    return nullptr;
}

std::string InMemoryDirectory::PathOf(const Node& node) {
    if (node.parent == nullptr) return std::string(kPathStart.substr(0, kPathStart.size() - 1));
    if (node.parent->parent == nullptr) return std::string(kPathStart) + node.name;
    return PathOf(*node.parent) + "/" + node.name;
}

std::size_t InMemoryDirectory::CountCalls(std::string_view operation) const {
    const auto named = [&](const std::string& call) {
        return std::string_view(call).substr(0, call.find(' ')) == operation;
    };
    return static_cast<std::size_t>(std::count_if(calls_.begin(), calls_.end(), named));
}

std::vector<std::string> InMemoryDirectory::ChildrenHandedOut() const {
    std::vector<std::string> names;
    for (const auto& [handle, reference] : references_) {
        if (reference.kind == Kind::Child) names.push_back(reference.node->name);
    }
    return names;
}

std::vector<std::string> InMemoryDirectory::Outstanding() const {
    std::vector<std::string> left;
    for (const auto& [handle, reference] : references_) {
        if (reference.givenBack == 0) {
            left.push_back(std::string(KindName(static_cast<int>(reference.kind))) + " " +
                           PathOf(*reference.node));
        }
    }
    return left;
}

std::uintptr_t InMemoryDirectory::HandOut(Kind kind, Node* node) {
    const std::uintptr_t handle = nextHandle_++;
    references_.emplace(handle, Reference{kind, node, {}, 0, 0});
    return handle;
}

InMemoryDirectory::Reference* InMemoryDirectory::Use(Kind kind, std::uintptr_t handle,
                                                     std::string_view operation) {
    const auto found = references_.find(handle);
    std::string fault;
    if (found == references_.end()) {
        fault = "unknown reference";
    } else if (found->second.kind != kind) {
        fault = "wrong kind of reference";
    } else if (found->second.givenBack != 0) {
        fault = "reference used after it was given back";
    } else {
        return &found->second;
    }
    faults_.push_back(std::string(operation) + ": " + fault);
    return nullptr;
}

void InMemoryDirectory::GiveBack(Kind kind, std::uintptr_t handle,
                                 std::string_view operation) noexcept {
    const auto found = references_.find(handle);
    if (found == references_.end()) {
        faults_.push_back(std::string(operation) + ": unknown reference");
        return;
    }
    Reference& reference = found->second;
    calls_.push_back(std::string(operation) + " " +
                     std::string(KindName(static_cast<int>(reference.kind))) + " " +
                     PathOf(*reference.node));
    if (reference.kind != kind) {
        faults_.push_back(std::string(operation) + ": wrong kind of reference");
    } else if (reference.givenBack != 0) {
        faults_.push_back(std::string(operation) + ": given back twice");
    }
    ++reference.givenBack;
}

bool InMemoryDirectory::CoInitialize() {
    calls_.push_back("CoInitialize");
    return !coInitializeFails;
}

ContainerRef InMemoryDirectory::ADsGetObject(std::string_view path) {
    calls_.push_back("ADsGetObject " + std::string(path));
    if (!webServerInstalled) return {};
    Node* node = Find(path);
    if (node == nullptr) return {};
    return ContainerRef{HandOut(Kind::Container, node)};
}

EnumeratorRef InMemoryDirectory::ADsBuildEnumerator(ContainerRef container) {
    const Reference* source =
        Use(Kind::Container, static_cast<std::uintptr_t>(container), "ADsBuildEnumerator");
    calls_.push_back("ADsBuildEnumerator" +
                     (source != nullptr ? " " + PathOf(*source->node) : std::string()));
    if (source == nullptr || buildEnumeratorFails) return {};
    Node* node = source->node;
    const std::uintptr_t handle = HandOut(Kind::Enumerator, node);
    for (const auto& child : node->children) references_.at(handle).pending.push_back(child.get());
    return EnumeratorRef{handle};
}

EnumerateStep InMemoryDirectory::ADsEnumerateNext(EnumeratorRef enumerator) {
    calls_.push_back("ADsEnumerateNext");
    Reference* reference =
        Use(Kind::Enumerator, static_cast<std::uintptr_t>(enumerator), "ADsEnumerateNext");
    if (reference == nullptr) return {};
    const std::size_t step = reference->step++;
    if (failEnumerationAtStep == step) return {};
    if (step >= reference->pending.size()) return {true, 0, {}};
    Node* child = reference->pending[step];
    return {true, 1, ChildRef{HandOut(Kind::Child, child)}};
}

DirObjectRef InMemoryDirectory::QueryDirectoryObject(ChildRef child) {
    const Reference* reference =
        Use(Kind::Child, static_cast<std::uintptr_t>(child), "QueryDirectoryObject");
    if (reference == nullptr) return {};
    calls_.push_back("QueryDirectoryObject " + PathOf(*reference->node));
    if (reference->node->noDirectoryInterface) return {};
    return DirObjectRef{HandOut(Kind::DirObject, reference->node)};
}

std::optional<std::string> InMemoryDirectory::GetName(DirObjectRef object) {
    const Reference* reference =
        Use(Kind::DirObject, static_cast<std::uintptr_t>(object), "GetName");
    if (reference == nullptr) return std::nullopt;
    calls_.push_back("GetName " + PathOf(*reference->node));
    if (reference->node->nameUnreadable) return std::nullopt;
    return reference->node->name;
}

std::optional<PropertyValue> InMemoryDirectory::Get(DirObjectRef object,
                                                    std::string_view property) {
    const Reference* reference = Use(Kind::DirObject, static_cast<std::uintptr_t>(object), "Get");
    if (reference == nullptr) return std::nullopt;
    const Node& node = *reference->node;
    calls_.push_back("Get " + PathOf(node) + " " + std::string(property));
    if (node.throwOnRead) throw std::runtime_error("the directory failed while reading");
    const auto found = node.properties.find(property);
    if (found == node.properties.end()) return std::nullopt;
    return found->second;
}

bool InMemoryDirectory::Delete(ContainerRef container, std::string_view className,
                               std::string_view relativeName) {
    const Reference* reference =
        Use(Kind::Container, static_cast<std::uintptr_t>(container), "Delete");
    if (reference == nullptr) return false;
    Node& parent = *reference->node;
    Deletion deletion{PathOf(parent), std::string(className), std::string(relativeName), false};
    calls_.push_back("Delete " + deletion.containerPath + " " + deletion.className + " " +
                     deletion.relativeName);

    const auto found = std::find_if(parent.children.begin(), parent.children.end(),
                                    [&](const std::unique_ptr<Node>& child) {
                                        return child->name == relativeName &&
                                               child->className == className;
                                    });
    if (found != parent.children.end() && !(*found)->refuseDelete) {
        deleted_.push_back(std::move(*found));
        parent.children.erase(found);
        deletion.succeeded = true;
    }
    deletions_.push_back(deletion);
    return deletion.succeeded;
}

void InMemoryDirectory::ADsFreeEnumerator(EnumeratorRef enumerator) noexcept {
    GiveBack(Kind::Enumerator, static_cast<std::uintptr_t>(enumerator), "ADsFreeEnumerator");
}

void InMemoryDirectory::Release(ContainerRef container) noexcept {
    GiveBack(Kind::Container, static_cast<std::uintptr_t>(container), "Release");
}

void InMemoryDirectory::Release(ChildRef child) noexcept {
    GiveBack(Kind::Child, static_cast<std::uintptr_t>(child), "Release");
}

void InMemoryDirectory::Release(DirObjectRef object) noexcept {
    GiveBack(Kind::DirObject, static_cast<std::uintptr_t>(object), "Release");
}

}  // namespace quillpost::uninst::test
