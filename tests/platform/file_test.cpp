#include "platform/file.hpp"
#include "tests/support/temp_dir.hpp"

#include <quillpost/error.hpp>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>

using namespace quillpost;
using quillpost::test::TempDir;

namespace {

int OpenErrorOf(const std::string& path) {
    try {
        InputFile f(path);
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

}  // namespace

TEST(InputFileOpen, MapsEachFailureToItsNumber) {
    TempDir dir;
    EXPECT_EQ(OpenErrorOf(dir.file("missing.txt")), 53);
    EXPECT_EQ(OpenErrorOf(dir.file("no-such-folder/x.txt")), 76);
    EXPECT_EQ(OpenErrorOf(dir.path()), 75);
    const std::string plain = dir.write("plain.txt", "x");
    EXPECT_EQ(OpenErrorOf(plain + "/below"), 76);
    EXPECT_EQ(OpenErrorOf(plain), 0);
}

TEST(FileOpen, OnlyWhatCanEndIsTakenAndNothingWaits) {
    // A pipe nobody writes to would hold an open, /dev/zero never ends; an
    // attachment must be a regular file. A trace may be a device, or a pipe
    // that someone reads.
    TempDir dir;
    const std::string pipe = dir.file("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(OpenErrorOf(pipe), 75);
    EXPECT_EQ(OpenErrorOf("/dev/zero"), 75);
    EXPECT_EQ(OpenErrorOf("/dev/null"), 75);
    auto appendError = [](const std::string& path) {
        try {
            AppendFile f(path);
            f.WriteLine("+ traced");
            f.Close();
        } catch (const Error& e) {
            return e.number();
        }
        return 0;
    };
    EXPECT_EQ(appendError(pipe), 75);  // no reader
    EXPECT_EQ(appendError("/dev/null"), 0);
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(appendError(pipe), 0);
    char got[32] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 10);
    EXPECT_STREQ(got, "+ traced\r\n");
    ::close(reader);
}

TEST(InputFileOpen, UnreadableFileIsPermissionDenied) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TempDir dir;
    const std::string path = dir.write("secret.txt", "x");
    ::chmod(path.c_str(), 0);
    EXPECT_EQ(OpenErrorOf(path), 70);
}

TEST(InputFileRead, ReadsExactlyAndReportsAShrunkFile) {
    TempDir dir;
    InputFile f(dir.write("five.bin", "12345"));
    EXPECT_EQ(f.Length(), 5u);
    std::array<std::uint8_t, 3> block{};
    f.ReadExactly(block);
    EXPECT_EQ(block[0], '1');
    try {
        f.ReadExactly(block);  // only two bytes are left
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 57);
    }
}

TEST(AppendFileWrite, AppendsLinesWithCrLfAfterEarlierContent) {
    TempDir dir;
    const std::string path = dir.write("trace.log", "old\r\n");
    {
        AppendFile f(path);
        f.WriteLine("+ one");
        f.WriteLine("");
        f.WriteLine(std::string(70000, 'x'));  // larger than the buffer
        f.Close();
    }
    EXPECT_EQ(TempDir::read(path), "old\r\n+ one\r\n\r\n" + std::string(70000, 'x') + "\r\n");
}

TEST(AppendFileWrite, DestructorFlushesWhatWasBuffered) {
    TempDir dir;
    const std::string path = dir.file("t.log");
    { AppendFile f(path); f.WriteLine("kept"); }
    EXPECT_EQ(TempDir::read(path), "kept\r\n");
}

TEST(AppendFileOpen, FolderThatDoesNotExistIsPathNotFound) {
    TempDir dir;
    try {
        AppendFile f(dir.file("nowhere/trace.log"));
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 76);
        EXPECT_EQ(e.description(), "Path not found");
    }
}

TEST(AppendFileWrite, FullDiskIsReportedWhenFlushed) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    AppendFile f("/dev/full");
    f.WriteLine("lost");
    try {
        f.Close();
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 61);
    }
}

TEST(ReadSmallFile, GivesARegularFileWholeAndAnythingElseAsNothing) {
    TempDir dir;
    const std::string binary("a\0\r\n\xFF", 5);
    const std::string large(200000, 'q');
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        std::string content;
    } cases[] = {
        {dir.write("binary.bin", binary), binary},
        {dir.write("large.txt", large), large},
        {dir.write("empty.txt", ""), ""},
        {dir.file("missing.txt"), ""},
        {dir.path(), ""},
        {fifo, ""},  // nobody writes to it: reading must not wait
    };
    for (const auto& c : cases) EXPECT_EQ(ReadSmallFile(c.path), c.content) << c.path;
}
