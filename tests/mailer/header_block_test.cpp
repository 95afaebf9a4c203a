// The pieces of the header block that need no server: quoting, the date text
// and its zone, short names, content types and boundaries.
#include <quillpost/detail/date.hpp>
#include "mailer/attachment_file.hpp"
#include "mailer/header_block.hpp"
#include "mailer/mime_writer.hpp"
#include "platform/local_time.hpp"
#include "platform/registry.hpp"
#include "tests/mailer/send_support.hpp"
#include "tests/support/temp_dir.hpp"

#include <gtest/gtest.h>

using namespace quillpost;
using namespace quillpost::test;

TEST(HeaderBlockText, QuoteAndFormatAddressChangeNothingInside) {
    EXPECT_EQ(Quote("Ann \"the\" Lee"), "\"Ann \"the\" Lee\"");
    EXPECT_EQ(FormatAddress(""), "");
    EXPECT_EQ(FormatAddress("Ann"), "\"Ann\" ");
}

TEST(HeaderBlockDate, ZoneIsTheTrueOffsetAtTheDatesMoment) {
    const double winter = MakeDate({2026, 12, 6, 22, 20, 18, 0});
    const double summer = MakeDate({2026, 7, 1, 12, 0, 0, 0});
    {
        ZoneGuard zone("Asia/Kolkata");
        EXPECT_EQ(DateText(winter, TimeZoneOffset(winter)), "Sun, 06 Dec 2026 22:20:18 +0530");
    }
    {
        ZoneGuard zone("America/St_Johns");
        EXPECT_EQ(TimeZoneOffset(winter), -210);  // -0330
        EXPECT_EQ(DateText(winter, -210), "Sun, 06 Dec 2026 22:20:18 -0330");
        EXPECT_EQ(TimeZoneOffset(summer), -150);  // -0230 in summer
    }
    {
        ZoneGuard zone("Europe/Berlin");
        EXPECT_EQ(DateText(summer, TimeZoneOffset(summer)), "Wed, 01 Jul 2026 12:00:00 +0200");
        EXPECT_EQ(DateText(winter, TimeZoneOffset(winter)), "Sun, 06 Dec 2026 22:20:18 +0100");
    }
    {
        ZoneGuard zone("Asia/Kathmandu");
        EXPECT_EQ(TimeZoneOffset(winter), 345);
    }
    {
        ZoneGuard zone("UTC");
        EXPECT_EQ(DateText(MakeDate({2024, 2, 29, 0, 0, 5, 0}), 0), "Thu, 29 Feb 2024 00:00:05 +0000");
    }
}

TEST(AttachmentNames, ShortNameFollowsTheLastBackslashFirst) {
    EXPECT_EQ(ShortName("C:\\a/b\\c.txt"), "c.txt");
    EXPECT_EQ(ShortName("C:\\docs/x/report.txt"), "docs/x/report.txt");
    EXPECT_EQ(ShortName("a/b/c.txt"), "c.txt");
    EXPECT_EQ(ShortName("c.txt"), "c.txt");
    EXPECT_EQ(ShortName("dir/"), "");
}

class ContentTypeTest : public ::testing::Test {
protected:
    TempDir dir;
    EnvGuard registry{"QUILLPOST_REGISTRY", dir.write("r.reg",
                                                      "REGEDIT4\r\n"
                                                      "[HKEY_CLASSES_ROOT\\.txt]\r\n\"Content Type\"=\"text/plain\"\r\n"
                                                      "[HKEY_CLASSES_ROOT\\.]\r\n\"Content Type\"=\"x/period\"\r\n"
                                                      "[HKEY_CLASSES_ROOT\\.num]\r\n\"Content Type\"=dword:00000001\r\n"
                                                      "[HKEY_CLASSES_ROOT\\.blank]\r\n\"Content Type\"=\"\"\r\n")};
    EnvGuard mimeTypes{"QUILLPOST_MIME_TYPES", dir.write("mime.types", "# types\napplication/pdf\tpdf\nimage/png png\n")};
};

TEST_F(ContentTypeTest, LooksUpTheExtensionAfterTheLastPeriod) {
    EXPECT_EQ(ContentTypeOf("/srv/report.txt"), "text/plain");
    EXPECT_EQ(ContentTypeOf("/srv/REPORT.TXT"), "text/plain");
    EXPECT_EQ(ContentTypeOf("/srv/scan.PDF"), "application/pdf");
    EXPECT_EQ(ContentTypeOf("C:\\x\\pic.png"), "image/png");
    EXPECT_EQ(ContentTypeOf("/srv/name."), "x/period");
}

TEST_F(ContentTypeTest, AnythingElseIsApplicationUnknown) {
    EXPECT_EQ(ContentTypeOf("/srv/readme"), "application/unknown");
    EXPECT_EQ(ContentTypeOf("/srv/my.dir/readme"), "application/unknown");
    EXPECT_EQ(ContentTypeOf("a.num"), "application/unknown");
    EXPECT_EQ(ContentTypeOf("a.blank"), "application/unknown");
    EXPECT_EQ(ContentTypeOf("a.nosuchext"), "application/unknown");
}

TEST_F(ContentTypeTest, ReadRegistryValueGivesTheStatusesOfThePlatform) {
    RegistryKey key;
    ASSERT_EQ(key.Open(RegistryRoot::ClassesRoot, ".num"), 0);
    Variant value("untouched");
    EXPECT_EQ(ReadRegistryValue(key, "Content Type", value), 0);
    EXPECT_EQ(value.ToInt32(), 1);
    value = Variant("untouched");
    EXPECT_EQ(ReadRegistryValue(key, "Missing", value), 2);
    EXPECT_EQ(value.ToText(), "untouched");
    dir.write("r.reg", "REGEDIT4\r\n[HKEY_CLASSES_ROOT\\.bin]\r\n\"Content Type\"=hex:00,01\r\n");
    RegistryKey binary;
    ASSERT_EQ(binary.Open(RegistryRoot::ClassesRoot, ".bin"), 0);
    EXPECT_EQ(ReadRegistryValue(binary, "Content Type", value), -1);
    EXPECT_EQ(value.ToText(), "untouched");
}

TEST(Boundaries, ClockTextHasSevenDigitsAtMostAndNoPoint) {
    EXPECT_EQ(BoundaryClockText(37042.55f), "37042_55");
    EXPECT_EQ(BoundaryClockText(43200.0f), "43200");
    EXPECT_EQ(BoundaryClockText(0.5f), "0_5");
    EXPECT_EQ(BoundaryClockText(86399.99f), "86399_99");
    EXPECT_EQ(BoundaryClockText(1.0e-6f), "0_000001");
    EXPECT_EQ(BoundaryClockText(12.345678f), "12_34568");
}
