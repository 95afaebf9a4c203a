// The automation objects: a dual object per class over the component's C++
// object, the enumerator of the collections, and the adapter through which
// the component calls objects that clients hand in.
#pragma once

#include "server/automation.hpp"
#include "server/members.hpp"

#include <quillpost/enumerator.hpp>
#include <quillpost/variant.hpp>

#include <string_view>

#include <atomic>
#include <memory>

namespace quillpost::server {

// A new dual object of `info` over `target`, with one reference.
IDispatch* NewObject(const ClassInfo& info, std::shared_ptr<Dispatch> target);
// A new enumerator over `items` (objects of `itemClass`), with one reference.
IEnumVARIANT* NewEnumerator(std::shared_ptr<Enumerator> items, const ClassInfo* itemClass);
// The C++ object behind one of our dual objects; null for any other object.
std::shared_ptr<Dispatch> TargetOf(IUnknown* object);
// A foreign object for the component to call by name.
std::shared_ptr<Dispatch> WrapForeign(IDispatch* object);
// The foreign object behind such a wrapper, or null.
IDispatch* ForeignOf(const Dispatch& object);

// The IDispatch slots of every dual object and the common path of its
// early-bound slots (arguments as variants in declaration order; `out`
// points at the declared result type).
namespace dual {
HRESULT STDMETHODCALLTYPE QueryInterface(void* self, REFIID riid, void** object);
ULONG STDMETHODCALLTYPE AddRef(void* self);
ULONG STDMETHODCALLTYPE Release(void* self);
HRESULT STDMETHODCALLTYPE GetTypeInfoCount(void* self, UINT* count);
HRESULT STDMETHODCALLTYPE GetTypeInfo(void* self, UINT index, LCID lcid, ITypeInfo** info);
HRESULT STDMETHODCALLTYPE GetIDsOfNames(void* self, REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                        DISPID* ids);
HRESULT STDMETHODCALLTYPE Invoke(void* self, DISPID id, REFIID riid, LCID lcid, WORD flags,
                                 DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                 UINT* argError);
HRESULT CallSlot(void* self, std::size_t slot, VARIANT* args, std::size_t count, void* out);
}  // namespace dual

// Names to dispatch identifiers for a class, as IDispatch and ITypeInfo
// answer them: the member's identifier first, then each parameter's position.
HRESULT IdsOfNames(const ClassInfo& info, LPOLESTR* names, UINT count, DISPID* ids);

// Sets the thread's error information: source "Quillpost", the description,
// and the interface that raised it when there is one.
void SetThreadError(const IID* raisedBy, std::string_view description);

// The count of live objects and factory locks, for DllCanUnloadNow.
void CountObject(int delta);
void CountLock(int delta);
bool ModuleIdle();

// IUnknown for an object that hands out one interface besides IUnknown,
// counted among the live objects for as long as it lives.
template <class Derived, class Interface, const IID& kInterfaceId>
class SingleInterface : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == kInterfaceId) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete static_cast<Derived*>(this);
        return left;
    }

protected:
    SingleInterface() { CountObject(1); }
    ~SingleInterface() { CountObject(-1); }

private:
    std::atomic<ULONG> references_{1};
};

}  // namespace quillpost::server
