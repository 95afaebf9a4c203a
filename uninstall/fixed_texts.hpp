// The fixed texts of the removal run, 8-bit text of the system code page.
#pragma once

#include <string_view>

namespace quillpost::uninst {

// The web service, whose children are the sites and its other objects.
inline constexpr std::string_view kWebServicePath = "IIS://localhost/W3SVC";
// A site's path is this, then the site's relative name.
inline constexpr std::string_view kSitePathStart = "IIS://localhost/W3SVC/";
// The property that gives a child's type, and the type of a web site.
inline constexpr std::string_view kTypeProperty = "KeyType";
inline constexpr std::string_view kWebSiteType = "IIsWebServer";
// Asking for this property gives the object's own relative name instead.
inline constexpr std::string_view kNameProperty = "Name";
// A site's root is the site's path with this after it.
inline constexpr std::string_view kRootPathEnd = "/Root";
// The object deleted from each root: its class and relative name.
inline constexpr std::string_view kVirtualDirClass = "IIsWebVirtualDir";
inline constexpr std::string_view kVirtualDirName = "Quillpost";

}  // namespace quillpost::uninst
