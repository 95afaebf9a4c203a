// Error information: one record per thread, set by the object that failed
// and taken by the client that called it.
#include "server/automation.hpp"

#include <atomic>
#include <new>

namespace {

BSTR Copy(const OLECHAR* text) { return text ? SysAllocString(text) : nullptr; }

class ErrorRecord final : public IErrorInfo, public ICreateErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
            *object = static_cast<IErrorInfo*>(this);
        } else if (riid == IID_ICreateErrorInfo) {
            *object = static_cast<ICreateErrorInfo*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override {
        if (!guid) return E_POINTER;
        *guid = guid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) override { return Out(source_, source); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) override { return Out(description_, description); }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* helpFile) override { return Out(helpFile_, helpFile); }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* helpContext) override {
        if (!helpContext) return E_POINTER;
        *helpContext = helpContext_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override {
        guid_ = guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR source) override { return In(source, source_); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR description) override { return In(description, description_); }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR helpFile) override { return In(helpFile, helpFile_); }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD helpContext) override {
        helpContext_ = helpContext;
        return S_OK;
    }

private:
    ~ErrorRecord() {
        SysFreeString(source_);
        SysFreeString(description_);
        SysFreeString(helpFile_);
    }
    static HRESULT Out(BSTR value, BSTR* out) {
        if (!out) return E_POINTER;
        *out = value ? SysAllocStringLen(value, SysStringLen(value)) : nullptr;
        return value && !*out ? E_OUTOFMEMORY : S_OK;
    }
    static HRESULT In(const OLECHAR* value, BSTR& field) {
        BSTR copy = Copy(value);
        if (value && !copy) return E_OUTOFMEMORY;
        SysFreeString(field);
        field = copy;
        return S_OK;
    }

    std::atomic<ULONG> references_{1};
    GUID guid_ = IID_NULL;
    BSTR source_ = nullptr;
    BSTR description_ = nullptr;
    BSTR helpFile_ = nullptr;
    DWORD helpContext_ = 0;
};

// The thread's record; released when the thread ends.
struct ThreadRecord {
    IErrorInfo* info = nullptr;
    ~ThreadRecord() {
        if (info) info->Release();
    }
};
thread_local ThreadRecord current;

}  // namespace

extern "C" {

HRESULT CreateErrorInfo(ICreateErrorInfo** info) {
    if (!info) return E_POINTER;
    auto* record = new (std::nothrow) ErrorRecord;
    *info = record;
    return record ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* info) {
    if (info) info->AddRef();
    if (current.info) current.info->Release();
    current.info = info;
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** info) {
    if (!info) return E_POINTER;
    *info = current.info;
    current.info = nullptr;
    return *info ? S_OK : S_FALSE;
}

}  // extern "C"
