#include "tests/support/error_of.hpp"
#include "tests/support/temp_dir.hpp"

#include <quillpost/collections.hpp>

#include <gtest/gtest.h>

using namespace quillpost;
using quillpost::test::ErrorNumberOf;
using quillpost::test::TempDir;

TEST(AttachmentsAdd, ReadableFilesAreAddedWithTheirNameUnchanged) {
    TempDir dir;
    const std::string path = dir.write("report.txt", "data");
    const std::string empty = dir.write("empty.bin", "");
    Attachments a;
    a.Add(path);
    a.Add(path);
    a.Add(empty);
    ASSERT_EQ(a.Count(), 3);
    EXPECT_EQ(a.Item(1)->FileName(), path);
    EXPECT_EQ(Variant(a.Item(3)).ToText(), empty);
}

TEST(AttachmentsAdd, BlankNameIsRefusedBeforeAnyFileAccess) {
    Attachments a;
    try {
        a.Add("");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 9994);
        EXPECT_EQ(e.description(), "Attachment file name can not be blank");
    }
}

TEST(AttachmentsAdd, FilesThatCannotBeOpenedAreNotAdded) {
    TempDir dir;
    Attachments a;
    EXPECT_EQ(ErrorNumberOf([&] { a.Add(dir.file("missing.txt")); }), 53);
    EXPECT_EQ(ErrorNumberOf([&] { a.Add(dir.file("nope/missing.txt")); }), 76);
    EXPECT_EQ(ErrorNumberOf([&] { a.Add(dir.path()); }), 75);
    EXPECT_EQ(a.Count(), 0);
}

TEST(AttachmentsItem, FileNameSetDirectlyIsNotChecked) {
    TempDir dir;
    Attachments a;
    a.Add(dir.write("x", "1"));
    a.Item(1)->FileName(dir.file("gone"));
    EXPECT_EQ(a.Item(1)->FileName(), dir.file("gone"));
    EXPECT_EQ(ErrorNumberOf([&] { a.Item("x"); }), 5);
}
