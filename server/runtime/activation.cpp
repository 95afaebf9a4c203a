// Activation: a program identifier leads to a class identifier, a class
// identifier to the library registered as its in-process server, which is
// loaded once and asked for the class factory.
#include "server/automation.hpp"
#include "server/guid_text.hpp"
#include "platform/registry_store.hpp"
#include "server/runtime/library.hpp"
#include "server/text16.hpp"

#include <map>
#include <mutex>
#include <string>

using namespace quillpost;
using namespace quillpost::server;

namespace {

using GetClassObjectFn = HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDMETHODCALLTYPE*)();

// Libraries stay loaded until CoFreeUnusedLibraries finds them idle.
struct Loaded {
    std::mutex mutex;
    std::map<std::string, void*> libraries;
};
Loaded& loaded() {
    static Loaded* instance = new Loaded;  // lives to the end of the process, like the libraries
    return *instance;
}

std::string TextOf(LPCOLESTR text) {
    OleView view;
    if (text) view = text;
    return Utf16ToUtf8(view);
}

}  // namespace

extern "C" {

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (!clsid) return E_POINTER;
    const auto parsed = ParseGuid(TextOf(text));
    if (!parsed) return CO_E_CLASSSTRING;
    *clsid = *parsed;
    return S_OK;
}

int StringFromGUID2(REFGUID guid, LPOLESTR text, int size) {
    const OleText wide = Utf8ToUtf16(GuidText(guid));
    if (!text || size < static_cast<int>(wide.size()) + 1) return 0;
    for (std::size_t i = 0; i < wide.size(); ++i) text[i] = wide[i];
    text[wide.size()] = 0;
    return static_cast<int>(wide.size()) + 1;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
    if (!progId || !clsid) return E_INVALIDARG;
    const auto value = FindString(ReadRegistry(), "HKEY_CLASSES_ROOT\\" + TextOf(progId) + "\\CLSID", "");
    const auto parsed = value ? ParseGuid(*value) : std::nullopt;
    if (!parsed) return CO_E_CLASSSTRING;
    *clsid = *parsed;
    return S_OK;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    const auto path = FindString(ReadRegistry(), "HKEY_CLASSES_ROOT\\CLSID\\" + GuidText(clsid) + "\\InprocServer32", "");
    if (!path || path->empty()) return REGDB_E_CLASSNOTREG;
    void* library = nullptr;
    {
        Loaded& all = loaded();
        std::lock_guard lock(all.mutex);
        auto found = all.libraries.find(*path);
        if (found == all.libraries.end()) {
            std::string reason;
            library = LoadLibraryFile(*path, reason);
            if (!library) return CO_E_DLLNOTFOUND;
            found = all.libraries.emplace(*path, library).first;
        }
        library = found->second;
    }
    const auto entry = reinterpret_cast<GetClassObjectFn>(FindEntryPoint(library, "DllGetClassObject"));
    if (!entry) return CO_E_ERRORINDLL;
    return entry(clsid, riid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, riid, object);
    factory->Release();
    return hr;
}

void CoFreeUnusedLibraries() {
    Loaded& all = loaded();
    std::lock_guard lock(all.mutex);
    for (auto it = all.libraries.begin(); it != all.libraries.end();) {
        const auto canUnload = reinterpret_cast<CanUnloadNowFn>(FindEntryPoint(it->second, "DllCanUnloadNow"));
        if (canUnload && canUnload() == S_OK) {
            FreeLibraryFile(it->second);
            it = all.libraries.erase(it);
        } else {
            ++it;
        }
    }
}

}  // extern "C"
