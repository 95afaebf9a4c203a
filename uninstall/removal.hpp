// The removal run: deletes the web virtual directory "Quillpost" from the root
// of every web site of the web service.
#pragma once

#include "uninstall/directory_service.hpp"

namespace quillpost::uninst {

// One self-contained run against `service`: everything it obtains is given
// back before it returns. It always gives 0; nothing, not even an exception
// from the service, is reported to the uninstaller.
int RunRemoval(DirectoryService& service) noexcept;

}  // namespace quillpost::uninst
