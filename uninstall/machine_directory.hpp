// The directory service of the machine the library runs on: on Windows the
// system's directory-service interfaces, which reach the web server's
// configuration when its provider is installed; elsewhere NoWebServerDirectory.
#pragma once

#include "uninstall/directory_service.hpp"

#include <memory>

namespace quillpost::uninst {

// A service for one removal run, or null when it cannot be made (out of
// memory). Whatever object library it initialises is given back when the
// service is destroyed, after the run has given back every reference.
std::unique_ptr<DirectoryService> MachineDirectory() noexcept;

}  // namespace quillpost::uninst
