#include "platform/registry.hpp"
#include "tests/support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

using namespace quillpost;
using quillpost::test::TempDir;

namespace {

const std::string kProduct = "SOFTWARE\\Brackenfold\\Quillpost";

// Sets an environment variable for one test and puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
        if (value)
            ::setenv(name_, value->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    const char* name_;
    std::optional<std::string> old_;
};

// Each test gets a registry file and a media-type table of its own, both
// absent until written.
class Registry : public ::testing::Test {
protected:
    void WriteRegistry(const std::string& text) const { dir_.write("registry.reg", text); }
    void WriteMimeTypes(const std::string& text) const { dir_.write("mime.types", text); }

    // A string value read the two-step way: type and size first, then a
    // buffer of that size. Nothing when either step fails or it is no string.
    static std::optional<std::string> Text(const RegistryKey& key, std::string_view name) {
        std::uint32_t type = 0, size = 0;
        if (key.QueryValue(name, type, size) != kRegSuccess || type != kRegSz) return std::nullopt;
        std::string data;
        if (key.ReadValue(name, size, data) != kRegSuccess) return std::nullopt;
        EXPECT_EQ(data.size(), size);
        if (data.empty() || data.back() != '\0') return std::nullopt;
        data.pop_back();
        return data;
    }

    static std::optional<std::uint32_t> Number(const RegistryKey& key, std::string_view name) {
        std::uint32_t type = 0, size = 0;
        if (key.QueryValue(name, type, size) != kRegSuccess || type != kRegDword) return std::nullopt;
        EXPECT_EQ(size, 4u);
        std::uint32_t value = 0;
        if (key.ReadDword(name, value) != kRegSuccess) return std::nullopt;
        return value;
    }

    static std::uint32_t TypeOf(const RegistryKey& key, std::string_view name) {
        std::uint32_t type = 0xDEAD, size = 0;
        EXPECT_EQ(key.QueryValue(name, type, size), kRegSuccess) << name;
        return type;
    }

    // The product key of a file holding `values` in it.
    RegistryKey ProductKeyWith(const std::string& values) const {
        WriteRegistry("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\" + kProduct + "]\n" + values);
        RegistryKey key;
        EXPECT_EQ(key.Open(RegistryRoot::LocalMachine, kProduct), kRegSuccess);
        return key;
    }

    TempDir dir_;
    ScopedEnv registry_{"QUILLPOST_REGISTRY", dir_.file("registry.reg")};
    ScopedEnv mimeTypes_{"QUILLPOST_MIME_TYPES", dir_.file("mime.types")};
};

}  // namespace

TEST(RegistryPaths, EnvironmentNamesTheFilesElseTheSystemDefaults) {
    {
        ScopedEnv reg("QUILLPOST_REGISTRY", std::nullopt);
        ScopedEnv mime("QUILLPOST_MIME_TYPES", std::nullopt);
        EXPECT_EQ(RegistryFilePath(), "/etc/quillpost/registry.reg");
        EXPECT_EQ(MediaTypesFilePath(), "/etc/mime.types");
    }
    {
        ScopedEnv reg("QUILLPOST_REGISTRY", "/srv/q/settings.reg");
        ScopedEnv mime("QUILLPOST_MIME_TYPES", "/srv/q/types");
        EXPECT_EQ(RegistryFilePath(), "/srv/q/settings.reg");
        EXPECT_EQ(MediaTypesFilePath(), "/srv/q/types");
    }
    {
        ScopedEnv reg("QUILLPOST_REGISTRY", "");
        EXPECT_EQ(RegistryFilePath(), "/etc/quillpost/registry.reg");
    }
}

TEST_F(Registry, MissingFileIsAnEmptyRegistry) {
    RegistryKey key;
    EXPECT_EQ(key.Open(RegistryRoot::LocalMachine, kProduct), kRegFileNotFound);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.Open(RegistryRoot::ClassesRoot, ".txt"), kRegFileNotFound);  // no table either
    // The root itself is always there, with nothing in it.
    ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, ""), kRegSuccess);
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(key.QueryValue("", type, size), kRegFileNotFound);
}

TEST_F(Registry, FolderOrPipeInPlaceOfTheFileIsAnEmptyRegistry) {
    std::filesystem::create_directory(dir_.file("registry.reg"));
    RegistryKey key;
    EXPECT_EQ(key.Open(RegistryRoot::LocalMachine, kProduct), kRegFileNotFound);
    // Nobody writes to the pipe: the open must not wait for a writer.
    ASSERT_EQ(::mkfifo(dir_.file("mime.types").c_str(), 0600), 0);
    EXPECT_EQ(key.Open(RegistryRoot::ClassesRoot, ".txt"), kRegFileNotFound);
}

TEST_F(Registry, FileWithoutHeaderIsEmptyAndBothHeadersAreAccepted) {
    const std::string body = "[HKEY_LOCAL_MACHINE\\" + kProduct + "]\n\"RequireLocalSender\"=\"True\"\n";
    RegistryKey key;
    WriteRegistry(body);
    EXPECT_EQ(key.Open(RegistryRoot::LocalMachine, kProduct), kRegFileNotFound);
    WriteRegistry("; settings\nREGEDIT4\n" + body);  // a comment is not a header
    EXPECT_EQ(key.Open(RegistryRoot::LocalMachine, kProduct), kRegFileNotFound);

    WriteRegistry("\n\nREGEDIT4\n" + body);
    ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, kProduct), kRegSuccess);
    EXPECT_EQ(Text(key, "RequireLocalSender"), "True");
    WriteRegistry("Windows Registry Editor Version 5.00\n\n" + body);
    ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, kProduct), kRegSuccess);
    EXPECT_EQ(Text(key, "RequireLocalSender"), "True");
}

TEST_F(Registry, StringValueGivesItsTypeSizeWithNulAndBytes) {
    RegistryKey key = ProductKeyWith("\"RequireLocalSender\"=\"False\"\n\"Empty\"=\"\"\n");
    std::uint32_t type = 0, size = 0;
    ASSERT_EQ(key.QueryValue("RequireLocalSender", type, size), kRegSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, 6u);
    std::string data;
    ASSERT_EQ(key.ReadValue("RequireLocalSender", size, data), kRegSuccess);
    EXPECT_EQ(data, std::string("False\0", 6));

    ASSERT_EQ(key.QueryValue("Empty", type, size), kRegSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, 1u);

    EXPECT_EQ(key.QueryValue("Absent", type, size), kRegFileNotFound);
    EXPECT_EQ(key.ReadValue("Absent", 100, data), kRegFileNotFound);
}

TEST_F(Registry, DwordValuesReadBackAsTheir32BitPattern) {
    RegistryKey key = ProductKeyWith(
        "\"Answer\"=dword:0000002a\n"
        "\"Upper\"=DWORD:0000002A\n"
        "\"All\"=dword:ffffffff\n"
        "\"Short\"=dword:7\n"
        "\"Zero\"=dword:00000000\n");
    EXPECT_EQ(Number(key, "Answer"), 42u);
    EXPECT_EQ(Number(key, "Upper"), 42u);
    EXPECT_EQ(Number(key, "All"), 0xFFFFFFFFu);
    EXPECT_EQ(static_cast<std::int32_t>(*Number(key, "All")), -1);
    EXPECT_EQ(Number(key, "Short"), 7u);
    EXPECT_EQ(Number(key, "Zero"), 0u);
    std::string raw;
    ASSERT_EQ(key.ReadValue("Answer", 4, raw), kRegSuccess);
    EXPECT_EQ(raw, std::string("\x2a\0\0\0", 4));  // least significant byte first
}

TEST_F(Registry, DefaultValueIsReachedByEmptyNameOrAt) {
    RegistryKey key = ProductKeyWith("@=\"the default\"\n\"Other\"=\"x\"\n");
    EXPECT_EQ(Text(key, ""), "the default");
    EXPECT_EQ(Text(key, "@"), "the default");
    EXPECT_EQ(Text(key, "Other"), "x");

    RegistryKey none = ProductKeyWith("\"Other\"=\"x\"\n");
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(none.QueryValue("", type, size), kRegFileNotFound);
}

TEST_F(Registry, EscapesInsideQuotesAreResolved) {
    RegistryKey key = ProductKeyWith(
        "\"Path\"=\"C:\\\\Program Files\\\\\\\"Q\\\"\"\n"
        "\"Quote\\\"d\"=\"a;b\"\n"
        "\"Lone\"=\"a\\b\"\n");
    EXPECT_EQ(Text(key, "Path"), "C:\\Program Files\\\"Q\"");
    EXPECT_EQ(Text(key, "Quote\"d"), "a;b");
    EXPECT_EQ(Text(key, "Lone"), "a\\b");
}

TEST_F(Registry, HexValuesKeepTheirTypeAndBytes) {
    RegistryKey key = ProductKeyWith(
        "\"Binary\"=hex:01,ff,A0\n"
        "\"Expand\"=hex(2):25,00,00,00\n"
        "\"Multi\"=hex(7):61,00,\\\n"
        "  62,00,\\\n"
        "  00,00\n"
        "\"Quad\"=hex(b):01,00,00,00,00,00,00,00\n"
        "\"AsDword\"=hex(4):2a,00,00,00\n"
        "\"Nothing\"=hex:\n"
        "\"After\"=\"still read\"\n");
    EXPECT_EQ(TypeOf(key, "Binary"), kRegBinary);
    EXPECT_EQ(TypeOf(key, "Expand"), kRegExpandSz);
    EXPECT_EQ(TypeOf(key, "Multi"), kRegMultiSz);
    EXPECT_EQ(TypeOf(key, "Quad"), kRegQword);
    EXPECT_EQ(Number(key, "AsDword"), 42u);
    std::string data;
    ASSERT_EQ(key.ReadValue("Binary", 3, data), kRegSuccess);
    EXPECT_EQ(data, "\x01\xff\xa0");
    ASSERT_EQ(key.ReadValue("Multi", 6, data), kRegSuccess);
    EXPECT_EQ(data, std::string("a\0b\0\0\0", 6));
    std::uint32_t type = 0, size = 99;
    ASSERT_EQ(key.QueryValue("Nothing", type, size), kRegSuccess);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(Text(key, "After"), "still read");
}

TEST_F(Registry, KeyAndValueNamesIgnoreLetterCase) {
    WriteRegistry(
        "REGEDIT4\n[hkey_local_machine\\Software\\BRACKENFOLD\\quillpost]\n\"RequireLocalSender\"=\"yes\"\n"
        "[HKLM\\SOFTWARE\\Other]\n\"A\"=dword:00000001\n");
    RegistryKey key;
    ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, "software\\brackenfold\\QUILLPOST"), kRegSuccess);
    EXPECT_EQ(Text(key, "requirelocalsender"), "yes");
    EXPECT_EQ(Text(key, "REQUIRELOCALSENDER"), "yes");
    ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, "Software\\other"), kRegSuccess);
    EXPECT_EQ(Number(key, "a"), 1u);
    // The same path under another root is another key.
    EXPECT_EQ(key.Open(RegistryRoot::CurrentUser, kProduct), kRegFileNotFound);
}

TEST_F(Registry, EveryOpenReadsTheFileAfresh) {
    RegistryKey first = ProductKeyWith("\"RequireLocalSender\"=\"True\"\n");
    EXPECT_EQ(Text(first, "RequireLocalSender"), "True");

    RegistryKey second = ProductKeyWith("\"RequireLocalSender\"=\"False\"\n");
    EXPECT_EQ(Text(second, "RequireLocalSender"), "False");
    EXPECT_EQ(Text(first, "RequireLocalSender"), "True");  // an open key keeps what it read

    std::filesystem::remove(dir_.file("registry.reg"));
    EXPECT_EQ(first.Open(RegistryRoot::LocalMachine, kProduct), kRegFileNotFound);
}

TEST_F(Registry, MalformedLinesArePassedOver) {
    RegistryKey key = ProductKeyWith(
        "garbage\n"
        "\"NoEquals\"\n"
        "\"Unterminated=\"x\n"
        "\"Open\"=\"no closing quote\n"
        "\"BadDword\"=dword:xyz\n"
        "\"LongDword\"=dword:123456789\n"
        "\"BadHex\"=hex:zz,01\n"
        "\"BadHexType\"=hex(q):01\n"
        "\"Trailing\"=\"x\" junk\n"
        "\"Bare\"=word\n"
        "[HKEY_NOWHERE\\Elsewhere]\n"
        "\"Stray\"=\"belongs to no key\"\n"
        "[HKEY_LOCAL_MACHINE\\" + kProduct + "]\n"
        "\"Good\"=\"kept\" ; a comment\n"
        "; \"Commented\"=\"x\"\n"
        "\"Number\"=dword:00000010\n");
    EXPECT_EQ(Text(key, "Good"), "kept");
    EXPECT_EQ(Number(key, "Number"), 16u);
    std::uint32_t type = 0, size = 0;
    for (const char* name : {"NoEquals", "Unterminated", "Open", "BadDword", "LongDword", "BadHex",
                             "BadHexType", "Trailing", "Bare", "Stray", "Commented"})
        EXPECT_EQ(key.QueryValue(name, type, size), kRegFileNotFound) << name;
}

TEST_F(Registry, ByteOrderMarkAndCrLfLineEndsAreRead) {
    WriteRegistry("\xEF\xBB\xBFREGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + kProduct +
                  "]\r\n\"RequireLocalSender\"=\"True\"\r\n\"N\"=dword:00000003\r\n");
    RegistryKey key;
    ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, kProduct), kRegSuccess);
    EXPECT_EQ(Text(key, "RequireLocalSender"), "True");
    EXPECT_EQ(Number(key, "N"), 3u);
}

TEST_F(Registry, Utf16ExportIsReadAsUtf8) {
    // ASCII text as UTF-16 (little-endian) code units.
    auto wide = [](std::string_view ascii) {
        std::string out;
        for (char c : ascii) out += std::string{c, '\0'};
        return out;
    };
    WriteRegistry("\xFF\xFE" + wide("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\" +
                                    kProduct + "]\r\n\"Name\"=\"caf") +
                  std::string("\xE9\0", 2) +              // U+00E9
                  wide("\"\r\n\"Pair\"=\"") + std::string("\x3D\xD8\x00\xDE", 4) +  // U+1F600 as two units
                  wide("\"\r\n\"Lone\"=\"") + std::string("\x00\xDC", 2) +  // a low surrogate alone
                  wide("\"\r\n"));
    RegistryKey key;
    ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, kProduct), kRegSuccess);
    EXPECT_EQ(Text(key, "Name"), "caf\xC3\xA9");
    EXPECT_EQ(Text(key, "Pair"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Text(key, "Lone"), "\xEF\xBF\xBD");
}

TEST_F(Registry, SectionsApplyInOrderLikeAnImport) {
    WriteRegistry(
        "REGEDIT4\n"
        "[HKEY_LOCAL_MACHINE\\" + kProduct + "]\n\"A\"=\"1\"\n\"B\"=\"2\"\n\"C\"=\"3\"\n"
        "[HKEY_LOCAL_MACHINE\\" + kProduct + "]\n\"A\"=\"one\"\n\"C\"=-\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone\\Below]\n\"X\"=\"x\"\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Back]\n\"Old\"=\"o\"\n"
        "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Back]\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Back]\n\"New\"=\"n\"\n");
    RegistryKey key;
    ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, kProduct), kRegSuccess);
    EXPECT_EQ(Text(key, "A"), "one");  // the later line wins
    EXPECT_EQ(Text(key, "B"), "2");
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(key.QueryValue("C", type, size), kRegFileNotFound);  // taken away

    // A section makes the keys above it exist, without values of their own.
    ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, "SOFTWARE\\Brackenfold"), kRegSuccess);
    EXPECT_EQ(key.QueryValue("A", type, size), kRegFileNotFound);
    EXPECT_EQ(key.Open(RegistryRoot::LocalMachine, "SOFTWARE\\Brackenfold\\Quill"), kRegFileNotFound);

    // A removal section takes its key and everything below it.
    EXPECT_EQ(key.Open(RegistryRoot::LocalMachine, "SOFTWARE\\Gone"), kRegFileNotFound);
    EXPECT_EQ(key.Open(RegistryRoot::LocalMachine, "SOFTWARE\\Gone\\Below"), kRegFileNotFound);
    // A key given again after its removal starts with no values.
    ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, "SOFTWARE\\Back"), kRegSuccess);
    EXPECT_EQ(Text(key, "New"), "n");
    EXPECT_EQ(key.QueryValue("Old", type, size), kRegFileNotFound);
}

TEST_F(Registry, ExtensionKeysComeFromTheMediaTypeTable) {
    WriteMimeTypes(
        "# type            extensions\n"
        "text/plain        txt text TXT2\n"
        "audio/AMR-WB      awb\n"
        "image/x-first     dup\n"
        "image/x-second    dup\n"
        "application/x-a   # old   skipped\n"
        "notatype          nat\n"
        "\n");
    WriteRegistry("REGEDIT4\n[HKEY_CLASSES_ROOT\\.log]\n\"Content Type\"=\"text/x-log\"\n");
    RegistryKey key;
    ASSERT_EQ(key.Open(RegistryRoot::ClassesRoot, ".TxT"), kRegSuccess);
    EXPECT_EQ(Text(key, "Content Type"), "text/plain");
    EXPECT_EQ(Text(key, "content type"), "text/plain");
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(key.QueryValue("", type, size), kRegFileNotFound);  // only the one value

    ASSERT_EQ(key.Open(RegistryRoot::ClassesRoot, ".txt2"), kRegSuccess);
    EXPECT_EQ(Text(key, "Content Type"), "text/plain");
    ASSERT_EQ(key.Open(RegistryRoot::ClassesRoot, ".awb"), kRegSuccess);
    EXPECT_EQ(Text(key, "Content Type"), "audio/AMR-WB");  // as the table writes it
    ASSERT_EQ(key.Open(RegistryRoot::ClassesRoot, ".dup"), kRegSuccess);
    EXPECT_EQ(Text(key, "Content Type"), "image/x-first");
    ASSERT_EQ(key.Open(RegistryRoot::ClassesRoot, ".log"), kRegSuccess);
    EXPECT_EQ(Text(key, "Content Type"), "text/x-log");

    for (const char* missing : {".qqq", ".", ".old", ".skipped", ".nat", "txt", ".txt\\more",
                                ".text/plain", ".x-a"})
        EXPECT_EQ(key.Open(RegistryRoot::ClassesRoot, missing), kRegFileNotFound) << missing;
    EXPECT_FALSE(key.IsOpen());
    // Only file types are answered from the table.
    EXPECT_EQ(key.Open(RegistryRoot::LocalMachine, ".txt"), kRegFileNotFound);
}

TEST_F(Registry, ExtensionKeyInTheFileWinsOverTheTable) {
    WriteMimeTypes("text/plain txt\nimage/png png\n");
    WriteRegistry(
        "REGEDIT4\n"
        "[HKEY_CLASSES_ROOT\\.txt]\n@=\"txtfile\"\n"
        "[HKCR\\.png]\n\"Content Type\"=\"image/x-own\"\n");
    RegistryKey key;
    ASSERT_EQ(key.Open(RegistryRoot::ClassesRoot, ".TXT"), kRegSuccess);
    std::uint32_t type = 0, size = 0;
    EXPECT_EQ(key.QueryValue("Content Type", type, size), kRegFileNotFound);
    EXPECT_EQ(Text(key, ""), "txtfile");
    ASSERT_EQ(key.Open(RegistryRoot::ClassesRoot, ".png"), kRegSuccess);
    EXPECT_EQ(Text(key, "Content Type"), "image/x-own");

    // A key the file takes away is not brought back by the table.
    WriteRegistry("REGEDIT4\n[-HKEY_CLASSES_ROOT\\.txt]\n");
    EXPECT_EQ(key.Open(RegistryRoot::ClassesRoot, ".txt"), kRegFileNotFound);
    EXPECT_EQ(key.Open(RegistryRoot::ClassesRoot, ".png"), kRegSuccess);
}

TEST_F(Registry, MediaTypeTableIsReadAfreshToo) {
    WriteMimeTypes("text/plain txt\n");
    RegistryKey key;
    ASSERT_EQ(key.Open(RegistryRoot::ClassesRoot, ".txt"), kRegSuccess);
    EXPECT_EQ(Text(key, "Content Type"), "text/plain");
    WriteMimeTypes("text/x-changed txt\r\n");
    ASSERT_EQ(key.Open(RegistryRoot::ClassesRoot, ".txt"), kRegSuccess);
    EXPECT_EQ(Text(key, "Content Type"), "text/x-changed");
    std::filesystem::remove(dir_.file("mime.types"));
    EXPECT_EQ(key.Open(RegistryRoot::ClassesRoot, ".txt"), kRegFileNotFound);
}

TEST_F(Registry, SystemMediaTypeTableAnswersCommonExtensions) {
    if (!std::filesystem::exists("/etc/mime.types")) GTEST_SKIP() << "no /etc/mime.types";
    ScopedEnv mime("QUILLPOST_MIME_TYPES", std::nullopt);
    RegistryKey key;
    ASSERT_EQ(key.Open(RegistryRoot::ClassesRoot, ".TXT"), kRegSuccess);
    EXPECT_EQ(Text(key, "Content Type"), "text/plain");
    ASSERT_EQ(key.Open(RegistryRoot::ClassesRoot, ".png"), kRegSuccess);
    EXPECT_EQ(Text(key, "Content Type"), "image/png");
    EXPECT_EQ(key.Open(RegistryRoot::ClassesRoot, ".no-such-extension"), kRegFileNotFound);
}

TEST_F(Registry, SmallBufferGivesMoreDataAndNothingRead) {
    RegistryKey key = ProductKeyWith("\"Name\"=\"abc\"\n\"N\"=dword:00000001\n\"Long\"=hex(4):01,02,03,04,05\n");
    std::string data = "stale";
    EXPECT_EQ(key.ReadValue("Name", 3, data), kRegMoreData);  // no room for the NUL
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(key.ReadValue("Name", 0, data), kRegMoreData);
    EXPECT_EQ(key.ReadValue("N", 3, data), kRegMoreData);
    ASSERT_EQ(key.ReadValue("Name", 4, data), kRegSuccess);
    EXPECT_EQ(data, std::string("abc\0", 4));
    ASSERT_EQ(key.ReadValue("Name", 64, data), kRegSuccess);  // a larger buffer holds the same
    EXPECT_EQ(data, std::string("abc\0", 4));
    std::uint32_t number = 77;
    EXPECT_EQ(key.ReadDword("Long", number), kRegMoreData);
    EXPECT_EQ(number, 77u);
}

TEST_F(Registry, KeyThatIsNotOpenGivesInvalidHandle) {
    RegistryKey never;
    std::uint32_t type = 0, size = 0, number = 0;
    std::string data;
    EXPECT_EQ(never.QueryValue("RequireLocalSender", type, size), kRegInvalidHandle);
    EXPECT_EQ(never.ReadValue("RequireLocalSender", 10, data), kRegInvalidHandle);
    EXPECT_EQ(never.ReadDword("RequireLocalSender", number), kRegInvalidHandle);
    EXPECT_EQ(never.Close(), kRegInvalidHandle);

    RegistryKey key = ProductKeyWith("\"RequireLocalSender\"=\"True\"\n");
    EXPECT_EQ(key.Close(), kRegSuccess);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.QueryValue("RequireLocalSender", type, size), kRegInvalidHandle);
    EXPECT_EQ(key.Close(), kRegInvalidHandle);

    // A failed open leaves the key closed, also one that was open before.
    ASSERT_EQ(key.Open(RegistryRoot::LocalMachine, kProduct), kRegSuccess);
    EXPECT_EQ(key.Open(RegistryRoot::LocalMachine, "SOFTWARE\\Missing"), kRegFileNotFound);
    EXPECT_EQ(key.QueryValue("RequireLocalSender", type, size), kRegInvalidHandle);
}

TEST_F(Registry, MovedKeyTakesTheOpenStateAlong) {
    RegistryKey key = ProductKeyWith("\"RequireLocalSender\"=\"True\"\n");
    RegistryKey moved(std::move(key));
    EXPECT_EQ(Text(moved, "RequireLocalSender"), "True");
    std::uint32_t type = 0, size = 0;
    EXPECT_FALSE(key.IsOpen());  // NOLINT(bugprone-use-after-move): moved-from keys are closed
    EXPECT_EQ(key.QueryValue("RequireLocalSender", type, size), kRegInvalidHandle);

    RegistryKey assigned;
    assigned = std::move(moved);
    EXPECT_EQ(Text(assigned, "RequireLocalSender"), "True");
    EXPECT_FALSE(moved.IsOpen());  // NOLINT(bugprone-use-after-move)
}
