// The operations of the removal run over the directory service. Each gives 0
// for success and a negative number for failure, and never raises.
#pragma once

#include "uninstall/directory_service.hpp"

#include <array>
#include <cstddef>
#include <string_view>
#include <type_traits>

namespace quillpost::uninst {

// Each text of a run (a child's type, a site's relative name, a root path)
// lives in one buffer of this size, terminator included.
inline constexpr std::size_t kTextBufferSize = 1024;
using TextBuffer = std::array<char, kTextBufferSize>;

// The text held in a buffer, up to its terminator.
std::string_view BufferText(const TextBuffer& buffer);

// Binds `path` for its container interface and builds an enumerator of its
// children: 0, or -1. The container is given back in every case; only the
// enumerator outlives the call, and `enumerator` is set only on success.
int OpenChildEnumerator(DirectoryService& service, std::string_view path,
                        EnumeratorRef& enumerator);

// 0 with the next child in `child`, owned by the caller from then on; -1 for an
// empty enumerator or a failed step; -2 when no child is left.
int NextChild(DirectoryService& service, EnumeratorRef enumerator, ChildRef& child);

// Reads a property of `object` as text into `buffer`: 0, or -1. The property
// "Name" stands for the object's relative name. A value that is not a string,
// a failed read and a text that would not fit the buffer all give -1, and
// leave the buffer holding the empty text: a text is never cut short, since a
// shortened site name could be another site's.
int ReadPropertyText(DirectoryService& service, ChildRef object, std::string_view property,
                     TextBuffer& buffer);

// Binds `containerPath` and deletes its child of the given class and relative
// name: 0, or -1 when the bind or the deletion fails.
int DeleteChildObject(DirectoryService& service, std::string_view containerPath,
                      std::string_view className, std::string_view relativeName);

// Give one reference back and empty the handle: 0, or -1 for an empty handle,
// which is left alone.
int ReleaseObject(DirectoryService& service, ChildRef& object) noexcept;
int ReleaseObject(DirectoryService& service, ContainerRef& object) noexcept;
int ReleaseObject(DirectoryService& service, DirObjectRef& object) noexcept;
int FreeEnumerator(DirectoryService& service, EnumeratorRef& enumerator) noexcept;

// Holds one reference for a scope and gives it back on every way out of it,
// so "released exactly once" holds however the scope is left.
template <typename Ref>
class Held {
public:
    explicit Held(DirectoryService& service, Ref ref = {}) : service_(service), ref_(ref) {}
    ~Held() { GiveBack(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    Ref get() const { return ref_; }
    // For an operation that fills the handle in.
    Ref& slot() { return ref_; }
    bool empty() const { return ref_ == Ref{}; }

private:
    void GiveBack() noexcept {
        if constexpr (std::is_same_v<Ref, EnumeratorRef>) {
            FreeEnumerator(service_, ref_);
        } else {
            ReleaseObject(service_, ref_);
        }
    }

    DirectoryService& service_;
    Ref ref_;
};

}  // namespace quillpost::uninst
