#include "mailer/attachment_file.hpp"
#include "tests/support/temp_dir.hpp"
#include "tools/progress.hpp"

#include <quillpost/host_events.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

using namespace quillpost;
using quillpost::test::TempDir;

namespace {

class NullSink final : public DataSink {
public:
    void Write(std::string_view text) override { written += text.size(); }
    std::size_t written = 0;
};

}  // namespace

TEST(QpmailProgress, TextShowsDoneOfTotalPercentAndRate) {
    const struct {
        std::uint64_t done, total;
        double seconds;
        const char* expected;
    } cases[] = {
        {0, 1000, 0, "qpmail: attachments 0 B of 1000 B (0%)"},
        {512, 2048, 1, "qpmail: attachments 512 B of 2.0 KiB (25%), 512 B/s"},
        {3 << 20, 200ull << 20, 2, "qpmail: attachments 3.0 MiB of 200.0 MiB (1%), 1.5 MiB/s"},
        {200ull << 20, 200ull << 20, 4, "qpmail: attachments 200.0 MiB of 200.0 MiB (100%), 50.0 MiB/s"},
        {5ull << 30, 4ull << 30, 0.001, "qpmail: attachments 5.0 GiB of 4.0 GiB (100%)"},
    };
    for (const auto& c : cases) EXPECT_EQ(qpmail::ProgressText(c.done, c.total, c.seconds), c.expected);
}

TEST(QpmailProgress, EveryAttachmentByteIsReportedOnTheSendingThreadOnly) {
    TempDir dir;
    // More than one read block of the writer, and not a whole number of them.
    const std::string path = dir.write("big.bin", std::string(3 * 57 * 1024 + 1000, 'x'));
    std::uint64_t reported = 0, calls = 0, otherThread = 0;
    const auto previous = SetAttachmentProgressHook([&](std::uint64_t bytes) {
        reported += bytes;
        ++calls;
    });
    EXPECT_FALSE(previous);
    NullSink sink;
    WriteFileAsBase64(sink, path);
    std::thread([&] {
        NullSink elsewhere;
        WriteFileAsBase64(elsewhere, path);
        otherThread = elsewhere.written;
    }).join();
    EXPECT_TRUE(SetAttachmentProgressHook({}));
    EXPECT_EQ(reported, 3u * 57 * 1024 + 1000);
    EXPECT_EQ(calls, 4u);
    EXPECT_GT(otherThread, 0u);  // the other thread sent, and reported nothing here
    WriteFileAsBase64(sink, path);
    EXPECT_EQ(reported, 3u * 57 * 1024 + 1000);
}

TEST(QpmailProgress, LineIsRewrittenInPlaceAndEndsOnItsOwnLine) {
    TempDir dir;
    const std::string path = dir.write("a.bin", std::string(1000, 'y'));
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    {
        qpmail::ProgressLine line(out, 1000);
        NullSink sink;
        WriteFileAsBase64(sink, path);
    }
    std::rewind(out);
    char buffer[512] = {};
    const std::size_t size = std::fread(buffer, 1, sizeof buffer - 1, out);
    std::fclose(out);
    const std::string text(buffer, size);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.front(), '\r');
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text.rfind("\rqpmail: attachments 1000 B of 1000 B (100%)"), std::string::npos) << text;
    // Without a progress line nothing is reported any more.
    EXPECT_FALSE(SetAttachmentProgressHook({}));
}
