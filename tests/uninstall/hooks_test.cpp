// The two exported hooks, on a machine without a web server.
#include "uninstall/directory_operations.hpp"
#include "uninstall/directory_service.hpp"
#include "uninstall/fixed_texts.hpp"
#include "uninstall/hooks.hpp"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace quillpost::uninst {
namespace {

TEST(NoWebServerDirectory, BindsNoPathSoNoEnumeratorIsBuilt) {
    NoWebServerDirectory service;
    EnumeratorRef enumerator{};

    EXPECT_EQ(service.ADsGetObject(kWebServicePath), ContainerRef{});
    EXPECT_EQ(OpenChildEnumerator(service, kWebServicePath, enumerator), -1);
    EXPECT_EQ(enumerator, EnumeratorRef{});
    EXPECT_EQ(DeleteChildObject(service, "IIS://localhost/W3SVC/1/Root", kVirtualDirClass,
                                kVirtualDirName),
              -1);
}

TEST(Hooks, BothGiveZeroWhateverTheArguments) {
    EXPECT_EQ(UninstInitialize(0, 0, 0), 0);
    EXPECT_EQ(UninstInitialize(0xFFFFFFFFu, 1, 0x80000000u), 0);
    EXPECT_EQ(UninstUnInitialize(0, 0, 0), 0);
    EXPECT_EQ(UninstUnInitialize(0xFFFFFFFFu, 1, 0x80000000u), 0);
    // A second removal run is as harmless as the first.
    EXPECT_EQ(UninstUnInitialize(0, 0, 0), 0);
}

// The shipped library, loaded the way the uninstaller loads it.
class SharedLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = dlopen(UNINST_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
    }
    void TearDown() override {
        if (handle_ != nullptr) dlclose(handle_);
    }
    void* handle_ = nullptr;
};

using Hook = std::int32_t (*)(std::uint32_t, std::uint32_t, std::uint32_t);

TEST_F(SharedLibrary, ExportsBothHooksByName) {
    for (const char* name : {"UninstInitialize", "UninstUnInitialize"}) {
        SCOPED_TRACE(name);
        const auto hook = reinterpret_cast<Hook>(dlsym(handle_, name));
        ASSERT_NE(hook, nullptr);
        EXPECT_EQ(hook(7, 8, 9), 0);
    }
}

}  // namespace
}  // namespace quillpost::uninst
