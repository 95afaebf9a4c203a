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

}  // namespace
