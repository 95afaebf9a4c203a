// Type information: what a generic client learns about each interface.
#include "tests/server/automation_client.hpp"

#include "server/members.hpp"

#include <gtest/gtest.h>

using namespace quillpost;
using namespace quillpost::test;

namespace {

std::string Text(BSTR b) {
    std::string s = server::Utf16ToUtf8({b, SysStringLen(b)});
    SysFreeString(b);
    return s;
}

// One line per slot: kind, identifier, name and parameter names.
std::vector<std::string> Describe(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    info->GetTypeAttr(&attr);
    std::vector<std::string> lines;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        info->GetFuncDesc(i, &f);
        BSTR names[4] = {};
        UINT count = 0;
        info->GetNames(f->memid, names, 4, &count);
        char head[64];
        std::snprintf(head, sizeof head, "%d %08X", static_cast<int>(f->invkind), static_cast<unsigned>(f->memid));
        std::string line = head;
        for (UINT k = 0; k < count; ++k) line += " " + Text(names[k]);
        for (SHORT k = 0; k < f->cParams; ++k) {
            const ELEMDESC& e = f->lprgelemdescParam[k];
            line += e.tdesc.vt == VT_PTR ? " &" + std::to_string(e.tdesc.u.lptdesc->vt) : " " + std::to_string(e.tdesc.vt);
            if (e.u.paramdesc.wParamFlags & PARAMFLAG_FOPT) line += "?";
        }
        line += " -> " + std::to_string(f->elemdescFunc.tdesc.vt) + " @" + std::to_string(f->oVft);
        info->ReleaseFuncDesc(f);
        lines.push_back(line);
    }
    info->ReleaseTypeAttr(attr);
    return lines;
}

TEST(TypeInfo, DescribesEverySlotOfAnInterface) {
    struct Case {
        const char* cls;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"Recipients",
         {"1 60030001 Add vAddress vName &12 &12? -> 24 @56", "1 60030002 Remove vIndex &12 -> 24 @64",
          "1 60030003 Clear -> 24 @72", "2 68030000 Count -> 3 @80", "2 00000000 Item vIndex &12 -> 9 @88",
          "2 FFFFFFFC NewEnum -> 13 @96"}},
        {"Header",
         {"4 00000000 Name 8 -> 24 @56", "2 00000000 Name -> 8 @64", "4 68030000 Value 8 -> 24 @72",
          "2 68030000 Value -> 8 @80", "1 60030001 Parse vData &12 -> 11 @88"}},
        {"Attachment", {"4 00000000 FileName 8 -> 24 @56", "2 00000000 FileName -> 8 @64"}},
    };
    for (const auto& c : cases) {
        const server::ClassInfo* info = nullptr;
        for (const auto* k : server::Library().classes)
            if (std::string(k->name) == c.cls) info = k;
        IDispatch* d = Create(info->clsid);
        UINT count = 0;
        EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
        ITypeInfo* ti = nullptr;
        ASSERT_EQ(d->GetTypeInfo(0, 0x409, &ti), S_OK);
        EXPECT_EQ(Describe(ti), c.expected) << c.cls;
        TYPEATTR* attr = nullptr;
        ti->GetTypeAttr(&attr);
        EXPECT_TRUE(attr->guid == info->iid);
        EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
        EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FOLEAUTOMATION |
                                        TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FHIDDEN);
        EXPECT_EQ(attr->cbSizeVft, (7 + attr->cFuncs) * sizeof(void*));
        BSTR name = nullptr;
        ASSERT_EQ(ti->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(Text(name), std::string("_") + c.cls);
        ti->ReleaseTypeAttr(attr);
        ti->Release();
        d->Release();
    }
}

TEST(TypeInfo, MessageHasThirtySevenSlotsEndingWithThePageHook) {
    const server::ClassInfo& message = *server::Library().classes[0];
    IDispatch* d = Create(message.clsid);
    ITypeInfo* ti = nullptr;
    ASSERT_EQ(d->GetTypeInfo(0, 0x409, &ti), S_OK);
    const auto lines = Describe(ti);
    ASSERT_EQ(lines.size(), 37u);
    EXPECT_EQ(lines.front(), "1 6003001D send -> 24 @56");
    EXPECT_EQ(lines[6], "4 00000000 Subject 8 -> 24 @104");
    EXPECT_EQ(lines[12], "4 6803000D Priority 2 -> 24 @152");
    EXPECT_EQ(lines.back(), "1 60030024 OnStartPage ScriptingContext &9 -> 12 @344");
    ti->Release();
    d->Release();
}

// One line per type of a library: kind, name, what it implements, and the
// values of an enumeration.
std::string DescribeType(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    info->GetTypeAttr(&attr);
    BSTR name = nullptr;
    info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    std::string line = std::to_string(static_cast<int>(attr->typekind)) + " " + Text(name);
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        HREFTYPE ref = 0;
        INT flags = -1;
        ITypeInfo* implemented = nullptr;
        info->GetRefTypeOfImplType(i, &ref);
        info->GetImplTypeFlags(i, &flags);
        if (info->GetRefTypeInfo(ref, &implemented) != S_OK) return line + " : ?";
        BSTR implementedName = nullptr;
        implemented->GetDocumentation(MEMBERID_NIL, &implementedName, nullptr, nullptr, nullptr);
        line += " : " + Text(implementedName) + (flags == 1 ? " (default)" : "");
        implemented->Release();
    }
    for (UINT i = 0; i < attr->cVars; ++i) {
        VARDESC* v = nullptr;
        info->GetVarDesc(i, &v);
        BSTR valueName = nullptr;
        UINT got = 0;
        info->GetNames(v->memid, &valueName, 1, &got);
        line += " " + Text(valueName) + "=" + std::to_string(V_I4(v->u.lpvarValue));
        info->ReleaseVarDesc(v);
    }
    info->ReleaseTypeAttr(attr);
    return line;
}

TEST(TypeInfo, LeadsToItsLibraryWithTheInterfacesTheEnumerationAndTheClasses) {
    IDispatch* m = Create(server::Library().classes[0]->clsid);
    ITypeInfo* ti = nullptr;
    ASSERT_EQ(m->GetTypeInfo(0, 0x409, &ti), S_OK);
    ITypeLib* lib = nullptr;
    UINT index = 99;
    ASSERT_EQ(ti->GetContainingTypeLib(&lib, &index), S_OK);
    EXPECT_EQ(index, 0u);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(attr->guid == server::Library().libid);
    EXPECT_EQ(attr->lcid, 0x409u);
    EXPECT_EQ(attr->wMajorVerNum * 100 + attr->wMinorVerNum, 100);
    lib->ReleaseTLibAttr(attr);
    BSTR name = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(Text(name), "Quillpost");

    std::vector<std::string> types;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        TYPEKIND kind{};
        ASSERT_EQ(lib->GetTypeInfo(i, &info), S_OK);
        ASSERT_EQ(lib->GetTypeInfoType(i, &kind), S_OK);
        types.push_back(DescribeType(info));
        EXPECT_EQ(types.back().substr(0, 1), std::to_string(static_cast<int>(kind)));
        info->Release();
    }
    const std::vector<std::string> expected = {
        "4 _Message : IDispatch", "4 _Recipients : IDispatch", "4 _Recipient : IDispatch",
        "4 _Headers : IDispatch", "4 _Header : IDispatch", "4 _Attachments : IDispatch",
        "4 _Attachment : IDispatch",
        "0 QP_PRIORITY QP_PRIORITY_NONE=0 QP_PRIORITY_HIGHEST=1 QP_PRIORITY_HIGH=2 QP_PRIORITY_NORMAL=3 "
        "QP_PRIORITY_LOW=4 QP_PRIORITY_LOWEST=5",
        "5 Message : _Message (default)", "5 Recipients : _Recipients (default)",
        "5 Recipient : _Recipient (default)", "5 Headers : _Headers (default)", "5 Header : _Header (default)",
        "5 Attachments : _Attachments (default)", "5 Attachment : _Attachment (default)"};
    EXPECT_EQ(types, expected);

    // Found by identifier and by name, in any letter case.
    ITypeInfo* found = nullptr;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(server::Library().classes[1]->clsid, &found), S_OK);
    EXPECT_EQ(DescribeType(found), "5 Recipients : _Recipients (default)");
    found->Release();
    ITypeInfo* infos[4] = {};
    MEMBERID ids[4] = {};
    USHORT count = 4;
    std::u16string wanted = u"qp_priority_high";
    ASSERT_EQ(lib->FindName(wanted.data(), 0, infos, ids, &count), S_OK);
    ASSERT_EQ(count, 1);
    BSTR valueName = nullptr;
    UINT got = 0;
    ASSERT_EQ(infos[0]->GetNames(ids[0], &valueName, 1, &got), S_OK);
    EXPECT_EQ(Text(valueName), "QP_PRIORITY_HIGH");
    infos[0]->Release();
    BOOL isName = 0;
    std::u16string member = u"onstartpage";
    EXPECT_EQ(lib->IsName(member.data(), 0, &isName), S_OK);
    EXPECT_TRUE(isName);
    EXPECT_EQ(member, u"OnStartPage");

    // A class's type information creates its objects.
    ASSERT_EQ(lib->GetTypeInfoOfGuid(server::Library().classes[0]->clsid, &found), S_OK);
    IDispatch* created = nullptr;
    ASSERT_EQ(found->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&created)), S_OK);
    EXPECT_EQ(Call(created, DISPID_VALUE, DISPATCH_PROPERTYGET).result.text(), "[no subject]");
    created->Release();
    found->Release();
    lib->Release();
    ti->Release();
    m->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

}  // namespace
