#include "server/typeinfo.hpp"

#include "server/object.hpp"
#include "server/text16.hpp"

#include <atomic>
#include <memory>
#include <new>
#include <vector>

namespace quillpost::server {

namespace {

constexpr WORD kInterfaceFlags = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FOLEAUTOMATION |
                                 TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FHIDDEN;

BSTR Text(const char* name) {
    const OleText wide = Utf8ToUtf16(name);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// The descriptions are made once per type information object and handed out
// from it; releasing them gives nothing back, the object owns them.
class TypeInfo final : public SingleInterface<TypeInfo, ITypeInfo, IID_ITypeInfo> {
public:
    explicit TypeInfo(const ClassInfo& info) : info_(info) {
        const std::size_t count = info.members.size();
        functions_.resize(count);
        elements_.resize(count);
        pointees_.resize(count);
        for (std::size_t slot = 0; slot < count; ++slot) {
            const Member& m = info.members[slot];
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
        attributes_ = TYPEATTR{};
        attributes_.guid = info.iid;
        attributes_.lcid = Library().lcid;
        attributes_.memidConstructor = MEMBERID_NIL;
        attributes_.memidDestructor = MEMBERID_NIL;
        attributes_.cbSizeInstance = sizeof(void*);
        attributes_.typekind = TKIND_DISPATCH;
        attributes_.cFuncs = static_cast<WORD>(count);
        attributes_.cbSizeVft = static_cast<WORD>((kSlotsOfIDispatch + count) * sizeof(void*));
        attributes_.cbAlignment = sizeof(void*);
        attributes_.wTypeFlags = kInterfaceFlags;
        attributes_.wMajorVerNum = Library().majorVersion;
        attributes_.wMinorVerNum = Library().minorVersion;
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
    HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, VARDESC**) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID id, BSTR* names, UINT max, UINT* count) override {
        if (!names || !count) return E_POINTER;
        *count = 0;
        const Member* found = nullptr;
        for (const Member& m : info_.members)
            if (m.id == id && (!found || found->kind == Kind::Put)) found = &m;
        if (!found) return TYPE_E_ELEMENTNOTFOUND;
        if (max == 0) return S_OK;
        names[(*count)++] = Text(found->name);
        // A put's value has no name of its own.
        const std::size_t named = found->kind == Kind::Put ? found->params.size() - 1 : found->params.size();
        for (std::size_t i = 0; i < named && *count < max; ++i) names[(*count)++] = Text(found->params[i].name);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT, HREFTYPE*) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT, INT*) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
        return IdsOfNames(info_, names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(PVOID instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override {
        if (!instance) return E_INVALIDARG;
        return static_cast<IDispatch*>(instance)->Invoke(id, IID_NULL, Library().lcid, flags, params, result,
                                                         exception, argError);
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* helpContext,
                                               BSTR* helpFile) override {
        const char* found = id == MEMBERID_NIL ? info_.interfaceName : nullptr;
        for (const Member& m : info_.members)
            if (!found && m.id == id) found = m.name;
        if (!found) return TYPE_E_ELEMENTNOTFOUND;
        if (name) *name = Text(found);
        if (doc) *doc = nullptr;
        if (helpContext) *helpContext = 0;
        if (helpFile) *helpFile = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE, ITypeInfo**) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID*) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, PVOID*) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR* mops) override {
        if (mops) *mops = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib**, UINT*) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR*) override {}
    void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC*) override {}
    void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) override {}

private:
    friend SingleInterface;
    ~TypeInfo() = default;
    const ClassInfo& info_;
    TYPEATTR attributes_;
    std::vector<FUNCDESC> functions_;
    std::vector<std::vector<ELEMDESC>> elements_;
    std::vector<std::vector<TYPEDESC>> pointees_;
};

}  // namespace

ITypeInfo* NewTypeInfo(const ClassInfo& info) {
    try {
        return new TypeInfo(info);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace quillpost::server
