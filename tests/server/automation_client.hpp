// What the binding's tests need of an automation client: owned strings and
// variants, creating a class through its factory, and IDispatch calls with
// arguments in declaration order.
#pragma once

#include "server/automation.hpp"
#include "server/text16.hpp"

#include <string>
#include <vector>

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object);
extern "C" HRESULT DllCanUnloadNow();
extern "C" HRESULT DllRegisterServer();
extern "C" HRESULT DllUnregisterServer();

namespace quillpost::test {

struct Var {
    VARIANT v;
    Var() { VariantInit(&v); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
    Var(Var&& other) noexcept : v(other.v) { VariantInit(&other.v); }
    ~Var() { VariantClear(&v); }

    static Var Text(const std::string& text) {
        Var out;
        const std::u16string wide = server::Utf8ToUtf16(text);
        V_VT(&out.v) = VT_BSTR;
        V_BSTR(&out.v) = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        return out;
    }
    static Var I4(LONG n) { return Of(VT_I4, [&](VARIANT& x) { V_I4(&x) = n; }); }
    static Var I2(SHORT n) { return Of(VT_I2, [&](VARIANT& x) { V_I2(&x) = n; }); }
    static Var R8(double d) { return Of(VT_R8, [&](VARIANT& x) { V_R8(&x) = d; }); }
    static Var Bool(bool b) { return Of(VT_BOOL, [&](VARIANT& x) { V_BOOL(&x) = b ? VARIANT_TRUE : VARIANT_FALSE; }); }
    static Var Missing() { return Of(VT_ERROR, [](VARIANT& x) { V_ERROR(&x) = DISP_E_PARAMNOTFOUND; }); }
    static Var Null() { return Of(VT_NULL, [](VARIANT&) {}); }
    static Var Ref(Var& target) {  // a by-reference variant to another
        return Of(VT_VARIANT | VT_BYREF, [&](VARIANT& x) { V_VARIANTREF(&x) = &target.v; });
    }
    static Var Object(IDispatch* d) {
        d->AddRef();
        return Of(VT_DISPATCH, [&](VARIANT& x) { V_DISPATCH(&x) = d; });
    }

    std::string text() const { return V_VT(&v) == VT_BSTR ? server::Utf16ToUtf8({V_BSTR(&v), SysStringLen(V_BSTR(&v))}) : "<not text>"; }

private:
    template <class F>
    static Var Of(unsigned vt, F fill) {
        Var out;
        V_VT(&out.v) = static_cast<VARTYPE>(vt);
        fill(out.v);
        return out;
    }
};

struct Outcome {
    HRESULT hr = S_OK;
    Var result;
    EXCEPINFO exception{};
    UINT argError = ~0u;
    Outcome() = default;
    Outcome(Outcome&& o) noexcept : hr(o.hr), result(std::move(o.result)), exception(o.exception), argError(o.argError) {
        o.exception = EXCEPINFO{};
    }
    ~Outcome() {
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }
    std::string source() const { return server::Utf16ToUtf8({exception.bstrSource, SysStringLen(exception.bstrSource)}); }
    std::string description() const {
        return server::Utf16ToUtf8({exception.bstrDescription, SysStringLen(exception.bstrDescription)});
    }
};

// Arguments in declaration order; a put's value is named DISPID_PROPERTYPUT.
inline Outcome Call(IDispatch* d, DISPID id, WORD flags, std::vector<Var> args = {}) {
    std::vector<VARIANT> raw;
    for (auto it = args.rbegin(); it != args.rend(); ++it) raw.push_back(it->v);
    DISPID put = DISPID_PROPERTYPUT;
    const bool isPut = flags & DISPATCH_PROPERTYPUT;
    DISPPARAMS params{raw.data(), isPut ? &put : nullptr, static_cast<UINT>(raw.size()), isPut ? 1u : 0u};
    Outcome out;
    out.hr = d->Invoke(id, IID_NULL, 0x409, flags, &params, &out.result.v, &out.exception, &out.argError);
    return out;
}

inline DISPID IdOf(IDispatch* d, const std::string& name) {
    std::u16string wide = server::Utf8ToUtf16(name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = 12345;
    return FAILED(d->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id)) ? DISPID_UNKNOWN : id;
}

inline Outcome Get(IDispatch* d, const std::string& name, std::vector<Var> args = {}) {
    return Call(d, IdOf(d, name), DISPATCH_PROPERTYGET | DISPATCH_METHOD, std::move(args));
}
inline Outcome Put(IDispatch* d, const std::string& name, Var value) {
    std::vector<Var> args;
    args.push_back(std::move(value));
    return Call(d, IdOf(d, name), DISPATCH_PROPERTYPUT, std::move(args));
}

// A new object of the class, through its factory.
inline IDispatch* Create(const CLSID& clsid) {
    IClassFactory* factory = nullptr;
    if (FAILED(DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return nullptr;
    IDispatch* object = nullptr;
    factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object));
    factory->Release();
    return object;
}

}  // namespace quillpost::test
