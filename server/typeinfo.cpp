#include "server/typeinfo.hpp"

#include "server/object.hpp"
#include "server/text16.hpp"

#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <vector>

namespace quillpost::server {

namespace {

constexpr WORD kInterfaceFlags = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FOLEAUTOMATION |
                                 TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FHIDDEN;

BSTR Text(const char* name) {
    const OleText wide = Utf8ToUtf16(name);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// The types of the library in its order: the seven dual interfaces, the
// priority enumeration, then the seven classes. A type is referred to (as
// HREFTYPE) by its index; the two interfaces of the standard automation
// library that the dual interfaces derive from lie outside it.
enum class Shape : std::uint8_t { Interface, Enumeration, Class, Standard };
constexpr HREFTYPE kDispatchRef = 0x10000;
constexpr HREFTYPE kUnknownRef = 0x10001;
// Enumeration values are members 0x40000000 onwards, as the platform's tools
// number them.
constexpr MEMBERID kFirstValueId = 0x40000000;

std::size_t ClassCount() { return Library().classes.size(); }
UINT TypeCount() { return static_cast<UINT>(2 * ClassCount() + 1); }

struct TypeAt {
    Shape shape;
    const ClassInfo* info;  // null for the enumeration
};
bool Locate(UINT index, TypeAt& at) {
    const std::size_t classes = ClassCount();
    if (index < classes) at = {Shape::Interface, Library().classes[index]};
    else if (index == classes) at = {Shape::Enumeration, nullptr};
    else if (index < TypeCount()) at = {Shape::Class, Library().classes[index - classes - 1]};
    else return false;
    return true;
}
const char* NameOf(const TypeAt& at) {
    return at.shape == Shape::Interface ? at.info->interfaceName
           : at.shape == Shape::Class   ? at.info->name
                                        : Library().enumName;
}
const GUID& GuidOf(const TypeAt& at) {
    return at.shape == Shape::Interface ? at.info->iid : at.shape == Shape::Class ? at.info->clsid : Library().enumGuid;
}
TYPEKIND KindOf(const TypeAt& at) {
    return at.shape == Shape::Interface ? TKIND_DISPATCH : at.shape == Shape::Class ? TKIND_COCLASS : TKIND_ENUM;
}

ITypeInfo* NewTypeInfoAt(HREFTYPE ref);
ITypeLib* NewTypeLib();

// The descriptions are made once per type information object and handed out
// from it; releasing them gives nothing back, the object owns them.
class TypeInfo final : public SingleInterface<TypeInfo, ITypeInfo, IID_ITypeInfo> {
public:
    TypeInfo(Shape shape, const ClassInfo* info, UINT index) : shape_(shape), info_(info), index_(index) {
        attributes_ = TYPEATTR{};
        attributes_.lcid = Library().lcid;
        attributes_.memidConstructor = MEMBERID_NIL;
        attributes_.memidDestructor = MEMBERID_NIL;
        attributes_.cbSizeInstance = sizeof(void*);
        attributes_.cbAlignment = sizeof(void*);
        attributes_.wMajorVerNum = Library().majorVersion;
        attributes_.wMinorVerNum = Library().minorVersion;
        switch (shape) {
        case Shape::Interface: DescribeInterface(); break;
        case Shape::Enumeration: DescribeEnumeration(); break;
        case Shape::Class:
            attributes_.guid = info->clsid;
            attributes_.typekind = TKIND_COCLASS;
            attributes_.cImplTypes = 1;
            attributes_.wTypeFlags = TYPEFLAG_FCANCREATE;
            break;
        case Shape::Standard:
            attributes_.guid = index == kDispatchRef ? IID_IDispatch : IID_IUnknown;
            attributes_.typekind = TKIND_INTERFACE;
            attributes_.cImplTypes = index == kDispatchRef ? 1 : 0;
            break;
        }
    }

    HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** attr) override {
        if (!attr) return E_POINTER;
        *attr = &attributes_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** desc) override {
        if (!desc) return E_POINTER;
        if (index >= functions_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *desc = &functions_[index];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** desc) override {
        if (!desc) return E_POINTER;
        if (index >= variables_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *desc = &variables_[index];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID id, BSTR* names, UINT max, UINT* count) override {
        if (!names || !count) return E_POINTER;
        *count = 0;
        if (shape_ == Shape::Enumeration) {
            const char* name = ValueName(id);
            if (!name) return TYPE_E_ELEMENTNOTFOUND;
            if (max > 0) names[(*count)++] = Text(name);
            return S_OK;
        }
        const Member* found = nullptr;
        for (const Member& m : Members())
            if (m.id == id && (!found || found->kind == Kind::Put)) found = &m;
        if (!found) return TYPE_E_ELEMENTNOTFOUND;
        if (max == 0) return S_OK;
        names[(*count)++] = Text(found->name);
        // A put's value has no name of its own.
        const std::size_t named = found->kind == Kind::Put ? found->params.size() - 1 : found->params.size();
        for (std::size_t i = 0; i < named && *count < max; ++i) names[(*count)++] = Text(found->params[i].name);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* ref) override {
        if (!ref) return E_POINTER;
        if (index >= attributes_.cImplTypes) return TYPE_E_ELEMENTNOTFOUND;
        *ref = shape_ == Shape::Interface ? kDispatchRef
               : shape_ == Shape::Standard ? kUnknownRef
                                           : static_cast<HREFTYPE>(index_ - ClassCount() - 1);  // its interface
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* flags) override {
        if (!flags) return E_POINTER;
        if (index >= attributes_.cImplTypes) return TYPE_E_ELEMENTNOTFOUND;
        *flags = shape_ == Shape::Class ? IMPLTYPEFLAG_FDEFAULT : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
        if (shape_ == Shape::Interface) return IdsOfNames(*info_, names, count, ids);
        if (!names || !ids || count == 0) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i) ids[i] = MEMBERID_NIL;
        for (std::size_t i = 0; shape_ == Shape::Enumeration && names[0] && i < variables_.size(); ++i)
            if (EqualsNoCase(OleView(names[0]), Library().enumValues[i].name)) ids[0] = variables_[i].memid;
        return ids[0] != MEMBERID_NIL && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(PVOID instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override {
        if (shape_ != Shape::Interface) return TYPE_E_WRONGTYPEKIND;
        if (!instance) return E_INVALIDARG;
        return static_cast<IDispatch*>(instance)->Invoke(id, IID_NULL, Library().lcid, flags, params, result,
                                                         exception, argError);
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* helpContext,
                                               BSTR* helpFile) override {
        const char* found = id == MEMBERID_NIL ? TypeName() : ValueName(id);
        for (const Member& m : Members())
            if (!found && m.id == id) found = m.name;
        if (!found) return TYPE_E_ELEMENTNOTFOUND;
        if (name) *name = Text(found);
        if (doc) *doc = nullptr;
        if (helpContext) *helpContext = 0;
        if (helpFile) *helpFile = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = NewTypeInfoAt(ref);
        return *info ? S_OK : TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID*) override { return TYPE_E_ELEMENTNOTFOUND; }
    // A class's type information creates its objects, as its factory does.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, PVOID* object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (shape_ != Shape::Class) return TYPE_E_WRONGTYPEKIND;
        if (outer) return CLASS_E_NOAGGREGATION;
        try {
            IDispatch* created = NewObject(*info_, info_->create());
            const HRESULT hr = created->QueryInterface(riid, object);
            created->Release();
            return hr;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR* mops) override {
        if (mops) *mops = nullptr;
        return S_OK;
    }
    // IDispatch and IUnknown belong to the standard automation library, which
    // is not ours to hand out.
    HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** lib, UINT* index) override {
        if (!lib) return E_POINTER;
        *lib = shape_ == Shape::Standard ? nullptr : NewTypeLib();
        if (!*lib) return shape_ == Shape::Standard ? E_NOTIMPL : E_OUTOFMEMORY;
        if (index) *index = index_;
        return S_OK;
    }
    void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR*) override {}
    void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC*) override {}
    void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) override {}

private:
    friend SingleInterface;
    ~TypeInfo() = default;

    std::span<const Member> Members() const {
        return shape_ == Shape::Interface ? info_->members : std::span<const Member>();
    }
    const char* TypeName() const {
        if (shape_ == Shape::Standard) return index_ == kDispatchRef ? "IDispatch" : "IUnknown";
        TypeAt at{};
        Locate(index_, at);
        return NameOf(at);
    }
    const char* ValueName(MEMBERID id) const {
        for (std::size_t i = 0; i < variables_.size(); ++i)
            if (variables_[i].memid == id) return Library().enumValues[i].name;
        return nullptr;
    }

    void DescribeInterface() {
        const std::size_t count = info_->members.size();
        functions_.resize(count);
        elements_.resize(count);
        pointees_.resize(count);
        for (std::size_t slot = 0; slot < count; ++slot) {
            const Member& m = info_->members[slot];
            auto& elements = elements_[slot];
            auto& pointees = pointees_[slot];
            elements.resize(m.params.size());
            pointees.resize(m.params.size());
            for (std::size_t i = 0; i < m.params.size(); ++i) {
                const Param& p = m.params[i];
                ELEMDESC& e = elements[i];
                e = ELEMDESC{};
                e.u.paramdesc.wParamFlags = static_cast<USHORT>(PARAMFLAG_FIN | (p.optional ? PARAMFLAG_FOPT : 0));
                if (p.byRef) {
                    pointees[i].vt = p.type;
                    e.tdesc.vt = VT_PTR;
                    e.tdesc.u.lptdesc = &pointees[i];
                } else {
                    e.tdesc.vt = p.type;
                }
            }
            FUNCDESC& f = functions_[slot];
            f = FUNCDESC{};
            f.memid = m.id;
            f.lprgelemdescParam = elements.empty() ? nullptr : elements.data();
            f.funckind = FUNC_DISPATCH;
            f.invkind = static_cast<INVOKEKIND>(m.kind);
            f.callconv = CC_STDCALL;
            f.cParams = static_cast<SHORT>(m.params.size());
            f.oVft = static_cast<SHORT>((kSlotsOfIDispatch + slot) * sizeof(void*));
            f.elemdescFunc.tdesc.vt = m.result == VT_EMPTY ? static_cast<VARTYPE>(VT_VOID) : m.result;
        }
        attributes_.guid = info_->iid;
        attributes_.typekind = TKIND_DISPATCH;
        attributes_.cFuncs = static_cast<WORD>(count);
        attributes_.cImplTypes = 1;
        attributes_.cbSizeVft = static_cast<WORD>((kSlotsOfIDispatch + count) * sizeof(void*));
        attributes_.wTypeFlags = kInterfaceFlags;
    }

    void DescribeEnumeration() {
        const auto values = Library().enumValues;
        values_.resize(values.size());
        variables_.resize(values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            VariantInit(&values_[i]);
            V_VT(&values_[i]) = VT_I4;
            V_I4(&values_[i]) = values[i].value;
            VARDESC& v = variables_[i];
            v = VARDESC{};
            v.memid = kFirstValueId + static_cast<MEMBERID>(i);
            v.u.lpvarValue = &values_[i];
            v.elemdescVar.tdesc.vt = VT_I4;
            v.varkind = VAR_CONST;
        }
        attributes_.guid = Library().enumGuid;
        attributes_.typekind = TKIND_ENUM;
        attributes_.cVars = static_cast<WORD>(values.size());
        attributes_.cbSizeInstance = sizeof(std::int32_t);
        attributes_.cbAlignment = sizeof(std::int32_t);
    }

    Shape shape_;
    const ClassInfo* info_;
    UINT index_;  // in the library; for a standard interface, its reference
    TYPEATTR attributes_;
    std::vector<FUNCDESC> functions_;
    std::vector<std::vector<ELEMDESC>> elements_;
    std::vector<std::vector<TYPEDESC>> pointees_;
    std::vector<VARDESC> variables_;
    std::vector<VARIANT> values_;
};

class TypeLib final : public SingleInterface<TypeLib, ITypeLib, IID_ITypeLib> {
public:
    TypeLib() {
        const LibraryInfo& library = Library();
        attributes_ = TLIBATTR{};
        attributes_.guid = library.libid;
        attributes_.lcid = library.lcid;
        attributes_.syskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
        attributes_.wMajorVerNum = library.majorVersion;
        attributes_.wMinorVerNum = library.minorVersion;
    }

    UINT STDMETHODCALLTYPE GetTypeInfoCount() override { return TypeCount(); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = index < TypeCount() ? NewTypeInfoAt(index) : nullptr;
        return *info ? S_OK : TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* kind) override {
        if (!kind) return E_POINTER;
        TypeAt at{};
        if (!Locate(index, at)) return TYPE_E_ELEMENTNOTFOUND;
        *kind = KindOf(at);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        TypeAt at{};
        for (UINT i = 0; Locate(i, at); ++i)
            if (GuidOf(at) == guid) return (*info = NewTypeInfoAt(i)) ? S_OK : E_OUTOFMEMORY;
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** attr) override {
        if (!attr) return E_POINTER;
        *attr = &attributes_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext,
                                               BSTR* helpFile) override {
        TypeAt at{};
        if (index != -1 && (index < 0 || !Locate(static_cast<UINT>(index), at))) return TYPE_E_ELEMENTNOTFOUND;
        if (name) *name = Text(index == -1 ? Library().name : NameOf(at));
        if (doc) *doc = nullptr;
        if (helpContext) *helpContext = 0;
        if (helpFile) *helpFile = nullptr;
        return S_OK;
    }
    // The name of a type, a member, a parameter or a value; a match is
    // written back in the library's own letter case.
    HRESULT STDMETHODCALLTYPE IsName(LPOLESTR name, ULONG, BOOL* found) override {
        if (!name || !found) return E_POINTER;
        const OleView wanted(name);
        const char* match = nullptr;
        const auto consider = [&](const char* candidate) {
            if (!match && EqualsNoCase(wanted, candidate)) match = candidate;
        };
        TypeAt at{};
        for (UINT i = 0; Locate(i, at); ++i) consider(NameOf(at));
        for (const ClassInfo* info : Library().classes)
            for (const Member& m : info->members) {
                consider(m.name);
                for (const Param& p : m.params) consider(p.name);
            }
        for (const EnumValue& v : Library().enumValues) consider(v.name);
        *found = match != nullptr;
        if (match)
            for (std::size_t i = 0; i < wanted.size(); ++i) name[i] = static_cast<OLECHAR>(match[i]);
        return S_OK;
    }
    // Types of that name (member MEMBERID_NIL) and types with a member or
    // value of that name, up to *found of them.
    HRESULT STDMETHODCALLTYPE FindName(LPOLESTR name, ULONG, ITypeInfo** infos, MEMBERID* ids,
                                       USHORT* found) override {
        if (!name || !infos || !ids || !found) return E_POINTER;
        const OleView wanted(name);
        const USHORT most = *found;
        USHORT count = 0;
        const auto add = [&](UINT index, MEMBERID id) {
            if (count < most && (infos[count] = NewTypeInfoAt(index))) ids[count++] = id;
        };
        TypeAt at{};
        for (UINT i = 0; Locate(i, at); ++i) {
            if (EqualsNoCase(wanted, NameOf(at))) add(i, MEMBERID_NIL);
            if (at.shape == Shape::Interface) {
                for (const Member& m : at.info->members)
                    if (EqualsNoCase(wanted, m.name)) {
                        add(i, m.id);
                        break;
                    }
            } else if (at.shape == Shape::Enumeration) {
                for (std::size_t v = 0; v < Library().enumValues.size(); ++v)
                    if (EqualsNoCase(wanted, Library().enumValues[v].name))
                        add(i, kFirstValueId + static_cast<MEMBERID>(v));
            }
        }
        *found = count;
        return S_OK;
    }
    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR*) override {}

private:
    friend SingleInterface;
    ~TypeLib() = default;
    TLIBATTR attributes_;
};

ITypeInfo* NewTypeInfoAt(HREFTYPE ref) {
    try {
        if (ref == kDispatchRef || ref == kUnknownRef) return new TypeInfo(Shape::Standard, nullptr, ref);
        TypeAt at{};
        if (!Locate(ref, at)) return nullptr;
        return new TypeInfo(at.shape, at.info, ref);
    } catch (...) {
        return nullptr;
    }
}

ITypeLib* NewTypeLib() { return new (std::nothrow) TypeLib(); }

}  // namespace

ITypeInfo* NewTypeInfo(const ClassInfo& info) {
    const auto classes = Library().classes;
    for (std::size_t i = 0; i < classes.size(); ++i)
        if (classes[i] == &info) return NewTypeInfoAt(static_cast<HREFTYPE>(i));
    return nullptr;
}

}  // namespace quillpost::server
