#include "server/object.hpp"

#include "server/convert.hpp"
#include "server/text16.hpp"
#include "server/typeinfo.hpp"

#include <quillpost/detail/errors.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>
#include <unordered_map>

namespace quillpost::server {

namespace {

std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

// The platform's status of a component error: 0x800A0000 plus its number.
HRESULT StatusOf(const Error& error) {
    return static_cast<HRESULT>(0x800A0000u + (static_cast<std::uint32_t>(error.number()) & 0xFFFFu));
}

// Both tables of function pointers come first, so that each interface
// pointer is the address of its own table pointer.
struct Object {
    const void* const* dual;
    const void* const* supportErrorInfo;
    std::atomic<ULONG> references{1};
    const ClassInfo* info;
    std::shared_ptr<Dispatch> target;
};

Object* Self(void* self) { return static_cast<Object*>(self); }

// One dual object per C++ object, so that every read of a property hands out
// the same object while a client holds it. The table keeps nothing alive: a
// dual object leaves it when its last reference goes, and it holds the C++
// object's address only for as long as it holds the C++ object itself. The
// table exists only while it holds an object, so it is neither left behind
// when the library is unloaded nor gone when a client releases an object
// during the process's exit. The lock makes a lookup and the release of the
// last reference one step each, since a reference may be released on
// another thread than the one that reads the property.
using WrapperTable = std::unordered_map<const Dispatch*, Object*>;
std::mutex wrappersLock;
WrapperTable* wrappers = nullptr;

// Takes the entry of `target` out when it is `o`, and the table away once it
// is empty.
void ForgetWrapper(const Dispatch* target, const Object* o) {
    if (!wrappers) return;
    if (const auto at = wrappers->find(target); at != wrappers->end() && at->second == o) wrappers->erase(at);
    if (wrappers->empty()) {
        delete wrappers;
        wrappers = nullptr;
    }
}

Object* FromSupportErrorInfo(void* self) {
    return reinterpret_cast<Object*>(static_cast<char*>(self) - sizeof(void*));
}

HRESULT STDMETHODCALLTYPE SeiQueryInterface(void* self, REFIID riid, void** object) {
    return dual::QueryInterface(FromSupportErrorInfo(self), riid, object);
}
ULONG STDMETHODCALLTYPE SeiAddRef(void* self) { return dual::AddRef(FromSupportErrorInfo(self)); }
ULONG STDMETHODCALLTYPE SeiRelease(void* self) { return dual::Release(FromSupportErrorInfo(self)); }
HRESULT STDMETHODCALLTYPE SeiInterfaceSupportsErrorInfo(void* self, REFIID riid) {
    return riid == FromSupportErrorInfo(self)->info->iid ? S_OK : S_FALSE;
}
const void* const kSupportErrorInfoVtable[] = {
    reinterpret_cast<const void*>(&SeiQueryInterface), reinterpret_cast<const void*>(&SeiAddRef),
    reinterpret_cast<const void*>(&SeiRelease), reinterpret_cast<const void*>(&SeiInterfaceSupportsErrorInfo)};

// The error for the early-bound caller: the status, and the thread's error
// information with number, source and description.
HRESULT ReportError(const ClassInfo& info, const Error& error) {
    SetThreadError(&info.iid, error.description());
    return StatusOf(error);
}

// What a script sees for each status that the binding itself returns: the
// error that a script host reports for it, with its description.
struct StatusError {
    HRESULT status;
    Err error;
};
constexpr StatusError kStatusErrors[] = {
    {DISP_E_MEMBERNOTFOUND, Err::NoSuchMember},
    {DISP_E_UNKNOWNNAME, Err::NoSuchMember},
    {DISP_E_TYPEMISMATCH, Err::TypeMismatch},
    {DISP_E_OVERFLOW, Err::Overflow},
    {DISP_E_PARAMNOTOPTIONAL, Err::ArgumentNotOptional},
    {DISP_E_BADPARAMCOUNT, Err::WrongArgumentCount},
    {DISP_E_PARAMNOTFOUND, Err::NamedArgumentNotFound},
    {DISP_E_BADVARTYPE, Err::UnsupportedVarType},
    {E_OUTOFMEMORY, Err::OutOfMemory},
};

// A failed status with the thread's error information set for it, so that
// a client never reads the record of an earlier call. Statuses not in the
// table (a wrong interface identifier, a null pointer) are an invalid call.
HRESULT Failure(const ClassInfo& info, HRESULT status) {
    Err error = Err::InvalidProcedureCall;
    for (const StatusError& row : kStatusErrors)
        if (row.status == status) error = row.error;
    SetThreadError(&info.iid, error_info(error).description);
    return status;
}

void FillException(EXCEPINFO* exception, const Error& error) {
    if (!exception) return;
    *exception = EXCEPINFO{};
    exception->scode = StatusOf(error);
    try {
        exception->bstrSource = NewBstr(kErrorSource);
        exception->bstrDescription = NewBstr(error.description());
    } catch (...) {
        // The status tells the error without its texts.
    }
}

const Member* FindMember(const ClassInfo& info, DISPID id, WORD flags) {
    const auto find = [&](Kind kind) -> const Member* {
        for (const Member& m : info.members)
            if (m.id == id && m.kind == kind) return &m;
        return nullptr;
    };
    // A put by reference assigns an object; no property takes one, so only
    // a put by value finds the put.
    if (flags & DISPATCH_PROPERTYPUT) return find(Kind::Put);
    if (flags & DISPATCH_PROPERTYPUTREF) return nullptr;
    const Member* found = nullptr;
    if (flags & DISPATCH_METHOD) found = find(Kind::Method);
    if (!found && (flags & DISPATCH_PROPERTYGET)) found = find(Kind::Get);
    return found;
}

bool IsMissing(const VARIANT* v) {
    if (!v) return true;
    v = Referent(*v);
    if (!v) return false;
    if (V_VT(v) == VT_ERROR) return V_ERROR(v) == DISP_E_PARAMNOTFOUND;
    if (V_VT(v) == (VT_ERROR | VT_BYREF)) return V_BYREF(v) && *static_cast<SCODE*>(V_BYREF(v)) == DISP_E_PARAMNOTFOUND;
    return false;
}

constexpr std::size_t kMostArgs = 8;

// The arguments of `m` in declaration order, converted to their declared
// types. `where[i]` is the index in the caller's array of argument i, for
// the position of a type mismatch.
HRESULT ConvertArgs(const Member& m, const std::array<const VARIANT*, kMostArgs>& ordered,
                    const std::array<UINT, kMostArgs>& where, std::array<Variant, kMostArgs>& args,
                    UINT* argError) {
    for (std::size_t i = 0; i < m.params.size(); ++i) {
        const Param& p = m.params[i];
        // Left out, or given as the missing value: an optional parameter
        // receives the missing value, and so does a required variant, which
        // the member itself judges; any other required one cannot do without.
        if (IsMissing(ordered[i]) && (!ordered[i] || p.type != VT_VARIANT)) {
            if (!p.optional) return DISP_E_PARAMNOTOPTIONAL;
            args[i] = Variant::missing();
            continue;
        }
        try {
            args[i] = Coerce(FromVariant(*ordered[i]), p.type);
        } catch (...) {
            const Error error = ErrorFromCurrentException();
            if (argError) *argError = where[i];
            return error.number() == error_info(Err::Overflow).number ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
        }
    }
    return S_OK;
}

// Stores a converted result where an early-bound caller asked for it.
void StoreResult(VARIANT& value, VARTYPE type, void* out) {
    switch (type) {
    case VT_BSTR: *static_cast<BSTR*>(out) = V_BSTR(&value); break;
    case VT_I2: *static_cast<SHORT*>(out) = V_I2(&value); break;
    case VT_I4: *static_cast<LONG*>(out) = V_I4(&value); break;
    case VT_R4: *static_cast<FLOAT*>(out) = V_R4(&value); break;
    case VT_DATE: *static_cast<DATE*>(out) = V_DATE(&value); break;
    case VT_BOOL: *static_cast<VARIANT_BOOL*>(out) = V_BOOL(&value); break;
    case VT_DISPATCH: *static_cast<IDispatch**>(out) = V_DISPATCH(&value); break;
    case VT_UNKNOWN: *static_cast<IUnknown**>(out) = V_UNKNOWN(&value); break;
    case VT_VARIANT: *static_cast<VARIANT*>(out) = value; break;
    default: VariantClear(&value); return;
    }
    VariantInit(&value);  // ownership went to the caller
}

// ---- the enumerator ------------------------------------------------------

class EnumVariant final : public SingleInterface<EnumVariant, IEnumVARIANT, IID_IEnumVARIANT> {
public:
    EnumVariant(std::shared_ptr<Enumerator> items, const ClassInfo* itemClass)
        : items_(std::move(items)), itemClass_(itemClass) {}
    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
        if (!items && count) return E_POINTER;
        ULONG done = 0;
        try {
            Variant item;
            while (done < count && items_->Next(item)) {
                const HRESULT hr = ToVariant(item, items[done], itemClass_);
                if (FAILED(hr)) throw Error(13, "Type mismatch");
                ++done;
            }
        } catch (...) {
            for (ULONG i = 0; i < done; ++i) VariantClear(&items[i]);
            if (fetched) *fetched = 0;
            return E_OUTOFMEMORY;
        }
        if (fetched) *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override { return items_->Skip(count) ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Reset() override {
        items_->Reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override {
        if (!copy) return E_POINTER;
        *copy = new (std::nothrow) EnumVariant(items_->Clone(), itemClass_);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    friend SingleInterface;
    ~EnumVariant() = default;
    std::shared_ptr<Enumerator> items_;
    const ClassInfo* itemClass_;
};

// ---- objects handed in by clients ---------------------------------------

// The extended dispatch interface's identifier, which not every tool chain's
// libraries carry.
constexpr IID kDispatchExIid = {0xA6EF9860, 0xC720, 0x11D0, {0x93, 0x37, 0x00, 0xA0, 0xC9, 0x0D, 0xCA, 0xA9}};

class Foreign final : public Dispatch {
public:
    explicit Foreign(IDispatch* object) : object_(object) { object_->AddRef(); }
    ~Foreign() override { object_->Release(); }
    Foreign(const Foreign&) = delete;
    Foreign& operator=(const Foreign&) = delete;

    IDispatch* object() const { return object_; }

    Variant DefaultValue() override { return Call(DISPID_VALUE, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, "value"); }

    Variant Invoke(std::string_view name, CallKind kind, std::span<const Variant> args) override {
        OleText wide = Utf8ToUtf16(name);
        LPOLESTR names[] = {wide.data()};
        DISPID id = DISPID_UNKNOWN;
        if (FAILED(object_->GetIDsOfNames(IID_NULL, names, 1, 0x409, &id)) && !FindThroughExtendedDispatch(wide, id))
            raise(Err::NoSuchMember);
        const WORD flags = kind == CallKind::PropertyPut   ? DISPATCH_PROPERTYPUT
                           : kind == CallKind::PropertyGet ? DISPATCH_PROPERTYGET | DISPATCH_METHOD
                                                           : DISPATCH_METHOD;
        return Call(id, flags, args, name);
    }

private:
    // A script engine's own objects (a page's context written as a script
    // class, say) may answer names only through the extended interface.
    bool FindThroughExtendedDispatch(const OleText& name, DISPID& id) {
        IDispatchEx* extended = nullptr;
        if (FAILED(object_->QueryInterface(kDispatchExIid, reinterpret_cast<void**>(&extended))) || !extended)
            return false;
        BSTR text = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
        const HRESULT hr = text ? extended->GetDispID(text, fdexNameCaseInsensitive, &id) : E_OUTOFMEMORY;
        SysFreeString(text);
        extended->Release();
        return SUCCEEDED(hr);
    }

    Variant Call(DISPID id, WORD flags, std::span<const Variant> args, std::string_view name) {
        std::vector<VARIANT> raw(args.size());
        struct Cleanup {
            std::vector<VARIANT>& raw;
            ~Cleanup() {
                for (auto& v : raw) VariantClear(&v);
            }
        } cleanup{raw};
        for (std::size_t i = 0; i < args.size(); ++i)
            if (FAILED(ToVariant(args[i], raw[args.size() - 1 - i]))) raise(Err::TypeMismatch);
        DISPID putId = DISPID_PROPERTYPUT;
        DISPPARAMS params{raw.data(), nullptr, static_cast<UINT>(raw.size()), 0};
        if (flags & DISPATCH_PROPERTYPUT) {
            params.rgdispidNamedArgs = &putId;
            params.cNamedArgs = 1;
        }
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception{};
        UINT argError = 0;
        const HRESULT hr = object_->Invoke(id, IID_NULL, 0x409, flags, &params, &result, &exception, &argError);
        if (hr == DISP_E_EXCEPTION) {
            if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
            const std::string description = TextOfBstr(exception.bstrDescription, SysStringLen(exception.bstrDescription));
            const auto scode = static_cast<std::uint32_t>(exception.scode);
            const std::int32_t number = (scode & 0xFFFF0000u) == 0x800A0000u ? static_cast<std::int32_t>(scode & 0xFFFFu)
                                        : exception.wCode ? exception.wCode
                                                          : static_cast<std::int32_t>(scode);
            SysFreeString(exception.bstrSource);
            SysFreeString(exception.bstrDescription);
            SysFreeString(exception.bstrHelpFile);
            throw Error(number, description);
        }
        if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME) raise(Err::NoSuchMember);
        if (hr == DISP_E_TYPEMISMATCH) raise(Err::TypeMismatch);
        if (hr == DISP_E_OVERFLOW) raise(Err::Overflow);
        if (hr == DISP_E_PARAMNOTOPTIONAL) raise(Err::ArgumentNotOptional);
        if (hr == DISP_E_BADPARAMCOUNT) raise(Err::WrongArgumentCount);
        if (FAILED(hr)) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
            raise(Err::InternalError, std::string(name) + " failed with " + code);
        }
        Variant value;
        try {
            value = FromVariant(result);
        } catch (...) {
            VariantClear(&result);
            throw;
        }
        VariantClear(&result);
        return value;
    }

    IDispatch* object_;
};

}  // namespace

// ---- the dual object -------------------------------------------------------

IDispatch* NewObject(const ClassInfo& info, std::shared_ptr<Dispatch> target) {
    const std::lock_guard hold(wrappersLock);
    if (!wrappers) wrappers = new WrapperTable;
    const Dispatch* key = target.get();
    auto [at, added] = wrappers->try_emplace(key, nullptr);
    if (!added && at->second->info == &info) {
        ++at->second->references;
        return reinterpret_cast<IDispatch*>(at->second);
    }
    Object* made = nullptr;
    try {
        made = new Object{DualVtable(info), kSupportErrorInfoVtable, {1}, &info, std::move(target)};
    } catch (...) {
        ForgetWrapper(key, nullptr);
        throw;
    }
    at->second = made;
    CountObject(1);
    return reinterpret_cast<IDispatch*>(made);
}

IEnumVARIANT* NewEnumerator(std::shared_ptr<Enumerator> items, const ClassInfo* itemClass) {
    return new EnumVariant(std::move(items), itemClass);
}

std::shared_ptr<Dispatch> TargetOf(IUnknown* object) {
    if (!object) return nullptr;
    // Our dual objects are known by their table of function pointers.
    const auto* candidate = reinterpret_cast<Object*>(object);
    for (const ClassInfo* info : Library().classes)
        if (candidate->dual == DualVtable(*info)) return candidate->target;
    return nullptr;
}

std::shared_ptr<Dispatch> WrapForeign(IDispatch* object) { return std::make_shared<Foreign>(object); }

IDispatch* ForeignOf(const Dispatch& object) {
    const auto* foreign = dynamic_cast<const Foreign*>(&object);
    return foreign ? foreign->object() : nullptr;
}

HRESULT IdsOfNames(const ClassInfo& info, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const Member* found = nullptr;
    const OleView name = names[0] ? OleView(names[0]) : OleView();
    for (const Member& m : info.members)
        if (EqualsNoCase(name, m.name)) {
            found = &m;
            break;
        }
    if (!found) return DISP_E_UNKNOWNNAME;
    ids[0] = found->id;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
        // Parameter names of the member (its get and its method share them).
        const OleView param = names[i] ? OleView(names[i]) : OleView();
        for (std::size_t k = 0; k < found->params.size(); ++k)
            if (EqualsNoCase(param, found->params[k].name)) ids[i] = static_cast<DISPID>(k);
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

void SetThreadError(const IID* raisedBy, std::string_view description) {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create)) || !create) return;
    OleText source = Utf8ToUtf16(kErrorSource);
    OleText text = Utf8ToUtf16(description);
    if (raisedBy) create->SetGUID(*raisedBy);
    create->SetSource(source.data());
    create->SetDescription(text.data());
    IErrorInfo* record = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&record)))) {
        SetErrorInfo(0, record);
        record->Release();
    }
    create->Release();
}

void CountObject(int delta) { liveObjects += delta; }
// A lock released more often than it was taken leaves the count at zero,
// so that the library can still be unloaded.
void CountLock(int delta) {
    long now = serverLocks.load();
    while (!serverLocks.compare_exchange_weak(now, std::max(0L, now + delta))) {
    }
}
bool ModuleIdle() { return liveObjects == 0 && serverLocks == 0; }

namespace dual {

HRESULT STDMETHODCALLTYPE QueryInterface(void* self, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    Object* o = Self(self);
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == o->info->iid) {
        *object = &o->dual;
    } else if (riid == IID_ISupportErrorInfo) {
        *object = &o->supportErrorInfo;
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ++o->references;
    return S_OK;
}

ULONG STDMETHODCALLTYPE AddRef(void* self) { return ++Self(self)->references; }

ULONG STDMETHODCALLTYPE Release(void* self) {
    Object* o = Self(self);
    std::unique_lock hold(wrappersLock);
    const ULONG left = --o->references;
    if (left != 0) return left;
    ForgetWrapper(o->target.get(), o);
    hold.unlock();
    delete o;
    CountObject(-1);
    return 0;
}

HRESULT STDMETHODCALLTYPE GetTypeInfoCount(void*, UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GetTypeInfo(void* self, UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    *info = NewTypeInfo(*Self(self)->info);
    return *info ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE GetIDsOfNames(void* self, REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return IdsOfNames(*Self(self)->info, names, count, ids);
}

namespace {

HRESULT InvokeMember(Object* o, DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                     VARIANT* result, EXCEPINFO* exception, UINT* argError) {
    // The identifier is reserved and must be IID_NULL.
    if (!(riid == IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    if (params->cNamedArgs > params->cArgs || (params->cArgs && !params->rgvarg) ||
        (params->cNamedArgs && !params->rgdispidNamedArgs))
        return E_INVALIDARG;
    const Member* m = FindMember(*o->info, id, flags);
    if (!m) return DISP_E_MEMBERNOTFOUND;
    for (UINT i = 0; i < params->cArgs; ++i)
        if (FAILED(CheckVarType(params->rgvarg[i]))) {
            if (argError) *argError = i;
            return DISP_E_BADVARTYPE;
        }

    // The arguments in declaration order: positional ones come last in the
    // caller's array, named ones carry their position (a put's value is
    // named DISPID_PROPERTYPUT and goes last).
    std::array<const VARIANT*, kMostArgs> ordered{};
    std::array<UINT, kMostArgs> where{};
    const std::size_t declared = m->params.size();
    const UINT named = params->cNamedArgs;
    UINT positional = params->cArgs - named;
    UINT firstNamed = 0;
    if (m->kind == Kind::Put) {
        if (named > 1 || (named == 1 && params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)) return DISP_E_PARAMNOTFOUND;
        if (params->cArgs == 0) return DISP_E_PARAMNOTOPTIONAL;
        // The value is the first element whether it was named or not.
        ordered[declared - 1] = &params->rgvarg[0];
        where[declared - 1] = 0;
        firstNamed = 1;
        positional = params->cArgs - 1;
        if (positional > declared - 1) return DISP_E_BADPARAMCOUNT;
    } else {
        // A parameter takes one argument: named after one given by position,
        // or named twice, it is not found.
        for (UINT k = 0; k < named; ++k) {
            const DISPID position = params->rgdispidNamedArgs[k];
            if (position < 0 || static_cast<std::size_t>(position) >= declared ||
                static_cast<UINT>(position) < positional || ordered[static_cast<std::size_t>(position)]) {
                if (argError) *argError = k;
                return DISP_E_PARAMNOTFOUND;
            }
            ordered[static_cast<std::size_t>(position)] = &params->rgvarg[k];
            where[static_cast<std::size_t>(position)] = k;
        }
        firstNamed = named;
    }
    // More positional arguments than the member takes: a get whose result is
    // an object passes the rest to that object's default member.
    UINT extra = 0;
    if (positional > declared - (m->kind == Kind::Put ? 1 : 0)) {
        if (m->kind != Kind::Get || m->result != VT_DISPATCH || named != 0) return DISP_E_BADPARAMCOUNT;
        extra = static_cast<UINT>(positional - declared);
        positional = static_cast<UINT>(declared);
    }
    if (positional > kMostArgs) return DISP_E_BADPARAMCOUNT;
    for (UINT i = 0; i < positional; ++i) {
        const UINT index = params->cArgs - 1 - i;
        if (index < firstNamed) break;
        ordered[i] = &params->rgvarg[index];
        where[i] = index;
    }

    std::array<Variant, kMostArgs> args;
    if (const HRESULT hr = ConvertArgs(*m, ordered, where, args, argError); FAILED(hr)) return hr;
    VARIANT value;
    VariantInit(&value);
    try {
        const Variant returned = m->call(*o->target, std::span<const Variant>(args.data(), declared));
        if (m->result == VT_EMPTY) {
            if (result) VariantInit(result);
            return S_OK;
        }
        const HRESULT hr = ToVariant(Coerce(returned, m->result), value, m->resultClass);
        if (FAILED(hr)) return hr;
    } catch (...) {
        // The error reaches the caller twice: in the exception block when it
        // gave one, and as the thread's error information in any case.
        const Error error = ErrorFromCurrentException();
        SetThreadError(&o->info->iid, error.description());
        FillException(exception, error);
        return DISP_E_EXCEPTION;
    }
    if (extra) {
        IDispatch* inner = V_DISPATCH(&value);
        if (!inner) {
            VariantClear(&value);
            return DISP_E_MEMBERNOTFOUND;
        }
        DISPPARAMS rest{params->rgvarg + firstNamed, nullptr, extra, 0};
        const HRESULT hr = inner->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                         &rest, result, exception, argError);
        VariantClear(&value);
        return hr;
    }
    if (result) *result = value;
    else VariantClear(&value);
    return S_OK;
}

}  // namespace

HRESULT STDMETHODCALLTYPE Invoke(void* self, DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* exception, UINT* argError) {
    Object* o = Self(self);
    const HRESULT hr = InvokeMember(o, id, riid, lcid, flags, params, result, exception, argError);
    // A component error set its record already; every other failure gets
    // its own here.
    return FAILED(hr) && hr != DISP_E_EXCEPTION ? Failure(*o->info, hr) : hr;
}

HRESULT CallSlot(void* self, std::size_t slot, VARIANT* raw, std::size_t count, void* out) {
    Object* o = Self(self);
    const Member& m = o->info->members[slot];
    if (m.result != VT_EMPTY && !out) return Failure(*o->info, E_POINTER);
    try {
        std::array<Variant, kMostArgs> args;
        for (std::size_t i = 0; i < count; ++i) {
            const Param& p = m.params[i];
            // A variant parameter arrives as the caller's own variant: that
            // is the argument, read by the rules of a late-bound one.
            const VARIANT* arg = &raw[i];
            if (V_VT(arg) == (VT_VARIANT | VT_BYREF) && !(arg = V_VARIANTREF(arg))) return Failure(*o->info, E_POINTER);
            if (FAILED(CheckVarType(*arg))) return Failure(*o->info, DISP_E_BADVARTYPE);
            args[i] = p.optional && IsMissing(arg) ? Variant::missing() : Coerce(FromVariant(*arg), p.type);
        }
        const Variant returned = m.call(*o->target, std::span<const Variant>(args.data(), count));
        if (m.result == VT_EMPTY) return S_OK;
        VARIANT value;
        const HRESULT hr = ToVariant(Coerce(returned, m.result), value, m.resultClass);
        if (FAILED(hr)) return Failure(*o->info, hr);
        StoreResult(value, m.result, out);
        return S_OK;
    } catch (...) {
        return ReportError(*o->info, ErrorFromCurrentException());
    }
}

}  // namespace dual

}  // namespace quillpost::server
