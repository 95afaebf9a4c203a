// The command line of qpmail: turns its arguments into a filled Message, and
// turns a component error into the one line that qpmail prints for it.
#pragma once

#include <quillpost/error.hpp>
#include <quillpost/message.hpp>

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillpost::qpmail {

// Exit statuses of qpmail.
inline constexpr int kExitAccepted = 0;   // the server accepted the message
inline constexpr int kExitFailed = 1;     // the component raised an error
inline constexpr int kExitUsage = 2;      // the command line was not understood

// A command line that cannot be understood. The text names the option and
// what is wrong with it.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Options {
    // Filled from the options; properties without an option keep the
    // component's defaults. Null when help or the version was asked for.
    std::shared_ptr<Message> message;
    bool help = false;     // --help or -h
    bool version = false;  // --version
    bool dryRun = false;   // write the data section to standard output, send nothing
    bool quiet = false;    // no progress line
    bool verbose = false;  // the trace's lines on standard error as they happen
    // The password and token files named, for the check of who may read them.
    std::vector<std::string> secretFiles;
    // --oauth-refresh-token-file and the token read from it.
    std::optional<std::string> refreshTokenFile;
    std::string refreshToken;
    // --dkim-print-record: the key file whose DNS record to print; the
    // message is then null.
    std::optional<std::string> dkimRecordKey;
};

// Puts the message's refresh token into the --oauth-refresh-token-file when a
// send has replaced it (the file is rewritten in one step, keeping its
// permissions). Raises the file layer's error naming the file.
void KeepRefreshToken(const Options& options);

// Parses the arguments that follow the program name. `standardInput` is read
// for `--text -`. Raises UsageError for a malformed command line, for a value
// outside what its option takes (a port, a priority, a timeout) and for a
// line that cannot make a sendable message (no --from, or none of --to, --cc
// and --bcc), before any file is opened. Errors of the component itself (an
// attachment or body file it cannot open, a blank header value) pass through
// as quillpost::Error; a file's error ends in ": " and the file's name as
// given.
Options ParseArguments(const std::vector<std::string>& args, std::istream& standardInput);

// The name of every option, with its two hyphens, in the order of the help.
std::vector<std::string_view> OptionNames();

// "ADDRESS" or "Display Name <ADDRESS>". The name loses the blanks around it
// and one pair of enclosing double quotes, since the component quotes it
// again. Raises UsageError for an opening bracket without its closing one or
// text after the closing bracket.
struct MailAddress {
    std::string address;
    std::optional<std::string> name;  // empty optional: no display name given
};
MailAddress SplitAddress(std::string_view text);

// A TCP port from 1 to 65535 as the message stores it: 16 bits, so a port
// above 32767 becomes port - 65536. Anything else raises UsageError.
std::int32_t ParsePort(std::string_view text);

// The help text, listing every option and the exit statuses.
std::string UsageText();

// "qpmail (Quillpost) VERSION", then the TLS library on a line of its own
// when `tlsLibrary` is not empty.
std::string VersionText(std::string_view tlsLibrary);

// Follows the trace lines of one send, to tell at which step of the
// conversation a time-out came.
class ConversationSteps {
public:
    void Line(std::string_view line);
    // "waiting for the greeting", "waiting for the reply to RCPT TO",
    // "sending the message data"; "" before the connection was begun.
    std::string Step(bool sending) const;
    // Whether any line came: the trace file opened and the send began.
    bool Started() const { return started_; }

private:
    bool started_ = false;
    bool connected_ = false;
    bool inData_ = false;
    std::string lastCommand_;
};

// The error as qpmail reports it: a socket error loses the full stop of its
// text and names the server and port it concerns ("Connection refused
// (mail.example.com port 2525)"); a time-out names them and `step` ("Timeout
// error while waiting for response from server (mail.example.com port 25,
// waiting for the reply to RCPT TO)"); the errors of TLS and login (9980
// to 9985) name them too; any other error is returned unchanged. `port` is
// the 16-bit value the message stores.
Error WithServer(const Error& error, std::string_view server, std::int32_t port, std::string_view step = {});

// What to try about an error, in one short line, or "" when qpmail has no
// advice for it.
std::string_view HintFor(std::int32_t number);

// "qpmail: error NUMBER: DESCRIPTION" without a line break of its own: the
// line breaks that end the description are dropped, each one inside it is
// shown as a blank (a server's reply text usually ends in one, and multi-line
// replies carry several).
std::string ErrorLine(std::int32_t number, std::string_view description);

}  // namespace quillpost::qpmail
