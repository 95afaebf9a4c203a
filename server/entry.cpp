// The four entry points of the in-process server and its class factories.
#include "server/automation.hpp"
#include "server/members.hpp"
#include "server/object.hpp"
#include "server/registration.hpp"
#include "server/text16.hpp"

#include <quillpost/error.hpp>

#include <atomic>
#include <new>

using namespace quillpost;
using namespace quillpost::server;

namespace {

class ClassFactory final : public SingleInterface<ClassFactory, IClassFactory, IID_IClassFactory> {
public:
    explicit ClassFactory(const ClassInfo& info) : info_(info) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        try {
            IDispatch* created = NewObject(info_, info_.create());
            const HRESULT hr = created->QueryInterface(riid, object);
            created->Release();
            return hr;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        CountLock(lock ? 1 : -1);
        return S_OK;
    }

private:
    friend SingleInterface;
    ~ClassFactory() = default;
    const ClassInfo& info_;
};

// A failed registration: the status, and the reason as the thread's error
// information for the tool that asked.
HRESULT Failed(const std::string& reason) {
    SetThreadError(nullptr, reason);
    return SELFREG_E_CLASS;
}

}  // namespace

extern "C" {

HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    const ClassInfo* info = ClassByClsid(clsid);
    if (!info) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) ClassFactory(*info);
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, object);
    factory->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE DllCanUnloadNow() { return ModuleIdle() ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE DllRegisterServer() {
    std::string reason = "the path of the library is unknown";
    const std::string path = ModulePath();
    return !path.empty() && Register(path, reason) ? S_OK : Failed(reason);
}

HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
    std::string reason;
    return Unregister(reason) ? S_OK : Failed(reason);
}

}  // extern "C"
