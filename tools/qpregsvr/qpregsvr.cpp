// qpregsvr [-u] LIBRARY: registers an in-process automation server by
// calling its DllRegisterServer, or unregisters it with -u. The registration
// goes to the registry file (QUILLPOST_REGISTRY, else
// /etc/quillpost/registry.reg), whose folder is made when it is missing.
#include "folder.hpp"
#include "server/automation.hpp"
#include "platform/registry_store.hpp"
#include "server/runtime/library.hpp"
#include "server/text16.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using EntryPoint = HRESULT(STDMETHODCALLTYPE*)();

int Usage() {
    std::fputs("usage: qpregsvr [-u] LIBRARY\n"
               "  registers the automation classes of LIBRARY (-u: removes them)\n", stderr);
    return 2;
}

// The library's own account of a failure, when it left one.
std::string Reason() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info) return {};
    BSTR description = nullptr;
    info->GetDescription(&description);
    info->Release();
    std::string text = quillpost::server::Utf16ToUtf8({description, SysStringLen(description)});
    SysFreeString(description);
    return text;
}

// Where the registry file is and what chooses it, for a message about it.
std::string RegistryHint(const std::string& path) {
    const char* variable = std::getenv("QUILLPOST_REGISTRY");
    if (variable && *variable) return "the registry file " + path + " is named by QUILLPOST_REGISTRY";
    return "the registry file is " + path + "; set QUILLPOST_REGISTRY to use another";
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    const char* library = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-u" || arg == "/u") unregister = true;
        else if (arg.starts_with('-') || library) return Usage();
        else library = argv[i];
    }
    if (!library) return Usage();
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    const std::string registry = quillpost::RegistryPath();
    if (!unregister) {
        const std::size_t slash = registry.rfind('/');
        std::string why;
        if (slash != std::string::npos && slash > 0 &&
            !quillpost::tools::MakeFolders(registry.substr(0, slash), why)) {
            std::fprintf(stderr, "qpregsvr: %s (%s)\n", why.c_str(), RegistryHint(registry).c_str());
            return 1;
        }
    }
    std::string why;
    void* handle = quillpost::server::LoadLibraryFile(library, why);
    if (!handle) {
        std::fprintf(stderr, "qpregsvr: cannot load %s: %s\n", library, why.c_str());
        return 1;
    }
    const auto call = reinterpret_cast<EntryPoint>(quillpost::server::FindEntryPoint(handle, entry));
    if (!call) {
        std::fprintf(stderr, "qpregsvr: %s has no entry point %s; it is no self-registering library\n", library, entry);
        return 1;
    }
    const HRESULT hr = call();
    if (FAILED(hr)) {
        const std::string reason = Reason();
        std::fprintf(stderr, "qpregsvr: %s in %s failed with 0x%08X%s%s\n", entry, library, static_cast<unsigned>(hr),
                     reason.empty() ? "" : ": ", reason.c_str());
        if (reason.find(registry) != std::string::npos)
            std::fprintf(stderr, "qpregsvr: %s\n", RegistryHint(registry).c_str());
        return 1;
    }
    std::printf("qpregsvr: %s in %s succeeded.\n", entry, library);
    return 0;
}
