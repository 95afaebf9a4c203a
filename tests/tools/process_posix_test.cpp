#include "tools/process.hpp"

#include "tests/support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ios>
#include <string>

TEST(ReportBrokenConnectionsAsErrors, WriteWithNoReaderFailsInsteadOfEndingTheProcess) {
    quillpost::qpmail::ReportBrokenConnectionsAsErrors();
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    errno = 0;
    EXPECT_EQ(::write(ends[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    ::close(ends[1]);
}

TEST(OthersMayRead, LooksAtTheGroupAndEveryoneButNotTheOwner) {
    const quillpost::test::TempDir dir;
    const std::string path = dir.write("password", "secret\n");
    const struct {
        mode_t mode;
        bool open;
    } cases[] = {{0600, false}, {0400, false}, {0640, true}, {0604, true}, {0644, true}, {0620, false}};
    for (const auto& c : cases) {
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        EXPECT_EQ(quillpost::qpmail::OthersMayRead(path), c.open) << std::oct << c.mode;
    }
    EXPECT_FALSE(quillpost::qpmail::OthersMayRead(dir.file("missing")));
}
