#include "tests/support/temp_dir.hpp"
#include "tools/qpmail_options.hpp"

#include <quillpost/collections.hpp>
#include <quillpost/detail/errors.hpp>
#include <quillpost/error.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

using namespace quillpost;
using namespace quillpost::qpmail;
using quillpost::test::TempDir;

namespace {

// A command line that makes a message needs a sender and a recipient; the
// tests about other options get both here when they give none, so that what
// they check is their own option and not the missing envelope.
std::vector<std::string> Sendable(std::vector<std::string> args) {
    const auto has = [&](const std::string& name) {
        for (const auto& a : args)
            if (a == name || a.starts_with(name + "=")) return true;
        return false;
    };
    if (!has("--from")) args.insert(args.end(), {"--from", "sender@example.com"});
    if (!has("--to") && !has("--cc") && !has("--bcc")) args.insert(args.end(), {"--bcc", "audit@example.com"});
    return args;
}

std::shared_ptr<Message> Parse(const std::vector<std::string>& args, const std::string& input = "") {
    std::istringstream in(input);
    Options options = ParseArguments(Sendable(args), in);
    EXPECT_FALSE(options.help);
    return options.message;
}

// The text of the usage error, or "" when the arguments were accepted or
// failed some other way.
std::string UsageErrorOf(const std::vector<std::string>& args) {
    std::istringstream in;
    try {
        ParseArguments(Sendable(args), in);
    } catch (const UsageError& e) {
        return e.what();
    } catch (const Error&) {
    }
    return "";
}

// The component error raised while filling the message, 0 for none.
int ComponentErrorOf(const std::vector<std::string>& args) {
    std::istringstream in;
    try {
        ParseArguments(Sendable(args), in);
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

struct Entry {
    std::string address, name;
};

std::vector<Entry> EntriesOf(const Recipients& list) {
    std::vector<Entry> out;
    for (const auto& r : list) out.push_back({r->Address(), r->Name()});
    return out;
}

bool operator==(const Entry& a, const Entry& b) { return a.address == b.address && a.name == b.name; }

void PrintTo(const Entry& e, std::ostream* os) { *os << "{" << e.address << ", " << e.name << "}"; }

}  // namespace

TEST(QpmailAddress, PlainAddressHasNoDisplayName) {
    const MailAddress a = SplitAddress("ann@example.com");
    EXPECT_EQ(a.address, "ann@example.com");
    EXPECT_FALSE(a.name.has_value());
}

TEST(QpmailAddress, DisplayNameBeforeBracketsIsTakenWithoutSurroundingBlanksOrQuotes) {
    MailAddress a = SplitAddress("Ann Lee <ann@example.com>");
    EXPECT_EQ(a.address, "ann@example.com");
    EXPECT_EQ(a.name, "Ann Lee");
    a = SplitAddress("  \"Lee, Ann\"   <ann@example.com>  ");
    EXPECT_EQ(a.address, "ann@example.com");
    EXPECT_EQ(a.name, "Lee, Ann");
    // Brackets inside the name stay with the name; the last pair is the address.
    a = SplitAddress("Team <ops> <ops@example.com>");
    EXPECT_EQ(a.address, "ops@example.com");
    EXPECT_EQ(a.name, "Team <ops>");
}

TEST(QpmailAddress, BracketsAloneGiveTheAddressWithoutName) {
    const MailAddress a = SplitAddress("<ann@example.com>");
    EXPECT_EQ(a.address, "ann@example.com");
    EXPECT_FALSE(a.name.has_value());
}

TEST(QpmailAddress, UnbalancedBracketsAndTrailingTextAreUsageErrors) {
    EXPECT_THROW(SplitAddress("Ann <ann@example.com"), UsageError);
    EXPECT_THROW(SplitAddress("ann@example.com>"), UsageError);
    EXPECT_THROW(SplitAddress("Ann <ann@example.com> extra"), UsageError);
}

TEST(QpmailPort, PortsUpTo32767AreStoredAsGiven) {
    EXPECT_EQ(ParsePort("1"), 1);
    EXPECT_EQ(ParsePort("25"), 25);
    EXPECT_EQ(ParsePort("32767"), 32767);
}

TEST(QpmailPort, PortsAbove32767AreStoredAsTheir16BitValue) {
    EXPECT_EQ(ParsePort("32768"), -32768);
    EXPECT_EQ(ParsePort("60000"), 60000 - 65536);
    EXPECT_EQ(ParsePort("65535"), -1);
    // The message accepts the stored value and hands it back unchanged.
    EXPECT_EQ(Parse({"--port", "65535"})->Port(), -1);
    EXPECT_EQ(Parse({"--port=40000"})->Port(), 40000 - 65536);
}

TEST(QpmailPort, ValuesOutsideOneTo65535OrNotNumbersAreRefused) {
    for (const char* bad : {"0", "65536", "-1", "abc", "", "25x", " 25", "+25", "99999999999"}) {
        EXPECT_THROW(ParsePort(bad), UsageError) << "'" << bad << "'";
        EXPECT_NE(UsageErrorOf({"--port", bad}), "") << "'" << bad << "'";
    }
}

TEST(QpmailOptions, SenderAndRecipientAloneLeaveEveryOtherPropertyAtTheComponentsDefault) {
    const auto m = Parse({"--from", "ann@example.com", "--bcc", "bob@example.com"});
    const Message fresh;
    EXPECT_EQ(m->Server(), fresh.Server());
    EXPECT_EQ(m->Port(), fresh.Port());
    EXPECT_EQ(m->Subject(), fresh.Subject());
    EXPECT_EQ(m->Application(), fresh.Application());
    EXPECT_EQ(m->TimeOut(), fresh.TimeOut());
    EXPECT_EQ(m->Priority(), fresh.Priority());
    EXPECT_EQ(m->ConfirmReading(), false);
    EXPECT_EQ(m->FromAddress(), "ann@example.com");
    EXPECT_EQ(m->TextBody(), "");
    EXPECT_EQ(m->HtmlBody(), "");
    EXPECT_EQ(m->TraceFile(), "");
    EXPECT_EQ(m->Recipients()->Count(), 0);
    EXPECT_EQ(m->CCs()->Count(), 0);
    EXPECT_EQ(m->BCCs()->Count(), 1);
    EXPECT_EQ(m->Attachments()->Count(), 0);
    EXPECT_EQ(m->ExtraHeaders()->Count(), 0);
}

TEST(QpmailOptions, PlainPropertiesAreStoredAsGiven) {
    const auto m = Parse({"--server", "smtp.example.com", "--port", "587", "--subject", "Quarterly report",
                          "--organization", "Brackenfold", "--application=Reports 2.1", "--timeout", "2.5",
                          "--trace", "/tmp/trace.txt", "--confirm-reading"});
    EXPECT_EQ(m->Server(), "smtp.example.com");
    EXPECT_EQ(m->Port(), 587);
    EXPECT_EQ(m->Subject(), "Quarterly report");
    EXPECT_EQ(m->Organization(), "Brackenfold");
    EXPECT_EQ(m->Application(), "Reports 2.1");
    EXPECT_FLOAT_EQ(m->TimeOut(), 2.5f);
    EXPECT_EQ(m->TraceFile(), "/tmp/trace.txt");
    EXPECT_TRUE(m->ConfirmReading());
}

TEST(QpmailOptions, EmptyValuesAreStoredToo) {
    const auto m = Parse({"--subject", "", "--application="});
    EXPECT_EQ(m->Subject(), "");
    EXPECT_EQ(m->Application(), "");
}

TEST(QpmailOptions, SenderTakesTheDisplayNameOfItsAddressOrOfFromName) {
    auto m = Parse({"--from", "Ann Lee <ann@example.com>"});
    EXPECT_EQ(m->FromAddress(), "ann@example.com");
    EXPECT_EQ(m->FromName(), "Ann Lee");
    // Without a name the component copies the address into FromName.
    m = Parse({"--from", "ann@example.com"});
    EXPECT_EQ(m->FromName(), "ann@example.com");
    // --from-name wins, wherever it stands.
    m = Parse({"--from-name", "Sales", "--from", "Ann <ann@example.com>"});
    EXPECT_EQ(m->FromAddress(), "ann@example.com");
    EXPECT_EQ(m->FromName(), "Sales");
}

TEST(QpmailOptions, AddressListsKeepEveryEntryInOrder) {
    const auto m = Parse({"--to", "Bob Smith <bob@example.com>", "--cc", "carol@example.com", "--to",
                          "dave@example.com", "--bcc", "<erin@example.com>", "--bcc", "Frank <frank@example.com>",
                          "--reply-to", "Help Desk <help@example.com>", "--cc=Gina <gina@example.com>"});
    EXPECT_EQ(EntriesOf(*m->Recipients()),
              (std::vector<Entry>{{"bob@example.com", "Bob Smith"}, {"dave@example.com", ""}}));
    EXPECT_EQ(EntriesOf(*m->CCs()), (std::vector<Entry>{{"carol@example.com", ""}, {"gina@example.com", "Gina"}}));
    EXPECT_EQ(EntriesOf(*m->BCCs()), (std::vector<Entry>{{"erin@example.com", ""}, {"frank@example.com", "Frank"}}));
    EXPECT_EQ(EntriesOf(*m->ReplyTos()), (std::vector<Entry>{{"help@example.com", "Help Desk"}}));
}

TEST(QpmailOptions, BlankAddressIsTheComponentsError) {
    EXPECT_EQ(ComponentErrorOf({"--to", ""}), 9995);
    EXPECT_EQ(ComponentErrorOf({"--cc", "Nobody <>"}), 9995);
}

TEST(QpmailOptions, HeaderLinesAreSplitAsTheComponentSplitsThem) {
    const std::vector<std::string> lines{"X-Tag: a", "X-Route: a: b", "X-Colon:: v", "http:x: y", "X-Blank:  two"};
    std::vector<std::string> args;
    for (const auto& l : lines) args.insert(args.end(), {"--header", l});
    const auto m = Parse(args);
    ASSERT_EQ(m->ExtraHeaders()->Count(), static_cast<std::int32_t>(lines.size()));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Header expected;
        ASSERT_TRUE(expected.Parse(lines[i]));
        const auto got = m->ExtraHeaders()->Item(static_cast<std::int32_t>(i + 1));
        EXPECT_EQ(got->Name(), expected.Name()) << lines[i];
        EXPECT_EQ(got->Value(), expected.Value()) << lines[i];
    }
    EXPECT_EQ(m->ExtraHeaders()->Item(2)->Name(), "X-Route");
    EXPECT_EQ(m->ExtraHeaders()->Item(2)->Value(), "a: b");
    EXPECT_EQ(m->ExtraHeaders()->Item(3)->Name(), "X-Colon:");
    EXPECT_EQ(m->ExtraHeaders()->Item(5)->Value(), " two");
}

TEST(QpmailOptions, HeaderWithoutColonBlankIsAUsageError) {
    EXPECT_NE(UsageErrorOf({"--header", "X-Tag:value"}), "");
    EXPECT_NE(UsageErrorOf({"--header", "X-Tag"}), "");
}

TEST(QpmailOptions, HeaderThatTheCollectionRefusesIsTheComponentsError) {
    EXPECT_EQ(ComponentErrorOf({"--header", "X-Tag: "}), 9996);
    EXPECT_EQ(ComponentErrorOf({"--header", ": value"}), 9997);
    EXPECT_EQ(ComponentErrorOf({"--header", "X-Tag: a", "--header", "x-tag: b"}), 457);
}

TEST(QpmailOptions, PriorityTakesNumbersAndNames) {
    EXPECT_EQ(Parse({"--priority", "3"})->Priority(), 3);
    EXPECT_EQ(Parse({"--priority", "0"})->Priority(), 0);
    EXPECT_EQ(Parse({"--priority", "highest"})->Priority(), QP_PRIORITY_HIGHEST);
    EXPECT_EQ(Parse({"--priority", "High"})->Priority(), QP_PRIORITY_HIGH);
    EXPECT_EQ(Parse({"--priority", "normal"})->Priority(), QP_PRIORITY_NORMAL);
    EXPECT_EQ(Parse({"--priority", "low"})->Priority(), QP_PRIORITY_LOW);
    EXPECT_EQ(Parse({"--priority", "lowest"})->Priority(), QP_PRIORITY_LOWEST);
    EXPECT_EQ(Parse({"--priority", "none"})->Priority(), QP_PRIORITY_NONE);
}

TEST(QpmailOptions, PriorityOutOfRangeAndUnknownWordsAreBothUsageErrors) {
    for (const char* bad : {"6", "9", "-1", "urgent", "2.0", ""})
        EXPECT_NE(UsageErrorOf({"--priority", bad}).find(std::string("'") + bad + "'"), std::string::npos) << bad;
    EXPECT_EQ(Parse({"--priority", "5"})->Priority(), QP_PRIORITY_LOWEST);
}

TEST(QpmailOptions, TimeoutMustBeAPositiveNumber) {
    EXPECT_FLOAT_EQ(Parse({"--timeout", "10"})->TimeOut(), 10.0f);
    EXPECT_FLOAT_EQ(Parse({"--timeout", "0.25"})->TimeOut(), 0.25f);
    for (const char* bad : {"0", "-1", "abc", "", "inf", "nan", "5s"})
        EXPECT_NE(UsageErrorOf({"--timeout", bad}), "") << "'" << bad << "'";
}

TEST(QpmailOptions, BodiesAreTheFilesBytesUnchanged) {
    TempDir dir;
    const char raw[] = "line one\r\nbare\nlone\rcr\r\n.dot\0nul\xff";
    const std::string text(raw, sizeof raw - 1);
    const std::string html = "<p>Hello</p>\n";
    const auto m = Parse({"--text", dir.write("body.txt", text), "--html", dir.write("body.html", html)});
    EXPECT_EQ(m->TextBody(), text);
    EXPECT_EQ(m->HtmlBody(), html);
}

TEST(QpmailOptions, DashReadsTheBodyFromStandardInput) {
    const std::string input(200000, 'x');
    EXPECT_EQ(Parse({"--text", "-"}, input)->TextBody(), input);
    EXPECT_EQ(Parse({"--html", "-"}, "<b>in</b>")->HtmlBody(), "<b>in</b>");
    EXPECT_NE(UsageErrorOf({"--text", "-", "--html", "-"}), "");
}

TEST(QpmailOptions, BodyFileThatCannotBeOpenedIsTheComponentsFileError) {
    TempDir dir;
    EXPECT_EQ(ComponentErrorOf({"--text", dir.file("missing.txt")}), 53);
    EXPECT_EQ(ComponentErrorOf({"--html", dir.file("no/such/folder.html")}), 76);
    EXPECT_EQ(ComponentErrorOf({"--text", dir.path()}), 75);
}

TEST(QpmailOptions, AttachmentsAreAddedInOrderAndMissingFilesAreTheComponentsError) {
    TempDir dir;
    const std::string a = dir.write("a.bin", "A"), b = dir.write("b.txt", "");
    const auto m = Parse({"--attach", a, "--attach=" + b, "--attach", a});
    ASSERT_EQ(m->Attachments()->Count(), 3);
    EXPECT_EQ(m->Attachments()->Item(1)->FileName(), a);
    EXPECT_EQ(m->Attachments()->Item(2)->FileName(), b);
    EXPECT_EQ(m->Attachments()->Item(3)->FileName(), a);
    EXPECT_EQ(ComponentErrorOf({"--attach", a, "--attach", dir.file("gone.pdf")}), 53);
}

TEST(QpmailOptions, AFileErrorNamesTheFileAsGivenAfterTheUnchangedDescription) {
    TempDir dir;
    const std::string present = dir.write("a.bin", "A"), gone = dir.file("gone.pdf");
    const std::string password = dir.file("no/password");
    const struct {
        std::vector<std::string> args;
        int number;
        std::string description;
    } cases[] = {
        {{"--attach", present, "--attach", gone}, 53, "File not found: " + gone},
        {{"--text", gone}, 53, "File not found: " + gone},
        {{"--html", dir.path()}, 75, "Path/File access error: " + dir.path()},
        {{"--password-file", password}, 76, "Path not found: " + password},
    };
    for (const auto& c : cases) {
        std::istringstream in;
        try {
            ParseArguments(Sendable(c.args), in);
            ADD_FAILURE() << c.args[1] << ": accepted";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), c.number) << c.args[1];
            EXPECT_EQ(e.description(), c.description) << c.args[1];
        }
    }
}

TEST(QpmailOptions, UsageErrorsWinOverFileErrorsAnywhereOnTheLine) {
    TempDir dir;
    EXPECT_NE(UsageErrorOf({"--attach", dir.file("gone.pdf"), "--port", "0"}), "");
    EXPECT_NE(UsageErrorOf({"--text", dir.file("gone.txt"), "--bogus"}), "");
}

TEST(QpmailOptions, ALineThatCannotMakeASendableMessageIsAUsageErrorBeforeAnyFileIsRead) {
    TempDir dir;
    const std::string gone = dir.file("gone.pdf");
    const struct {
        std::vector<std::string> args;
        std::string error;  // "" when the line makes a message
    } cases[] = {
        {{"--to", "b@example.com", "--attach", gone}, "no sender: give --from ADDRESS"},
        {{"--from", "a@example.com", "--attach", gone}, "no recipient: give at least one --to, --cc or --bcc"},
        {{"--from", "a@example.com", "--subject", "s"}, "no recipient: give at least one --to, --cc or --bcc"},
        {{"--from=a@example.com", "--cc=c@example.com"}, ""},
        {{"--from", "a@example.com", "--bcc", "c@example.com"}, ""},
        {{"--help"}, ""},
        {{"-h"}, ""},
        {{"--version"}, ""},
    };
    for (const auto& c : cases) {
        std::istringstream in;
        std::string error;
        try {
            ParseArguments(c.args, in);
        } catch (const UsageError& e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.error) << c.args[0];
    }
}

TEST(QpmailOptions, HelpVersionDryRunAndQuietAreRecognised) {
    const struct {
        std::vector<std::string> args;
        bool help, version, dryRun, quiet, message;
    } cases[] = {
        {{"-h"}, true, false, false, false, false},
        {{"--to", "a@example.com", "--help"}, true, false, false, false, false},
        {{"--version"}, false, true, false, false, false},
        {{"--version", "-h"}, true, false, false, false, false},
        {{"--dry-run", "--from", "a@example.com", "--to", "b@example.com"}, false, false, true, false, true},
        {{"--quiet", "--from", "a@example.com", "--to", "b@example.com"}, false, false, false, true, true},
    };
    for (const auto& c : cases) {
        std::istringstream in;
        const Options o = ParseArguments(c.args, in);
        EXPECT_EQ(o.help, c.help) << c.args[0];
        EXPECT_EQ(o.version, c.version) << c.args[0];
        EXPECT_EQ(o.dryRun, c.dryRun) << c.args[0];
        EXPECT_EQ(o.quiet, c.quiet) << c.args[0];
        EXPECT_EQ(o.message != nullptr, c.message) << c.args[0];
    }
    EXPECT_NE(UsageErrorOf({"-q"}), "");  // -h and -v are the only short forms
    std::istringstream in;
    EXPECT_TRUE(ParseArguments(Sendable({"-v"}), in).verbose);
    EXPECT_TRUE(ParseArguments(Sendable({"--verbose"}), in).verbose);
    EXPECT_FALSE(ParseArguments(Sendable({}), in).verbose);
}

TEST(QpmailOptions, AMisspeltOptionGetsTheOneCloseToIt) {
    const struct {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{"--too", "a@example.com"}, "unknown option '--too'; did you mean --to?"},
        {{"--frm", "a@example.com"}, "unknown option '--frm'; did you mean --from?"},
        {{"--sever=mail"}, "unknown option '--sever'; did you mean --server?"},
        {{"--atach", "a.pdf"}, "unknown option '--atach'; did you mean --attach?"},
        {{"--verbsoe"}, "unknown option '--verbsoe'; did you mean --verbose?"},
        {{"-to", "a@example.com"}, "unexpected argument '-to'; did you mean --to?"},
        {{"--bogus"}, "unknown option '--bogus'"},        // nothing close
        {{"--c"}, "unknown option '--c'"},                // too short to guess (--cc? --to?)
        {{"-x"}, "unexpected argument '-x'"},
        {{"bob@example.com"}, "unexpected argument 'bob@example.com'"},
    };
    for (const auto& c : cases) EXPECT_EQ(UsageErrorOf(c.args), c.expected) << c.args[0];
}

TEST(QpmailOptions, MalformedCommandLinesAreUsageErrors) {
    EXPECT_NE(UsageErrorOf({"--bogus"}), "");
    EXPECT_NE(UsageErrorOf({"recipient@example.com"}), "");
    EXPECT_NE(UsageErrorOf({"-t", "x"}), "");
    EXPECT_NE(UsageErrorOf({"--to"}), "");                       // value missing at the end
    EXPECT_NE(UsageErrorOf({"--confirm-reading=yes"}), "");      // a switch takes no value
    EXPECT_NE(UsageErrorOf({"--subject", "a", "--subject", "b"}), "");
    EXPECT_NE(UsageErrorOf({"--to", "Ann <ann@example.com"}), "");
    // Each message names what was wrong.
    EXPECT_NE(UsageErrorOf({"--bogus"}).find("--bogus"), std::string::npos);
    EXPECT_NE(UsageErrorOf({"--port", "70000"}).find("70000"), std::string::npos);
}

TEST(QpmailOptions, HelpIsRecognisedAndListsEveryOptionAndExitStatus) {
    std::istringstream in;
    const Options options = ParseArguments({"--to", "a@example.com", "--help"}, in);
    EXPECT_TRUE(options.help);
    EXPECT_EQ(options.message, nullptr);
    const std::string usage = UsageText();
    for (const char* name : {"--server", "--port", "--from", "--from-name", "--to", "--cc", "--bcc", "--reply-to",
                             "--subject", "--text", "--html", "--attach", "--header", "--priority",
                             "--confirm-reading", "--organization", "--application", "--timeout", "--trace",
                             "--help"})
        EXPECT_NE(usage.find(std::string("  ") + name + " "), std::string::npos) << name;
    EXPECT_NE(usage.find("  0  "), std::string::npos);
    EXPECT_NE(usage.find("  1  "), std::string::npos);
    EXPECT_NE(usage.find("  2  "), std::string::npos);
}

TEST(QpmailErrorLine, NumberAndDescriptionOnOneLine) {
    EXPECT_EQ(ErrorLine(10061, "Connection refused."), "qpmail: error 10061: Connection refused.");
    EXPECT_EQ(ErrorLine(9993, "Line break not allowed in Subject"),
              "qpmail: error 9993: Line break not allowed in Subject");
}

TEST(QpmailErrorLine, LineBreaksAtTheEndAreDroppedAndInnerOnesBecomeBlanks) {
    EXPECT_EQ(ErrorLine(9550, "No such user here\r\n"), "qpmail: error 9550: No such user here");
    EXPECT_EQ(ErrorLine(9550, "No such user\r\n\r\n\n"), "qpmail: error 9550: No such user");
    EXPECT_EQ(ErrorLine(9554, "first\r\n554 second\r\n"), "qpmail: error 9554: first 554 second");
    EXPECT_EQ(ErrorLine(9999, "a\nb\rc\r\nd"), "qpmail: error 9999: a b c d");
    EXPECT_EQ(ErrorLine(9999, "a\n\nb"), "qpmail: error 9999: a  b");
    EXPECT_EQ(ErrorLine(9999, "\r\n"), "qpmail: error 9999: ");
}

TEST(QpmailErrorLine, SocketErrorsNameTheServerAndPortOthersStayAsTheyAre) {
    const struct {
        int number;
        std::string description, server;
        std::int32_t port;
        std::string expected;
    } cases[] = {
        {10061, "Connection refused.", "mail.example.com", 2525, "Connection refused (mail.example.com port 2525)"},
        {11001, "Host not found.", "nowhere.invalid", 25, "Host not found (nowhere.invalid port 25)"},
        {10054, "CommGetData: Connection reset by peer.", "::1", -1,
         "CommGetData: Connection reset by peer (::1 port 65535)"},
        {9550, "No such user here\r\n", "mail", 25, "No such user here\r\n"},
        {53, "File not found: a.pdf", "mail", 25, "File not found: a.pdf"},
        {9980, "The server does not offer STARTTLS", "smtp.example.com", 587,
         "The server does not offer STARTTLS (smtp.example.com port 587)"},
        {9982, "The server's certificate is not trusted: self-signed", "mx", 465,
         "The server's certificate is not trusted: self-signed (mx port 465)"},
        {9986, "Text is not valid UTF-8 in Subject", "mail", 25, "Text is not valid UTF-8 in Subject"},
    };
    for (const auto& c : cases) {
        const Error e = WithServer(Error(c.number, c.description), c.server, c.port);
        EXPECT_EQ(e.number(), c.number);
        EXPECT_EQ(e.description(), c.expected);
    }
}

// The lines a send traces, and the step a time-out after them is reported at.
TEST(QpmailErrorLine, ATimeOutNamesTheServerPortAndStep) {
    const struct {
        std::vector<std::string> lines;
        int number;
        std::string expectedStep;
    } cases[] = {
        {{"+ Connecting to server mail at port 25"}, 9998, "waiting for the greeting"},
        {{"+ Connecting to server mail at port 25", "< 220 ready\r\n", "> EHLO client\r\n"}, 9998,
         "waiting for the reply to EHLO"},
        {{"< 220 ready", "> HELO client", "< 250 ok", "> MAIL FROM:<a@example.com>"}, 9998,
         "waiting for the reply to MAIL FROM"},
        {{"> MAIL FROM:<a@example.com>", "< 250 ok", "> RCPT TO:<b@example.com>"}, 9998,
         "waiting for the reply to RCPT TO"},
        {{"> AUTH PLAIN ****"}, 9998, "waiting for the reply to AUTH"},
        {{"> DATA", "< 354 go ahead", "> Subject: a: b", "> RCPT TO: is text now"}, 9997, "sending the message data"},
        {{"> DATA", "< 354 go ahead", "> Subject: x", "> ."}, 9998, "waiting for the reply to the end of the data"},
        {{"< 220 ready"}, 9998, "waiting for the server"},
        {{"> QUIT"}, 9997, "sending QUIT"},
    };
    for (const auto& c : cases) {
        ConversationSteps steps;
        EXPECT_FALSE(steps.Started());
        for (const auto& line : c.lines) steps.Line(line);
        EXPECT_TRUE(steps.Started());
        const std::string step = steps.Step(c.number == 9997);
        EXPECT_EQ(step, c.expectedStep) << c.lines.back();
        const Error raised = make_error(c.number == 9997 ? Err::SendTimeout : Err::ResponseTimeout);
        const Error shown = WithServer(raised, "mail.example.com", -1, step);
        EXPECT_EQ(shown.number(), c.number);
        EXPECT_EQ(shown.description(), raised.description() + " (mail.example.com port 65535, " + step + ")");
    }
    // 9997 also means a blank header name: not a time-out, left alone.
    const Error blankName = make_error(Err::BlankHeaderName);
    EXPECT_EQ(WithServer(blankName, "mail", 25, "sending DATA").description(), blankName.description());
}

TEST(QpmailErrorLine, TheErrorsAUserCanCureWithAnOptionHaveAHintOthersNone) {
    for (const int number : {9980, 9981, 9982, 9983, 9984, 9985, 9986, 9998, 10061, 11001})
        EXPECT_NE(HintFor(number), "") << number;
    for (const int number : {0, 53, 9550, 9990, 9999, 10054})
        EXPECT_EQ(HintFor(number), "") << number;
    EXPECT_EQ(HintFor(9980), "the server does not offer STARTTLS: try --security tls on port 465, or --security may");
}

TEST(QpmailVersion, NamesTheBuildsVersionAndTheTlsLibraryWhenThereIsOne) {
    EXPECT_EQ(VersionText(""), "qpmail (Quillpost) " QPMAIL_TEST_VERSION "\n");
    EXPECT_EQ(VersionText("OpenSSL 3.0.11"), "qpmail (Quillpost) " QPMAIL_TEST_VERSION "\nTLS library: OpenSSL 3.0.11\n");
}

// The manual page and --help come from two places; every option of the
// table must be in the page, and the page must name no option the table
// lacks.
TEST(QpmailManualPage, NamesEveryOptionOfTheTableAndNoOther) {
    std::ifstream in(QPMAIL_MANUAL_PAGE);
    ASSERT_TRUE(in) << QPMAIL_MANUAL_PAGE;
    std::stringstream raw;
    raw << in.rdbuf();
    // roff writes a hyphen as "\-".
    std::string page;
    for (const char c : raw.str())
        if (!(c == '-' && !page.empty() && page.back() == '\\')) page += c;
        else page.back() = '-';
    const auto names = OptionNames();
    ASSERT_GT(names.size(), 20u);
    std::set<std::string> inPage;
    for (std::size_t at = page.find("--"); at != std::string::npos; at = page.find("--", at + 2)) {
        std::size_t end = at + 2;
        while (end < page.size() && (std::isalnum(static_cast<unsigned char>(page[end])) || page[end] == '-')) ++end;
        if (end > at + 2) inPage.insert(page.substr(at, end - at));
        at = end - 2;
    }
    for (const auto name : names) EXPECT_EQ(inPage.count(std::string(name)), 1u) << name << " is not in the page";
    for (const auto& name : inPage)
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name << " is in the page only";
    const std::string usage = UsageText();
    for (const auto name : names) EXPECT_NE(usage.find("  " + std::string(name)), std::string::npos) << name;
}
