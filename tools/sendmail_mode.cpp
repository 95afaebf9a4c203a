#include "sendmail_mode.hpp"

#include "qpmail_options.hpp"

#include "mailer/header_block.hpp"
#include "mailer/message_id.hpp"
#include "platform/local_time.hpp"
#include "platform/registry.hpp"
#include "platform/system_identity.hpp"

#include <quillpost/detail/errors.hpp>
#include <quillpost/detail/text.hpp>
#include <quillpost/message.hpp>

#include <array>
#include <charconv>
#include <iostream>
#include <iterator>

namespace quillpost::sendmail {

namespace {

bool EndsWithFolded(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && EqualsFolded(text.substr(text.size() - suffix.size()), suffix);
}

// Options of sendmail that take a value and mean nothing here: the DSN
// notification (-N), return (-R) and envelope identifier (-V), the body type
// (-B), the syslog tag (-L), the hop count (-h), the configuration file (-C),
// the log file (-X) and the queue name (-q...).
constexpr std::string_view kIgnoredWithValue = "NRVBLhCX";
// Single-letter options that mean nothing here: -U (first submission), -G
// (relay), -n (no aliasing), -m (me too), -x.
constexpr std::string_view kIgnoredSwitches = "UGnmx";

struct Field {
    std::string name;                // as written
    std::vector<std::string> lines;  // the first line and its continuation lines, without line ends
};

bool IsFieldName(std::string_view name) {
    if (name.empty()) return false;
    for (const char c : name)
        if (c < 33 || c > 126 || c == ':') return false;
    return true;
}

// The name of a header field line ("Subject: x" -> "Subject"), or "".
std::string_view FieldNameOf(std::string_view line) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return {};
    const std::string_view name = line.substr(0, colon);
    return IsFieldName(name) ? name : std::string_view{};
}

std::string Unfolded(const Field& field) {
    std::string value = field.lines.front().substr(field.name.size() + 1);
    for (std::size_t i = 1; i < field.lines.size(); ++i) value += field.lines[i];
    return value;
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// An address as the envelope takes it: a local name alone (cron's "root")
// gets the host's name.
std::string Qualified(std::string address, std::string_view hostName) {
    if (address.find('@') == std::string::npos) address.append("@").append(hostName);
    return address;
}

std::string DomainOf(std::string_view address) {
    const auto at = address.rfind('@');
    return at == std::string_view::npos ? std::string() : std::string(address.substr(at + 1));
}

}  // namespace

bool IsSendmailName(std::string_view program) {
    const auto slash = program.find_last_of("/\\");
    if (slash != std::string_view::npos) program.remove_prefix(slash + 1);
    if (EndsWithFolded(program, ".exe")) program.remove_suffix(4);
    return EndsWithFolded(program, "sendmail");
}

Invocation ParseArguments(const std::vector<std::string>& args) {
    Invocation invocation;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (optionsEnded || !arg.starts_with('-') || arg == "-") {
            // sendmail takes "a@x, b@y" as one argument too.
            for (auto& address : AddressesIn(arg)) invocation.recipients.push_back(std::move(address));
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // The value of an option with one: glued to it (-fann@x) or the next argument.
        const auto value = [&](std::string_view option) -> std::string {
            if (arg.size() > option.size()) return std::string(arg.substr(option.size()));
            if (i + 1 == args.size()) throw qpmail::UsageError(std::string(option) + " needs a value");
            return args[++i];
        };
        const char letter = arg[1];
        if (arg == "-t") {
            invocation.recipientsFromHeaders = true;
        } else if (arg == "-i" || arg == "-oi") {
            invocation.ignoreDots = true;
        } else if (arg == "-v") {
            invocation.verbose = true;
        } else if (letter == 'f' || letter == 'r') {
            invocation.sender = value(arg.substr(0, 2));
        } else if (letter == 'F') {
            invocation.fullName = value("-F");
        } else if (letter == 'o' || letter == 'e' || letter == 'A') {
            // -oem, -odi, -oQ..., -em, -Am: delivery and error modes; the
            // message is always sent at once and errors are always reported
            // through the exit status.
        } else if (letter == 'b') {
            if (arg != "-bm") throw qpmail::UsageError("only -bm (send a message) is supported, not " + std::string(arg));
        } else if (letter == 'q') {
            throw qpmail::UsageError("there is no mail queue: " + std::string(arg) + " is not supported");
        } else if (kIgnoredWithValue.find(letter) != std::string_view::npos) {
            value(arg.substr(0, 2));
        } else if (arg.size() == 2 && kIgnoredSwitches.find(letter) != std::string_view::npos) {
        } else {
            throw qpmail::UsageError("unknown option '" + std::string(arg) + "'");
        }
    }
    return invocation;
}

std::vector<std::string> AddressesIn(std::string_view value) {
    std::vector<std::string> found;
    std::string plain;     // the current element without comments and quotes' special meaning
    std::string angle;     // what stood between < and >
    bool inAngle = false, hadAngle = false;
    int comment = 0;
    bool quoted = false;
    const auto finish = [&] {
        std::string address = hadAngle ? angle : std::string(Trim(plain));
        address = std::string(Trim(address));
        if (!address.empty()) found.push_back(address);
        plain.clear();
        angle.clear();
        inAngle = hadAngle = false;
    };
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (quoted) {
            if (c == '\\' && i + 1 < value.size()) {
                (inAngle ? angle : plain) += value.substr(i, 2);
                ++i;
                continue;
            }
            if (c == '"') quoted = false;
            (inAngle ? angle : plain) += c;
            continue;
        }
        if (comment > 0) {
            if (c == '\\') ++i;
            else if (c == '(') ++comment;
            else if (c == ')') --comment;
            continue;
        }
        switch (c) {
        case '"':
            quoted = true;
            (inAngle ? angle : plain) += c;
            break;
        case '(':
            comment = 1;
            break;
        case '<':
            inAngle = hadAngle = true;
            angle.clear();
            break;
        case '>':
            inAngle = false;
            break;
        case ':':
            // RFC 5322 3.4: "group: a, b;" -- the group's name is no address.
            if (inAngle) angle += c;
            else plain.clear();
            break;
        case ',':
        case ';':
            if (inAngle) angle += c;
            else finish();
            break;
        case '\r':
        case '\n':
            break;
        default:
            (inAngle ? angle : plain) += c;
        }
    }
    finish();
    return found;
}

Prepared PrepareMessage(std::string_view input, const Invocation& invocation, std::string_view date,
                        std::string_view hostName) {
    // The lines, whatever ended them: CR LF, LF or a lone CR.
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < input.size();) {
        const auto end = input.find_first_of("\r\n", i);
        if (end == std::string_view::npos) {
            lines.emplace_back(input.substr(i));
            break;
        }
        lines.emplace_back(input.substr(i, end - i));
        i = end + (input.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    if (!invocation.ignoreDots) {
        // The traditional end of input: a line of one period.
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i] == ".") {
                lines.resize(i);
                break;
            }
    }

    // The header block: field lines and their continuations, up to the empty
    // line. A line that is neither begins the body (a message without any
    // header line is all body).
    std::vector<Field> fields;
    std::size_t body = 0;
    for (; body < lines.size(); ++body) {
        const std::string& line = lines[body];
        if (line.empty()) {
            ++body;  // the empty line itself is written again below
            break;
        }
        if ((line.front() == ' ' || line.front() == '\t') && !fields.empty()) {
            fields.back().lines.push_back(line);
            continue;
        }
        const std::string_view name = FieldNameOf(line);
        if (name.empty()) break;
        fields.push_back({std::string(name), {line}});
    }

    const auto has = [&](std::string_view name) {
        for (const auto& f : fields)
            if (EqualsFolded(f.name, name)) return true;
        return false;
    };

    Prepared prepared;
    for (const auto& address : invocation.recipients) prepared.recipients.push_back(Qualified(address, hostName));
    if (invocation.recipientsFromHeaders)
        for (const auto& f : fields)
            if (EqualsFolded(f.name, "To") || EqualsFolded(f.name, "Cc") || EqualsFolded(f.name, "Bcc"))
                for (const auto& address : AddressesIn(Unfolded(f)))
                    prepared.recipients.push_back(Qualified(address, hostName));
    if (prepared.recipients.empty())
        throw qpmail::UsageError(invocation.recipientsFromHeaders
                                     ? "no recipient: the message has no To, Cc or Bcc line with an address"
                                     : "no recipient: give the addresses as arguments, or -t to take them from "
                                       "the message");

    if (invocation.sender) {
        // "-f '<ann@example.com>'" as well as "-f ann@example.com".
        const auto addresses = AddressesIn(*invocation.sender);
        if (!addresses.empty()) prepared.sender = addresses.front();
    }
    if (prepared.sender.empty()) {
        for (const auto& f : fields)
            if (EqualsFolded(f.name, "From")) {
                const auto addresses = AddressesIn(Unfolded(f));
                if (!addresses.empty()) prepared.sender = addresses.front();
                break;
            }
    }
    if (prepared.sender.empty())
        throw qpmail::UsageError("no sender: give -f ADDRESS, or a From line in the message");
    prepared.sender = Qualified(prepared.sender, hostName);

    // The blind copies are in the envelope; their line would show them to
    // every recipient.
    std::string& out = prepared.content;
    for (const auto& f : fields) {
        if (EqualsFolded(f.name, "Bcc")) continue;
        for (const auto& line : f.lines) out.append(line).append("\r\n");
    }
    if (!has("From")) out += "From: " + Mailbox(invocation.fullName.value_or(""), prepared.sender, 6) + "\r\n";
    if (!has("Date")) out += HeaderLine("Date", date);
    if (!has("Message-ID")) {
        std::string domain = DomainOf(prepared.sender);
        if (domain.empty()) domain = hostName;
        out += HeaderLine("Message-ID", NewMessageId(domain));
    }
    out += "\r\n";
    for (std::size_t i = body; i < lines.size(); ++i) out.append(lines[i]).append("\r\n");
    return prepared;
}

int ExitStatusFor(const Error& error) {
    const std::int32_t n = error.number();
    const auto is = [&](Err id) { return n == error_info(id).number; };
    if (is(Err::SendTimeout) || is(Err::ResponseTimeout) || (n >= 9400 && n < 9500)) return kExTempFail;
    // Windows Sockets' "host not found", "no data record".
    if (n == 11001 || n == 11004) return kExNoHost;
    // "try again", "connection timed out", "network is unreachable/down".
    if (n == 11002 || n == 10060 || n == 10051 || n == 10050) return kExTempFail;
    // RFC 4954 6: a refused or impossible login.
    if (n == 9530 || n == 9534 || n == 9535 || n == 9538) return kExNoPerm;
    // What the administrator must change in the Sendmail key: the protection
    // or the credentials do not fit this server, a value cannot be read.
    if (is(Err::NoStartTls) || is(Err::NoUsableAuthMechanism) || is(Err::PlainTextCredentials) ||
        is(Err::CertificateNotTrusted) || is(Err::InvalidProcedureCall))
        return kExConfig;
    if (is(Err::InvalidUtf8) || is(Err::LineBreakNotAllowed) || is(Err::BlankRecipient)) return kExDataErr;
    return kExUnavailable;
}

namespace {

constexpr std::string_view kSendmailKey = "SOFTWARE\\Brackenfold\\Quillpost\\Sendmail";

// A present registry value: its text, or its dword in decimal.
std::optional<std::string> ValueText(const RegistryKey& key, std::string_view name) {
    Variant value;
    if (ReadRegistryValue(key, name, value) != kRegSuccess) return std::nullopt;
    return value.ToText();
}

struct ConfigError {
    std::string text;
};

[[noreturn]] void BadValue(std::string_view name, std::string_view text) {
    throw ConfigError{"registry value \"" + std::string(name) + "\" of the Sendmail key cannot be used: '" +
                      std::string(text) + "'"};
}

bool Flag(std::string_view name, const std::string& text) {
    if (text == "1" || EqualsFolded(text, "True")) return true;
    if (text == "0" || EqualsFolded(text, "False")) return false;
    BadValue(name, text);
}

// The server and the settings of the Sendmail key. A setting the key does
// not hold comes from the server's own key (Servers\<Server>), as for any
// message sent to that server.
void ApplySendmailKey(Message& message) {
    RegistryKey key;
    if (key.Open(RegistryRoot::LocalMachine, kSendmailKey) != kRegSuccess)
        throw ConfigError{"no server: the registry has no key HKEY_LOCAL_MACHINE\\" + std::string(kSendmailKey) +
                          " (registry file " + RegistryFilePath() + ": missing, without the key, or not readable "
                          "by this account)"};
    const auto server = ValueText(key, "Server");
    if (!server || server->empty())
        throw ConfigError{"no server: the key HKEY_LOCAL_MACHINE\\" + std::string(kSendmailKey) +
                          " has no value \"Server\" (registry file " + RegistryFilePath() + ")"};
    message.Server(*server);
    if (const auto port = ValueText(key, "Port")) {
        try {
            message.Port(qpmail::ParsePort(*port));
        } catch (const qpmail::UsageError&) {
            BadValue("Port", *port);
        }
    }
    if (const auto security = ValueText(key, "Security")) {
        const auto named = SecurityNamed(*security);
        if (!named) BadValue("Security", *security);
        message.Security(*named);
    }
    if (const auto v = ValueText(key, "UserName")) message.UserName(*v);
    if (const auto v = ValueText(key, "Password")) message.Password(*v);
    if (const auto v = ValueText(key, "OAuthToken")) message.OAuthToken(*v);
    if (const auto v = ValueText(key, "CAFile")) message.CAFile(*v);
    if (const auto v = ValueText(key, "VerifyCertificate")) message.VerifyCertificate(Flag("VerifyCertificate", *v));
    if (const auto v = ValueText(key, "AllowPlainTextAuth"))
        message.AllowPlainTextAuth(Flag("AllowPlainTextAuth", *v));
    if (const auto v = ValueText(key, "TimeOut")) {
        float seconds = 0;
        const auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), seconds);
        if (ec != std::errc{} || end != v->data() + v->size() || !(seconds > 0)) BadValue("TimeOut", *v);
        message.TimeOut(seconds);
    }
}

}  // namespace

int Run(std::string_view name, const std::vector<std::string>& args, std::istream& input) {
    const std::string prefix = std::string(name) + ": ";
    try {
        const Invocation invocation = ParseArguments(args);
        const std::string text(std::istreambuf_iterator<char>(input), {});
        if (input.bad()) {
            std::cerr << prefix << "cannot read the message from standard input" << std::endl;
            return kExIoErr;
        }
        const LocalMoment now = LocalNowWithOffset();
        const Prepared prepared =
            PrepareMessage(text, invocation, DateText(now.dateTime, now.offsetMinutes), LocalHostName());

        auto message = std::make_shared<Message>();
        ApplySendmailKey(*message);
        message->FromAddress(prepared.sender);
        for (const auto& address : prepared.recipients) message->BCCs()->Add(address);
        message->PreparedContent(prepared.content);
        qpmail::ConversationSteps steps;
        message->ListenToTrace([&steps, &invocation](std::string_view line) {
            steps.Line(line);
            if (!invocation.verbose) return;
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
            std::cerr << line << '\n';
            std::cerr.flush();
        });
        try {
            message->send();
        } catch (...) {
            const Error error = qpmail::WithServer(ErrorFromCurrentException(), message->Server(), message->Port(),
                                                   steps.Step(false));
            std::cerr << prefix << qpmail::ErrorLine(error.number(), error.description()).substr(8) << std::endl;
            return ExitStatusFor(error);
        }
        return kExOk;
    } catch (const qpmail::UsageError& e) {
        std::cerr << prefix << e.what() << std::endl;
        return kExUsage;
    } catch (const ConfigError& e) {
        std::cerr << prefix << e.text << std::endl;
        return kExConfig;
    } catch (...) {
        const Error error = ErrorFromCurrentException();
        std::cerr << prefix << qpmail::ErrorLine(error.number(), error.description()).substr(8) << std::endl;
        return ExitStatusFor(error);
    }
}

}  // namespace quillpost::sendmail
