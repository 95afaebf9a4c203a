#include "server/runtime/library.hpp"

#include <dlfcn.h>

namespace quillpost::server {

void* LoadLibraryFile(const std::string& path, std::string& reason) {
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* message = ::dlerror();
        reason = message ? message : "cannot load " + path;
    }
    return library;
}

void* FindEntryPoint(void* library, const char* name) { return ::dlsym(library, name); }

void FreeLibraryFile(void* library) { ::dlclose(library); }

}  // namespace quillpost::server
