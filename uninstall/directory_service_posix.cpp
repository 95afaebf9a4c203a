#include "uninstall/machine_directory.hpp"

#include <new>

namespace quillpost::uninst {

// No web server of this system keeps its configuration in the directory
// service, so a run here visits nothing.
std::unique_ptr<DirectoryService> MachineDirectory() noexcept {
    return std::unique_ptr<DirectoryService>(new (std::nothrow) NoWebServerDirectory);
}

}  // namespace quillpost::uninst
