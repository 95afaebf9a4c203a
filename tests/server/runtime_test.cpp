// The automation runtime: counted strings, variant copies and clearing,
// identifier text, the registry text that activation and registration read.
#include "server/automation.hpp"
#include "server/guid_text.hpp"
#include "platform/registry_text.hpp"

#include <gtest/gtest.h>

using namespace quillpost;
using namespace quillpost::server;

namespace {

TEST(Runtime, CountedStringsKeepEmbeddedNulsAndTheirLength) {
    const OLECHAR text[] = {u'a', 0, u'b'};
    BSTR b = SysAllocStringLen(text, 3);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(b[3], 0);  // terminated after the count
    VARIANT v, copy;
    VariantInit(&v);
    VariantInit(&copy);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = b;
    ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_NE(V_BSTR(&copy), b);
    EXPECT_EQ(SysStringLen(V_BSTR(&copy)), 3u);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(V_VT(&v), VT_EMPTY);
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
}

TEST(Runtime, IdentifiersReadBackAsWritten) {
    const char* texts[] = {"{BEEF4987-D50D-4052-BB1C-CD8A6FAB64A1}", "{00020400-0000-0000-C000-000000000046}"};
    for (const char* t : texts) {
        const auto g = ParseGuid(t);
        ASSERT_TRUE(g) << t;
        EXPECT_EQ(GuidText(*g), t);
    }
    EXPECT_TRUE(ParseGuid("{beef4987-d50d-4052-bb1c-cd8a6fab64a1}"));
    for (const char* bad : {"", "BEEF4987-D50D-4052-BB1C-CD8A6FAB64A1", "{BEEF4987-D50D-4052-BB1C-CD8A6FAB64AZ}",
                            "{BEEF4987D50D-4052-BB1C-CD8A6FAB64A1-}"})
        EXPECT_FALSE(ParseGuid(bad)) << bad;
    OLECHAR out[39];
    EXPECT_EQ(StringFromGUID2(IID_IDispatch, out, 39), 39);
    EXPECT_EQ(StringFromGUID2(IID_IDispatch, out, 38), 0);
}

TEST(Runtime, RegistryTextLookupsRemovalsAndAdditionsKeepOtherLines) {
    const std::string original =
        "REGEDIT4\n\n; a comment\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost]\n\"RequireLocalSender\"=\"True\"\n\n"
        "[HKEY_CLASSES_ROOT\\Quillpost.Message\\CLSID]\n@=\"{old}\"\n\n[HKCR\\Other]\n@=\"keep \\\"me\\\"\"\n";
    RegText file = ParseRegText(original);
    EXPECT_TRUE(HasExportHeader(file));
    EXPECT_EQ(FindString(file, "hkey_classes_root\\quillpost.message\\clsid", ""), "{old}");
    EXPECT_EQ(FindString(file, "HKEY_CLASSES_ROOT\\Other", ""), "keep \"me\"");
    EXPECT_EQ(FindString(file, "HKEY_CLASSES_ROOT\\Other", "x"), std::nullopt);
    EXPECT_EQ(WriteRegText(file), original);

    RemoveKeys(file, {"HKEY_CLASSES_ROOT\\Quillpost.Message"});
    EXPECT_EQ(FindString(file, "HKCR\\Quillpost.Message\\CLSID", ""), std::nullopt);
    AddKey(file, "HKEY_CLASSES_ROOT\\Quillpost.Message\\CLSID", {{"", "C:\\path \"x\""}});
    EXPECT_EQ(FindString(file, "HKCR\\Quillpost.Message\\CLSID", ""), "C:\\path \"x\"");
    const std::string written = WriteRegText(file);
    EXPECT_NE(written.find("\"RequireLocalSender\"=\"True\""), std::string::npos);
    EXPECT_NE(written.find("; a comment"), std::string::npos);
    EXPECT_NE(written.find("@=\"C:\\\\path \\\"x\\\"\""), std::string::npos);

    RegText removal = ParseRegText("REGEDIT4\n[HKCR\\A\\B]\n@=\"1\"\n[-HKCR\\A]\n");
    EXPECT_EQ(FindString(removal, "HKCR\\A\\B", ""), std::nullopt);
    EXPECT_FALSE(HasExportHeader(ParseRegText("[HKCR\\A]\n")));
}

}  // namespace
