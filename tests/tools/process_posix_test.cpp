#include "tools/process.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

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
