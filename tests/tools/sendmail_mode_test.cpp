#include "tools/qpmail_options.hpp"
#include "tools/sendmail_mode.hpp"

#include <quillpost/detail/errors.hpp>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quillpost;
using namespace quillpost::sendmail;

namespace {

const char* const kDate = "Tue, 08 Dec 2026 09:00:00 +0000";

TEST(SendmailName, AnyProgramNameEndingInSendmailSwitchesTheModeOn) {
    const struct {
        const char* program;
        bool sendmail;
    } cases[] = {
        {"sendmail", true}, {"/usr/sbin/qpmail-sendmail", true}, {"C:\\Tools\\qpmail-sendmail.EXE", true},
        {"./SENDMAIL", true}, {"qpmail", false}, {"/usr/bin/qpmail", false}, {"sendmail-helper", false}, {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsSendmailName(c.program), c.sendmail) << c.program;
}

TEST(SendmailArguments, TheOptionsCallersPassAreTakenOrIgnored) {
    const Invocation cron = ParseArguments({"-FCronDaemon", "-i", "-B8BITMIME", "-oem", "-odi", "root"});
    EXPECT_EQ(cron.fullName, "CronDaemon");
    EXPECT_TRUE(cron.ignoreDots);
    EXPECT_FALSE(cron.recipientsFromHeaders);
    EXPECT_EQ(cron.recipients, std::vector<std::string>{"root"});

    const Invocation php = ParseArguments({"-t", "-i", "-f", "web@example.com"});
    EXPECT_TRUE(php.recipientsFromHeaders);
    EXPECT_EQ(php.sender, "web@example.com");
    EXPECT_TRUE(php.recipients.empty());

    const Invocation glued = ParseArguments({"-rann@example.com", "-oi", "-v", "-N", "never", "-U", "--",
                                             "-odd@example.com", "a@example.com, b@example.com"});
    EXPECT_EQ(glued.sender, "ann@example.com");
    EXPECT_TRUE(glued.ignoreDots);
    EXPECT_TRUE(glued.verbose);
    EXPECT_EQ(glued.recipients, (std::vector<std::string>{"-odd@example.com", "a@example.com", "b@example.com"}));

    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"-bp"}, {"-bs"}, {"-q"}, {"-q30m"}, {"-f"}, {"-Z"}, {"-tx"}})
        EXPECT_THROW(ParseArguments(bad), qpmail::UsageError) << bad.front();
    EXPECT_NO_THROW(ParseArguments({"-bm", "a@example.com"}));
}

TEST(SendmailAddresses, AddressListsGiveTheirAddressesOnly) {
    const struct {
        const char* value;
        std::vector<std::string> addresses;
    } cases[] = {
        {"bob@example.com", {"bob@example.com"}},
        {" Bob <bob@example.com>, carol@example.com ", {"bob@example.com", "carol@example.com"}},
        {"\"Smith, Dan\" <dan@example.com>", {"dan@example.com"}},
        {"root (Cron Daemon)", {"root"}},
        {"team: ann@example.com, bob@example.com;, eve@example.com", {"ann@example.com", "bob@example.com",
                                                                       "eve@example.com"}},
        {"undisclosed-recipients:;", {}},
        {"<a@example.com>,,<b@example.com>", {"a@example.com", "b@example.com"}},
        {"\"quoted\\\"name\" <q@example.com>", {"q@example.com"}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(AddressesIn(c.value), c.addresses) << c.value;
}

TEST(SendmailMessage, LinesBecomeCrLfAndMissingLinesAreAdded) {
    Invocation invocation;
    invocation.recipients = {"bob"};
    invocation.sender = "ann";
    const Prepared p = PrepareMessage("Subject: a\r\n folded\rX: 1\n\nbody\r\nlast", invocation, kDate, "host.example");
    EXPECT_EQ(p.sender, "ann@host.example");
    EXPECT_EQ(p.recipients, std::vector<std::string>{"bob@host.example"});
    const std::string head = "Subject: a\r\n folded\r\nX: 1\r\nFrom: <ann@host.example>\r\nDate: " +
                             std::string(kDate) + "\r\nMessage-ID: <";
    EXPECT_EQ(p.content.substr(0, head.size()), head);
    EXPECT_TRUE(p.content.ends_with("@host.example>\r\n\r\nbody\r\nlast\r\n")) << p.content;
}

TEST(SendmailMessage, TextWithoutHeaderLinesIsAllBody) {
    Invocation invocation;
    invocation.recipients = {"bob@example.com"};
    invocation.sender = "ann@example.com";
    invocation.fullName = "Ann Lee";
    const Prepared p = PrepareMessage("Hello there: a blank in the name\nno colon here\n", invocation, kDate, "h");
    EXPECT_TRUE(p.content.starts_with("From: \"Ann Lee\" <ann@example.com>\r\nDate: ")) << p.content;
    EXPECT_TRUE(p.content.ends_with(">\r\n\r\nHello there: a blank in the name\r\nno colon here\r\n"))
        << p.content;
}

TEST(SendmailMessage, AHeaderBlockEndsAtTheFirstLineThatIsNoField) {
    Invocation invocation;
    invocation.recipientsFromHeaders = true;
    const Prepared p = PrepareMessage("From: a@example.com\nTo: b@example.com\nplain text\nBcc: c@example.com\n",
                                      invocation, kDate, "h");
    // The Bcc line is body text here, not a header: no recipient, not removed.
    EXPECT_EQ(p.recipients, std::vector<std::string>{"b@example.com"});
    EXPECT_TRUE(p.content.ends_with("\r\n\r\nplain text\r\nBcc: c@example.com\r\n")) << p.content;
}

TEST(SendmailMessage, NoRecipientOrNoSenderIsTheCallersMistake) {
    Invocation none;
    EXPECT_THROW(PrepareMessage("From: a@example.com\n\nx\n", none, kDate, "h"), qpmail::UsageError);
    Invocation noSender;
    noSender.recipients = {"b@example.com"};
    EXPECT_THROW(PrepareMessage("Subject: x\n\nx\n", noSender, kDate, "h"), qpmail::UsageError);
}

TEST(SendmailExitStatus, ErrorsMapToTheStatusesCallersOfSendmailExpect) {
    const struct {
        Error error;
        int status;
    } cases[] = {
        {make_error(Err::ResponseTimeout), kExTempFail},
        {make_error(Err::SendTimeout), kExTempFail},
        {Error(9451, "4.3.0 Try again later"), kExTempFail},
        {Error(9421, "Service not available"), kExTempFail},
        {Error(11001, "Host not found."), kExNoHost},
        {Error(10061, "Connection refused."), kExUnavailable},
        {Error(9550, "No such user"), kExUnavailable},
        {Error(9552, "Too much mail data"), kExUnavailable},
        {Error(9535, "5.7.8 Authentication failed"), kExNoPerm},
        {make_error(Err::NoStartTls), kExConfig},
        {make_error(Err::PlainTextCredentials), kExConfig},
        {make_error(Err::InvalidProcedureCall), kExConfig},
        {make_error(Err::InvalidUtf8, "FromAddress"), kExDataErr},
    };
    for (const auto& c : cases) EXPECT_EQ(ExitStatusFor(c.error), c.status) << c.error.number();
}

}  // namespace
