#include "uninstall/removal.hpp"

#include "uninstall/directory_operations.hpp"
#include "uninstall/fixed_texts.hpp"

#include <algorithm>

namespace quillpost::uninst {

namespace {

// The path of a site's root: the site path start, the site's relative name,
// then "/Root". False, with the empty text in `path`, when it would not fit.
bool ComposeRootPath(std::string_view siteName, TextBuffer& path) {
    const std::size_t length = kSitePathStart.size() + siteName.size() + kRootPathEnd.size();
    if (length + 1 > path.size()) {
        path[0] = '\0';
        return false;
    }
    auto out = std::copy(kSitePathStart.begin(), kSitePathStart.end(), path.begin());
    out = std::copy(siteName.begin(), siteName.end(), out);
    out = std::copy(kRootPathEnd.begin(), kRootPathEnd.end(), out);
    *out = '\0';
    return true;
}

// One pass of the walk over the child in hand; false ends the walk. The child
// is released by its holder after the pass, whichever way the pass ends.
bool VisitChild(DirectoryService& service, ChildRef child, TextBuffer& type, TextBuffer& name,
                TextBuffer& rootPath) {
    // A child whose type cannot be read as text ends the walk; the sites
    // after it keep their directories. So does a type too long for its buffer.
    if (ReadPropertyText(service, child, kTypeProperty, type) != 0) return false;
    // Only the web sites have a root to clean; the service's other children
    // are passed over. The type is compared byte for byte, case and all.
    if (BufferText(type) != kWebSiteType) return true;

    // A site whose relative name cannot be read, or is too long for its
    // buffer, ends the walk in the same way.
    if (ReadPropertyText(service, child, kNameProperty, name) != 0) return false;
    // A root path too long for its buffer could not be bound: the site is
    // passed over as if its deletion had failed, and the walk goes on.
    if (!ComposeRootPath(BufferText(name), rootPath)) return true;
    // A site without the directory, or a refused deletion, does not stop the
    // walk and is not reported.
    DeleteChildObject(service, BufferText(rootPath), kVirtualDirClass, kVirtualDirName);
    return true;
}

}  // namespace

int RunRemoval(DirectoryService& service) noexcept {
    try {
        // The enumerator is freed at the end of the run only when it was built.
        Held<EnumeratorRef> enumerator(service);
        if (OpenChildEnumerator(service, kWebServicePath, enumerator.slot()) != 0) return 0;

        TextBuffer type{};
        TextBuffer name{};
        TextBuffer rootPath{};
        for (;;) {
            Held<ChildRef> child(service);
            // A failed step and "no child left" both end the walk.
            if (NextChild(service, enumerator.get(), child.slot()) != 0) break;
            if (!VisitChild(service, child.get(), type, name, rootPath)) break;
        }
    } catch (...) {
        // The holders have given back everything obtained; the uninstaller
        // hears of no failure.
    }
    return 0;
}

}  // namespace quillpost::uninst
