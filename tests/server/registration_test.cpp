// Registration into the registry file, and activation from it.
#include "tests/server/automation_client.hpp"
#include "tests/support/temp_dir.hpp"

#include "server/guid_text.hpp"
#include "server/members.hpp"
#include "server/registration.hpp"
#include "platform/registry_store.hpp"
#include "platform/registry.hpp"

#include <quillpost/variant.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

using namespace quillpost;
using namespace quillpost::server;
using quillpost::test::TempDir;

namespace {

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.file("registry.reg");
        setenv("QUILLPOST_REGISTRY", path_.c_str(), 1);
    }
    void TearDown() override { unsetenv("QUILLPOST_REGISTRY"); }
    void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    TempDir dir_;
    std::string path_;
};

const std::string kOthers =
    "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost]\n\"RequireLocalSender\"=\"True\"\n\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{00000000-1111-2222-3333-444444444444}\\InprocServer32]\n@=\"/other.so\"\n\n";

TEST_F(Registration, WritesEveryEntryKeepsOtherKeysAndUnregistersExactly) {
    Write(kOthers);
    ASSERT_EQ(DllRegisterServer(), S_OK);
    const RegText file = ReadRegistry();
    const std::string libid = GuidText(Library().libid);
    for (const ClassInfo* info : Library().classes) {
        const std::string progId = std::string("Quillpost.") + info->name;
        const std::string clsid = "HKCR\\CLSID\\" + GuidText(info->clsid);
        EXPECT_EQ(FindString(file, "HKCR\\" + progId + "\\CLSID", ""), GuidText(info->clsid)) << progId;
        EXPECT_EQ(FindString(file, clsid + "\\InprocServer32", ""), ModulePath()) << progId;
        EXPECT_EQ(FindString(file, clsid + "\\InprocServer32", "ThreadingModel"), "Apartment") << progId;
        EXPECT_EQ(FindString(file, clsid + "\\ProgID", ""), progId);
        EXPECT_EQ(FindString(file, clsid + "\\TypeLib", ""), libid);
        const std::string iface = "HKCR\\Interface\\" + GuidText(info->iid);
        EXPECT_EQ(FindString(file, iface, ""), info->interfaceName);
        EXPECT_EQ(FindString(file, iface + "\\ProxyStubClsid32", ""), "{00020424-0000-0000-C000-000000000046}");
        EXPECT_EQ(FindString(file, iface + "\\TypeLib", "Version"), "1.0");
    }
    EXPECT_EQ(FindString(file, "HKCR\\TypeLib\\" + libid + "\\1.0", ""), "Quillpost");
    EXPECT_EQ(FindString(file, "HKCR\\TypeLib\\" + libid + "\\1.0\\0\\win64", ""), ModulePath());
    EXPECT_EQ(FindString(file, "HKLM\\SOFTWARE\\Brackenfold\\Quillpost", "RequireLocalSender"), "True");
    EXPECT_EQ(FindString(file, "HKCR\\CLSID\\{00000000-1111-2222-3333-444444444444}\\InprocServer32", ""), "/other.so");

    ASSERT_EQ(DllRegisterServer(), S_OK);  // again: nothing twice
    const std::string twice = Read();
    EXPECT_EQ(twice.find("[HKEY_CLASSES_ROOT\\Quillpost.Message]"), twice.rfind("[HKEY_CLASSES_ROOT\\Quillpost.Message]"));
    ASSERT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_EQ(Read(), kOthers);
}

TEST_F(Registration, UnregisteringLeavesOtherVersionsOfTheTypeLibrary) {
    const std::string libid = GuidText(Library().libid);
    const std::string others = kOthers + "[HKEY_CLASSES_ROOT\\TypeLib\\" + libid + "\\2.0]\n@=\"Quillpost 2\"\n\n" +
                               "[HKEY_CLASSES_ROOT\\TypeLib\\" + libid + "\\2.0\\0\\win64]\n@=\"/v2.so\"\n\n";
    Write(others);
    ASSERT_EQ(DllRegisterServer(), S_OK);
    EXPECT_EQ(FindString(ReadRegistry(), "HKCR\\TypeLib\\" + libid + "\\1.0", ""), "Quillpost");
    ASSERT_EQ(DllUnregisterServer(), S_OK);
    EXPECT_EQ(Read(), others);
}

// The file as a registration leaves it: its permission bits and owner, and
// whether the name is still a symbolic link.
struct FileState {
    mode_t mode;
    uid_t owner;
    gid_t group;
    bool link;
    bool operator==(const FileState&) const = default;
};
FileState StateOf(const std::string& path) {
    struct stat st {}, at {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(::lstat(path.c_str(), &at), 0) << path;
    return {st.st_mode & 07777, st.st_uid, st.st_gid, S_ISLNK(at.st_mode)};
}

TEST_F(Registration, TheFileKeepsItsPermissionsOwnerAndLink) {
    struct Case {
        const char* what;
        mode_t mode;    // 0: no file before
        bool viaLink;   // the registry's name is a link to the file
        bool chowned;   // the file belongs to another user (needs root)
    };
    const Case cases[] = {
        {"a new file is its owner's only", 0, false, false},
        {"a private file stays private", 0600, false, false},
        {"a group-readable file stays so", 0640, false, false},
        {"a file reached through a link is written through it", 0640, true, false},
        {"a file of another user keeps its owner", 0604, false, true},
    };
    for (const auto& c : cases) {
        if (c.chowned && ::geteuid() != 0) continue;
        TempDir dir;
        const std::string target = dir.file("real.reg");
        const std::string name = c.viaLink ? dir.file("link.reg") : target;
        if (c.viaLink) {
            ASSERT_EQ(::symlink("real.reg", name.c_str()), 0);
        }
        if (c.mode) {
            dir.write("real.reg", "REGEDIT4\n");
            ASSERT_EQ(::chmod(target.c_str(), c.mode), 0);
            if (c.chowned) {
                ASSERT_EQ(::chown(target.c_str(), 4321, 4321), 0);
            }
        }
        setenv("QUILLPOST_REGISTRY", name.c_str(), 1);
        const FileState expected{c.mode ? c.mode : 0600, c.chowned ? 4321 : ::geteuid(), c.chowned ? 4321 : ::getegid(),
                                 c.viaLink};
        ASSERT_EQ(DllRegisterServer(), S_OK) << c.what;
        EXPECT_TRUE(StateOf(name) == expected) << c.what;
        EXPECT_TRUE(FindString(ParseRegText(TempDir::read(target)), "HKCR\\Quillpost.Message\\CLSID", "")) << c.what;
        ASSERT_EQ(DllUnregisterServer(), S_OK) << c.what;
        EXPECT_TRUE(StateOf(name) == expected) << c.what;
        // Nothing is left beside the file but the lock.
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
        EXPECT_EQ(entries, c.viaLink ? 3u : 2u) << c.what;
    }
}

TEST_F(Registration, RefusesAFileThatIsNoExportAndReportsWhy) {
    Write("just some text\n");
    EXPECT_EQ(DllRegisterServer(), SELFREG_E_CLASS);
    EXPECT_EQ(Read(), "just some text\n");
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR description = nullptr;
    info->GetDescription(&description);
    EXPECT_NE(Utf16ToUtf8({description, SysStringLen(description)}).find("export header"), std::string::npos);
    SysFreeString(description);
    info->Release();
}

// A value written through the component's registry interface reads back
// through it, wherever the file gave the value before, and the file keeps
// its permissions.
TEST_F(Registration, AStringValueIsSetWhereTheComponentReadsIt) {
    const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Q\\Servers\\mx]\n";
    struct Case {
        std::string before;
        bool written;
    } cases[] = {
        {"REGEDIT4\n\n" + key + "\"OAuthRefreshToken\"=\"old\"\n\"UserName\"=\"u\"\n\n", true},
        {"REGEDIT4\n\n" + key + "\"oauthrefreshtoken\"=\"old\"\n\n" + key + "\"UserName\"=\"u\"\n\n", true},
        {"REGEDIT4\n\n" + key + "\"UserName\"=\"u\"\n", true},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Q]\n\"UserName\"=\"u\"\n", false},
        {"REGEDIT4\n\n" + key + "\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Q\\Servers]\n", false},
    };
    for (const auto& c : cases) {
        Write(c.before);
        chmod(path_.c_str(), 0640);
        std::string reason;
        EXPECT_EQ(WriteRegistryString(RegistryRoot::LocalMachine, "SOFTWARE\\Q\\Servers\\MX", "OAuthRefreshToken",
                                      "new\\\"one", reason),
                  c.written)
            << c.before;
        RegistryKey opened;
        if (!c.written) {
            EXPECT_EQ(Read(), c.before);
            continue;
        }
        ASSERT_EQ(opened.Open(RegistryRoot::LocalMachine, "SOFTWARE\\Q\\Servers\\mx"), kRegSuccess) << Read();
        Variant value;
        EXPECT_EQ(ReadRegistryValue(opened, "OAuthRefreshToken", value), kRegSuccess) << Read();
        EXPECT_EQ(value.ToText(), "new\\\"one") << Read();
        EXPECT_EQ(ReadRegistryValue(opened, "UserName", value), kRegSuccess);
        struct stat st {};
        ASSERT_EQ(stat(path_.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
    }
}

TEST_F(Registration, ConcurrentEditsAreAllKept) {
    Write("REGEDIT4\n");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 25; ++i) {
                std::string reason;
                const std::string key = "HKCR\\Test" + std::to_string(t) + "_" + std::to_string(i);
                EXPECT_TRUE(EditRegistry([&](RegText& f) { AddKey(f, key, {{"", "v"}}); }, reason)) << reason;
            }
        });
    for (auto& th : threads) th.join();
    const RegText file = ReadRegistry();
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 25; ++i)
            EXPECT_EQ(FindString(file, "HKCR\\Test" + std::to_string(t) + "_" + std::to_string(i), ""), "v");
}

TEST_F(Registration, ActivationLoadsTheRegisteredLibraryByProgramOrClassIdentifier) {
    Write("REGEDIT4\n");
    std::string reason;
    ASSERT_TRUE(Register(QP_SERVER_LIBRARY, reason)) << reason;
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"quillpost.message", &clsid), S_OK);
    EXPECT_TRUE(clsid == Library().classes[0]->clsid);
    IDispatch* message = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&message)), S_OK);
    EXPECT_EQ(quillpost::test::Get(message, "Subject").result.text(), "[no subject]");
    message->Release();
    CoFreeUnusedLibraries();

    ASSERT_TRUE(Unregister(reason)) << reason;
    EXPECT_EQ(CLSIDFromProgID(u"Quillpost.Message", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CoCreateInstance(Library().classes[0]->clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(&message)),
              REGDB_E_CLASSNOTREG);
}

}  // namespace
