// The sender rule: a blank sender is always refused; under the registry
// setting, a page's message may only send from the web server's domain.
#include "tests/mailer/send_support.hpp"
#include "tests/support/temp_dir.hpp"

#include <quillpost/cgi_context.hpp>
#include <quillpost/message.hpp>

#include <gtest/gtest.h>

using namespace quillpost;
using namespace quillpost::test;

namespace {

class SenderCheckTest : public ::testing::Test {
protected:
    TempDir dir;
    EnvGuard registry{"QUILLPOST_REGISTRY", dir.file("registry.reg")};
    EnvGuard serverName{"SERVER_NAME", "www.example.com"};
    Message message;

    void Setting(const std::string& valueLine) {
        dir.write("registry.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackenfold\\Quillpost]\r\n" +
                                      valueLine + "\r\n");
    }
    void OnPage() { message.OnStartPage(MakeCgiScriptingContext()); }
    int Check(const std::string& address) { return ErrorOf([&] { message.CheckSender(address); }).number(); }
};

TEST_F(SenderCheckTest, BlankAddressIsAlwaysRefused) {
    try {
        message.CheckSender("");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 9991);
        EXPECT_EQ(e.description(), "FromAddress can not be blank");
    }
}

TEST_F(SenderCheckTest, WithoutTheProductKeyAnyAddressPasses) {
    OnPage();
    EXPECT_EQ(Check("x@elsewhere.org"), 0);
    dir.write("registry.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"RequireLocalSender\"=\"True\"\r\n");
    EXPECT_EQ(Check("x@elsewhere.org"), 0);
}

TEST_F(SenderCheckTest, TheTextFalseExactlyTurnsTheRuleOff) {
    OnPage();
    Setting("\"RequireLocalSender\"=\"False\"");
    EXPECT_EQ(Check("x@elsewhere.org"), 0);
    for (const char* on : {"\"RequireLocalSender\"=\"True\"", "\"RequireLocalSender\"=\"false\"",
                           "\"RequireLocalSender\"=\"\"", "\"RequireLocalSender\"=dword:00000000"}) {
        Setting(on);
        EXPECT_EQ(Check("x@elsewhere.org"), 9992) << on;
    }
    Setting("\"RequireLocalSender\"=hex:01,00");  // another type: not readable, rule off
    EXPECT_EQ(Check("x@elsewhere.org"), 0);
}

TEST_F(SenderCheckTest, DomainMustEqualTheServerNameWithoutWww) {
    OnPage();
    Setting("\"RequireLocalSender\"=\"1\"");
    EXPECT_EQ(Check("ann@example.com"), 0);
    EXPECT_EQ(Check("ann@x@example.com"), 9992);  // judged after the first "@"
    for (const char* refused : {"ann@www.example.com", "ann@mail.example.com", "ann@Example.com", "annexample.com"}) {
        const Error e = ErrorOf([&] { message.CheckSender(refused); });
        EXPECT_EQ(e.number(), 9992) << refused;
        EXPECT_EQ(e.description(),
                  "This Quillpost configuration requires that FromAddress be set to an address from the domain "
                  "example.com");
    }
}

TEST_F(SenderCheckTest, CapitalWwwStaysPartOfTheServerName) {
    EnvGuard upper{"SERVER_NAME", "WWW.example.com"};
    OnPage();
    Setting("\"RequireLocalSender\"=\"True\"");
    EXPECT_EQ(Check("ann@example.com"), 9992);
    EXPECT_EQ(Check("ann@WWW.example.com"), 0);
}

TEST_F(SenderCheckTest, AMessageOutsideAPageNeverAppliesTheRule) {
    Setting("\"RequireLocalSender\"=\"True\"");
    EXPECT_EQ(Check("x@elsewhere.org"), 0);
}

TEST_F(SenderCheckTest, SettingIsReadAfreshAtEveryCheck) {
    OnPage();
    Setting("\"RequireLocalSender\"=\"True\"");
    EXPECT_EQ(Check("x@elsewhere.org"), 9992);
    Setting("\"RequireLocalSender\"=\"False\"");
    EXPECT_EQ(Check("x@elsewhere.org"), 0);
}

TEST_F(SenderCheckTest, SecondPageHookReplacesTheRequest) {
    Setting("\"RequireLocalSender\"=\"True\"");
    OnPage();
    EnvGuard other{"SERVER_NAME", "other.org"};
    OnPage();  // the CGI request reads the environment when asked, so the new name shows
    EXPECT_EQ(Check("a@other.org"), 0);
    EXPECT_EQ(Check("a@example.com"), 9992);
}

TEST_F(SenderCheckTest, AContextWithoutRequestPassesItsErrorOn) {
    auto nothing = std::make_shared<Dispatch>();
    EXPECT_EQ(ErrorOf([&] { message.OnStartPage(nothing); }).number(), 438);
    EXPECT_EQ(ErrorOf([&] { message.OnStartPage(Variant("not an object")); }).number(), 424);
}

TEST_F(SenderCheckTest, SendRefusesAForeignSenderBeforeConnecting) {
    ScriptedPeer peer;
    peer.Start();
    Setting("\"RequireLocalSender\"=\"True\"");
    OnPage();
    message.Server("127.0.0.1");
    message.Port(peer.port());
    message.FromAddress("spoof@elsewhere.org");
    message.TraceFile(dir.file("trace.log"));
    EXPECT_EQ(ErrorOf([&] { message.send(); }).number(), 9992);
    EXPECT_EQ(peer.Connections(), 0u);
}

}  // namespace
