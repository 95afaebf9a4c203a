#include "server/registration.hpp"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>

namespace quillpost::server {

std::string ModulePath() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&ModulePath), &info) || !info.dli_fname) return {};
    char full[PATH_MAX];
    return ::realpath(info.dli_fname, full) ? std::string(full) : std::string(info.dli_fname);
}

}  // namespace quillpost::server
