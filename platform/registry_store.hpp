// The registry stand-in's file on disk: named by QUILLPOST_REGISTRY, else
// /etc/quillpost/registry.reg (as the component's own reader finds it).
#pragma once

#include "platform/registry_text.hpp"

#include <functional>
#include <string>

namespace quillpost {

std::string RegistryPath();

// The file as it is now; an absent file is an empty registry.
RegText ReadRegistry();

// Changes the file under an exclusive lock (the file's name with ".lock")
// held from reading to renaming, so two registrations at once each see the
// other's result. The new text goes to a temporary file beside it that
// replaces the old one in one rename, with the old file's permissions and
// owner (a new file is readable by its owner only); a symbolic link is
// followed, and the file it leads to is replaced. An empty or absent file
// starts as "REGEDIT4"; a file without an export header is left alone and
// refused.
// Returns false, with the reason, when the file could not be changed.
bool EditRegistry(const std::function<void(RegText&)>& change, std::string& reason);

}  // namespace quillpost
