// qpmail as a stand-in for sendmail: `qpmail --sendmail ...`, or qpmail run
// under a name that ends in "sendmail" (the link qpmail-sendmail). It takes
// the options that programs pass to sendmail, reads a complete RFC 5322
// message from standard input and sends it as it is to the server named in
// the registry key HKEY_LOCAL_MACHINE\SOFTWARE\Brackenfold\Quillpost\Sendmail,
// and ends with the exit statuses of sysexits.h that those programs expect.
#pragma once

#include <quillpost/error.hpp>

#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillpost::sendmail {

// sysexits.h, as the callers of sendmail read them.
inline constexpr int kExOk = 0;
inline constexpr int kExUsage = 64;        // the command line or the message cannot be used
inline constexpr int kExDataErr = 65;      // the input is not a message that can be sent
inline constexpr int kExNoHost = 68;       // the server's name cannot be looked up
inline constexpr int kExUnavailable = 69;  // the server refused for good, or cannot be reached
inline constexpr int kExIoErr = 74;        // standard input could not be read
inline constexpr int kExTempFail = 75;     // a 4xx reply or a time-out: try again later
inline constexpr int kExNoPerm = 77;       // the login was refused
inline constexpr int kExConfig = 78;       // the Sendmail key is missing or cannot be understood

// Whether qpmail was started as sendmail: its program name (a path, with or
// without ".exe") ends in "sendmail".
bool IsSendmailName(std::string_view program);

struct Invocation {
    bool recipientsFromHeaders = false;  // -t
    std::vector<std::string> recipients;
    std::optional<std::string> sender;    // -f or -r
    std::optional<std::string> fullName;  // -F
    bool ignoreDots = false;              // -i, -oi: a lone "." does not end the message
    bool verbose = false;                 // -v
};

// The arguments after the program name (and after --sendmail). Raises
// qpmail::UsageError for an option that sendmail programs do not take here
// (another -b mode than -bm, an option without its value).
Invocation ParseArguments(const std::vector<std::string>& args);

// The message as it goes on the wire, and its envelope.
struct Prepared {
    std::string content;  // every line ending in CR LF
    std::string sender;
    std::vector<std::string> recipients;
};

// Turns standard input's text into the message to send: lines end in CR LF;
// without -i a line of a lone "." ends the input; Bcc lines are taken out;
// a From line (from -f and -F), a Date line (`date`) and a Message-ID line
// are added when missing. With -t, the addresses of the To, Cc and Bcc lines
// are recipients besides those of the command line. An address without "@"
// gets "@" and `hostName`. The envelope sender is -f, else the From line's
// first address. Raises qpmail::UsageError when there is no recipient or no
// sender.
Prepared PrepareMessage(std::string_view input, const Invocation& invocation, std::string_view date,
                        std::string_view hostName);

// The addresses of an address-list header value (RFC 5322 3.4): display
// names, comments and group names left out.
std::vector<std::string> AddressesIn(std::string_view value);

// The sysexits.h status for an error of the send.
int ExitStatusFor(const Error& error);

// The whole run: `name` is how the program calls itself in its messages.
int Run(std::string_view name, const std::vector<std::string>& args, std::istream& input);

}  // namespace quillpost::sendmail
