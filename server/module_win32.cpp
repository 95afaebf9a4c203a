#include "server/registration.hpp"

#include <windows.h>

namespace quillpost::server {

// The DLL that holds this function, by its full path.
std::string ModulePath() {
    HMODULE self = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCSTR>(&ModulePath), &self))
        return {};
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::string(path, length);
}

}  // namespace quillpost::server
