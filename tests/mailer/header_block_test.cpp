// The pieces of the header block that need no server: quoting, the date text
// and its zone, short names, content types and boundaries.
#include <quillpost/detail/date.hpp>
#include "mailer/attachment_file.hpp"
#include "mailer/header_block.hpp"
#include "mailer/mime_writer.hpp"
#include "platform/local_time.hpp"
#include "platform/registry.hpp"
#include "platform/system_identity.hpp"
#include "tests/mailer/send_support.hpp"
#include "tests/support/error_of.hpp"
#include "tests/support/temp_dir.hpp"

#include "mailer/snapshot.hpp"

#include <quillpost/error.hpp>

#include <gtest/gtest.h>

#include <regex>
#include <set>

using namespace quillpost;
using namespace quillpost::test;

namespace {

// A header line with every fold taken out again (RFC 5322 2.2.3).
std::string Unfold(std::string line) {
    for (std::size_t fold; (fold = line.find("\r\n ")) != std::string::npos || (fold = line.find("\r\n\t")) != std::string::npos;)
        line.erase(fold, 2);
    return line;
}

Snapshot TestSnapshot() {
    Snapshot m;
    m.fromAddress = "ann@example.com";
    m.fromName = "Ann";
    m.subject = "Hi";
    m.application = "Quillpost 1.0";
    m.recipients.push_back({"Bob", "bob@example.com"});
    return m;
}

}  // namespace

TEST(HeaderBlockText, QuoteWritesBackslashesAndDoubleQuotesAsQuotedPairs) {
    const std::pair<std::string, std::string> cases[] = {
        {"Ann Lee", "\"Ann Lee\""},
        {"Ann \"the\" Lee", R"("Ann \"the\" Lee")"},
        {R"(C:\dir\)", R"("C:\\dir\\")"},
        {R"(Support" <ceo@bank.example>, "x)", R"("Support\" <ceo@bank.example>, \"x")"},
        {"", "\"\""},
    };
    for (const auto& [text, quoted] : cases) EXPECT_EQ(Quote(text), quoted) << text;
    EXPECT_EQ(FormatAddress(""), "");
    EXPECT_EQ(FormatAddress("Ann"), "\"Ann\" ");
}

TEST(HeaderBlockText, LongLinesFoldBeforeABlankNear78AndUnfoldToThemselves) {
    std::string words;
    for (int i = 0; i < 300; ++i) words += (i % 7 == 0 ? "x  y" : " word") + std::to_string(i);
    struct Case {
        std::string line;
        std::size_t longest;  // the longest line folding may leave
    };
    const Case cases[] = {
        {"Subject: a" + std::string(70, ' ') + "tail\r\n", 78},                 // a run of blanks stays whole
        {"Subject: " + words + "\r\n", 78},
        {"X-Long: a " + std::string(100, 'b') + " c\r\n", 101},                 // the run on a line of its own
        {"Subject: ends in blanks" + std::string(90, ' ') + "\r\n", 97},        // no line of blanks alone
        {"To: <a@example.com>,\r\n \"" + std::string(40, 'n') + " " + std::string(40, 'm') + "\" <b@example.com>\r\n", 78},
    };
    for (const Case& c : cases) {
        const std::string folded = FoldLine(c.line);
        EXPECT_EQ(Unfold(folded), Unfold(c.line)) << c.line;
        EXPECT_LE(LongestLine(folded), c.longest) << folded;
        EXPECT_NE(folded, c.line) << "not folded: " << c.line;
        // RFC 5322 2.2.3: no line of blanks alone.
        for (std::size_t start = 0, end; (end = folded.find("\r\n", start)) != std::string::npos; start = end + 2)
            EXPECT_GT(LongestRun(folded.substr(start, end - start)), 0u) << folded;
    }
    // Lines within 78 characters, and lines with no blank to fold at, keep
    // their bytes.
    for (const std::string& line : {std::string("Subject: short and sweet\r\n"), "X-Long: " + std::string(990, 'a') + "\r\n",
                                    "Subject:" + std::string(70, ' ') + "tail\r\n"})
        EXPECT_EQ(FoldLine(line), line);
}

TEST(HeaderBlockText, AnAsciiRunTooLongForAnyLineBecomesEncodedWords) {
    const std::string run(1500, 'z');
    const std::string line = TextHeaderLine("Subject", "see " + run);
    EXPECT_TRUE(line.starts_with("Subject: =?utf-8?B?")) << line.substr(0, 80);
    EXPECT_LE(LongestLine(line), 78u);
    // A name with such a run is encoded words too, never a quoted string.
    const std::string mailbox = Mailbox(run, "a@example.com", 6);
    EXPECT_TRUE(mailbox.starts_with("=?utf-8?B?")) << mailbox.substr(0, 80);
    EXPECT_LE(LongestLine(mailbox), 78u);
    EXPECT_EQ(Mailbox(std::string(900, 'z'), "a@example.com", 6), "\"" + std::string(900, 'z') + "\" <a@example.com>");
    EXPECT_TRUE(Mailbox(std::string(990, 'z'), "a@example.com", 6).starts_with("=?utf-8?B?"));
}

TEST(HeaderBlockMessageId, EveryMessageGetsItsOwnIdRightAfterTheDate) {
    const std::regex shape("Message-ID: <[A-Za-z0-9]{26,}@example\\.com>\r\n");
    std::set<std::string> seen;
    const Snapshot m = TestSnapshot();
    for (int i = 0; i < 10000; ++i) {
        const std::vector<std::string> lines = HeaderBlockLines(m);
        ASSERT_GE(lines.size(), 3u);
        ASSERT_TRUE(lines[0].starts_with("Date: ")) << lines[0];
        ASSERT_TRUE(std::regex_match(lines[1], shape)) << lines[1];
        seen.insert(lines[1]);
    }
    EXPECT_EQ(seen.size(), 10000u);
}

TEST(HeaderBlockMessageId, TheRightSideIsTheSendersDomainInALabels) {
    const std::regex hex("[0-9a-f]{32}");
    const std::pair<std::string, std::string> cases[] = {
        {"ann@example.com", "example.com"},
        {"ann@b\xC3\xBC" "cher.example", "xn--bcher-kva.example"},
        {"zo\xC3\xAB@b\xC3\xBC" "cher.example", "xn--bcher-kva.example"},
        {"\"a@b\"@example.org", "example.org"},
        {"ann", LocalHostName()},
        {"ann@[192.0.2.1]", LocalHostName()},
    };
    for (const auto& [address, right] : cases) {
        const std::string id = MessageIdFor(address);
        ASSERT_GE(id.size(), 35u) << address;
        EXPECT_TRUE(std::regex_match(id.substr(1, 32), hex)) << id;
        EXPECT_EQ(id.substr(33), "@" + right + ">") << address;
    }
}

TEST(HeaderBlockMessageId, AnExtraDateOrMessageIdTakesThePlaceOfTheBlocksOwn) {
    Snapshot m = TestSnapshot();
    m.extraHeaders = {{"X-Before", "1"}, {"message-id:", "<given@example.org>"}, {"DATE", "Mon, 07 Dec 2026 08:00:00 +0100"}};
    const std::vector<std::string> lines = HeaderBlockLines(m);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "DATE: Mon, 07 Dec 2026 08:00:00 +0100\r\n");
    EXPECT_EQ(lines[1], "message-id: <given@example.org>\r\n");
    EXPECT_EQ(lines.back(), "X-Before: 1\r\n");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("@example.org") != std::string::npos; }), 1);
}

struct PrepareCase {
    const char* what;
    std::function<void(Snapshot&)> set;
    std::int32_t number;
    std::string description;
};

TEST(HeaderBlockChecks, NamesRepeatsAndDomainsAreRefusedBeforeAnythingIsSent) {
    using H = Snapshot::HeaderField;
    const PrepareCase cases[] = {
        {"blank in a name", [](Snapshot& m) { m.extraHeaders = {H{"X Tag", "1"}}; }, 9979, "Header name is not valid: X Tag"},
        {"colon inside", [](Snapshot& m) { m.extraHeaders = {H{"X:Tag", "1"}}; }, 9979, "Header name is not valid: X:Tag"},
        {"colon alone", [](Snapshot& m) { m.extraHeaders = {H{":", "1"}}; }, 9979, "Header name is not valid: :"},
        {"beyond ASCII", [](Snapshot& m) { m.extraHeaders = {H{"X-Gr\xC3\xBC\xC3\x9F" "e", "1"}}; }, 9979,
         "Header name is not valid: X-Gr\xC3\xBC\xC3\x9F" "e"},
        {"control character", [](Snapshot& m) { m.extraHeaders = {H{"X-\x01", "1"}}; }, 9979, "Header name is not valid: X-\x01"},
        {"too long for a line", [](Snapshot& m) { m.extraHeaders = {H{std::string(997, 'X'), "1"}}; }, 9979,
         "Header name is not valid: " + std::string(997, 'X')},
        {"a second Subject", [](Snapshot& m) { m.extraHeaders = {H{"subject", "2"}}; }, 9987, "Header may appear only once: Subject"},
        {"a second From", [](Snapshot& m) { m.extraHeaders = {H{"From:", "x@example.com"}}; }, 9987, "Header may appear only once: From"},
        {"a second To", [](Snapshot& m) { m.extraHeaders = {H{"To", "x@example.com"}}; }, 9987, "Header may appear only once: To"},
        {"two Message-IDs", [](Snapshot& m) { m.extraHeaders = {H{"Message-ID", "<a@b>"}, H{"Message-Id", "<c@d>"}}; }, 9987,
         "Header may appear only once: Message-ID"},
        {"two References", [](Snapshot& m) { m.extraHeaders = {H{"References", "<a@b>"}, H{"REFERENCES", "<c@d>"}}; }, 9987,
         "Header may appear only once: References"},
        {"MIME-Version", [](Snapshot& m) { m.extraHeaders = {H{"Mime-Version", "1.0"}}; }, 9987, "Header may appear only once: MIME-Version"},
        {"Content-Type of a body", [](Snapshot& m) { m.textBody = "x"; m.extraHeaders = {H{"Content-Type", "text/x"}}; }, 9987,
         "Header may appear only once: Content-Type"},
        {"Content-Transfer-Encoding of a quoted-printable body",
         [](Snapshot& m) { m.textBody = "\xC3\xBC"; m.extraHeaders = {H{"Content-Transfer-Encoding", "8bit"}}; }, 9987,
         "Header may appear only once: Content-Transfer-Encoding"},
        {"a label that cannot be one", [](Snapshot& m) { m.recipients[0].address = "bob@-b\xC3\xBC" "cher.example"; }, 9986,
         "Text is not valid UTF-8 in Recipients"},
        {"a sender's label with a symbol", [](Snapshot& m) { m.fromAddress = "ann@\xE2\x98\x83.example"; }, 9986,
         "Text is not valid UTF-8 in FromAddress"},
        {"accepted: Cc given once with no CCs", [](Snapshot& m) { m.extraHeaders = {H{"Cc", "c@example.com"}, H{"X-Tag:", "1"}}; }, 0, ""},
        {"accepted: Content-Transfer-Encoding over ASCII text", [](Snapshot& m) { m.textBody = "x"; m.extraHeaders = {H{"Content-Transfer-Encoding", "7bit"}}; }, 0, ""},
        {"accepted: printable punctuation", [](Snapshot& m) { m.extraHeaders = {H{".X-!#~", "1"}}; }, 0, ""},
    };
    for (const PrepareCase& c : cases) {
        Snapshot m = TestSnapshot();
        c.set(m);
        const Error e = ErrorOf([&] { PrepareHeaders(m); });
        EXPECT_EQ(e.number(), c.number) << c.what;
        EXPECT_EQ(e.description(), c.description) << c.what;
    }
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

// A date taken from the clock keeps the offset of that instant, even when
// the zone changes before the header is written; a date the caller sets is
// judged by the zone in force when it is written.
TEST(HeaderBlockDate, ADateFromTheClockKeepsTheOffsetOfItsInstant) {
    Message fromClock;
    Message setByCaller;
    {
        ZoneGuard zone("Asia/Kolkata");
        fromClock = Message();
        setByCaller.DateTime(MakeDate({2026, 12, 6, 22, 20, 18, 0}));
    }
    ZoneGuard zone("America/St_Johns");
    const auto dateLine = [](Message& message) {
        for (const std::string& line : HeaderBlockLines(TakeSnapshot(message)))
            if (line.starts_with("Date: ")) return line;
        return std::string();
    };
    EXPECT_TRUE(dateLine(fromClock).ends_with(" +0530\r\n")) << dateLine(fromClock);
    EXPECT_EQ(dateLine(setByCaller), "Date: Sun, 06 Dec 2026 22:20:18 -0330\r\n");
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
