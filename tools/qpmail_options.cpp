#include "qpmail_options.hpp"

#include <quillpost/collections.hpp>
#include <quillpost/detail/errors.hpp>
#include <quillpost/detail/text.hpp>
#include <quillpost/error.hpp>

#include "platform/file.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <utility>

namespace quillpost::qpmail {

namespace {

// What the command line asks for, before anything touches a Message: the
// whole line is read first, so that a usage error is reported even when an
// option before it names a file that cannot be opened.
struct CommandLine {
    std::optional<std::string> server;
    std::optional<std::int32_t> port;
    std::optional<MailAddress> from;
    std::optional<std::string> fromName;
    std::vector<MailAddress> to, cc, bcc, replyTo;
    std::optional<std::string> subject;
    std::optional<std::string> textFile, htmlFile;
    std::vector<std::string> attachments;
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::int32_t> priority;
    bool confirmReading = false;
    std::optional<std::string> organization, application;
    std::optional<float> timeout;
    std::optional<std::string> trace;
    std::optional<Security> security;
    std::optional<std::string> user, passwordFile, tokenFile, caFile;
    std::optional<std::string> tokenUrl, clientId, clientSecretFile, scope, refreshTokenFile;
    bool insecure = false;
    bool allowPlainTextAuth = false;
    std::optional<std::string> dkimDomain, dkimSelector, dkimKey;
    bool printDkimRecord = false;
    bool help = false;
    bool version = false;
    bool dryRun = false;
    bool quiet = false;
    bool verbose = false;
};

Security ParseSecurity(std::string_view text) {
    if (const auto security = SecurityNamed(text)) return *security;
    throw UsageError("--security takes none, may, starttls or tls, not '" + std::string(text) + "'");
}

// The priority names, in QP_PRIORITY order.
constexpr std::array<std::string_view, 6> kPriorityNames{"none", "highest", "high", "normal", "low", "lowest"};

std::int32_t ParsePriority(std::string_view text) {
    for (std::size_t i = 0; i < kPriorityNames.size(); ++i)
        if (EqualsFolded(text, kPriorityNames[i])) return static_cast<std::int32_t>(i);
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    // A number outside the names' range is as wrong a value as an unknown
    // word, so both are the command line's fault (exit 2), not a send error.
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value < 0 ||
        value >= static_cast<std::int32_t>(kPriorityNames.size()))
        throw UsageError("--priority takes 0 to 5 or none, highest, high, normal, low, lowest, not '" +
                         std::string(text) + "'");
    return value;
}

float ParseTimeout(std::string_view text) {
    float value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value) ||
        value <= 0)
        throw UsageError("--timeout takes a number of seconds greater than 0, not '" + std::string(text) + "'");
    return value;
}

std::pair<std::string, std::string> ParseHeaderLine(std::string_view text) {
    // Split exactly as the component splits a header line, at its first ": ".
    Header header;
    if (!header.Parse(std::string(text)))
        throw UsageError("--header takes \"Name: Value\", not '" + std::string(text) + "'");
    return {header.Name(), header.Value()};
}

struct Option {
    std::string_view name;       // with its two hyphens
    std::string_view valueName;  // empty for a switch
    bool repeatable;
    std::string_view help;
    void (*take)(CommandLine&, std::string_view value);
};

struct OptionGroup {
    std::string_view title;
    std::size_t first, count;  // positions in kOptions
};

// Every option of qpmail, in the groups a user looks for them in. The help
// text and the check against the manual page are made from this table.
constexpr std::array kOptions{
    // Addresses
    Option{"--from", "ADDRESS", false, "sender (required); ADDRESS or \"Display Name <ADDRESS>\"",
           [](CommandLine& c, std::string_view v) { c.from = SplitAddress(v); }},
    Option{"--from-name", "NAME", false, "display name of the sender (default: the name in --from,\n"
                                         "else the address)",
           [](CommandLine& c, std::string_view v) { c.fromName = std::string(v); }},
    Option{"--to", "ADDRESS", true, "recipient; ADDRESS or \"Display Name <ADDRESS>\"",
           [](CommandLine& c, std::string_view v) { c.to.push_back(SplitAddress(v)); }},
    Option{"--cc", "ADDRESS", true, "copy recipient, same forms as --to",
           [](CommandLine& c, std::string_view v) { c.cc.push_back(SplitAddress(v)); }},
    Option{"--bcc", "ADDRESS", true, "blind-copy recipient, same forms as --to",
           [](CommandLine& c, std::string_view v) { c.bcc.push_back(SplitAddress(v)); }},
    Option{"--reply-to", "ADDRESS", true, "reply address, same forms as --to",
           [](CommandLine& c, std::string_view v) { c.replyTo.push_back(SplitAddress(v)); }},
    // Content
    Option{"--subject", "TEXT", false, "subject (default [no subject])",
           [](CommandLine& c, std::string_view v) { c.subject = std::string(v); }},
    Option{"--text", "FILE|-", false, "plain-text body, read from FILE or, for -, standard input",
           [](CommandLine& c, std::string_view v) { c.textFile = std::string(v); }},
    Option{"--html", "FILE|-", false, "HTML body, read from FILE or, for -, standard input",
           [](CommandLine& c, std::string_view v) { c.htmlFile = std::string(v); }},
    Option{"--attach", "FILE", true, "attach FILE",
           [](CommandLine& c, std::string_view v) { c.attachments.emplace_back(v); }},
    Option{"--header", "\"Name: Value\"", true, "extra header line, split at its first \": \"",
           [](CommandLine& c, std::string_view v) { c.headers.push_back(ParseHeaderLine(v)); }},
    Option{"--priority", "PRIORITY", false, "0 to 5, or none, highest, high, normal, low, lowest",
           [](CommandLine& c, std::string_view v) { c.priority = ParsePriority(v); }},
    Option{"--confirm-reading", "", false, "ask for a read notification to the sender",
           [](CommandLine& c, std::string_view) { c.confirmReading = true; }},
    Option{"--organization", "TEXT", false, "Organization header",
           [](CommandLine& c, std::string_view v) { c.organization = std::string(v); }},
    Option{"--application", "TEXT", false, "X-Mailer header (default Quillpost 1.0)",
           [](CommandLine& c, std::string_view v) { c.application = std::string(v); }},
    // Server and security
    Option{"--server", "HOST", false, "SMTP server, a host name or an address (default mail)",
           [](CommandLine& c, std::string_view v) { c.server = std::string(v); }},
    Option{"--port", "PORT", false, "TCP port of the server, 1 to 65535 (default 25)",
           [](CommandLine& c, std::string_view v) { c.port = ParsePort(v); }},
    Option{"--timeout", "SECONDS", false, "limit of every wait for the server (default 50)",
           [](CommandLine& c, std::string_view v) { c.timeout = ParseTimeout(v); }},
    Option{"--security", "MODE", false, "none (default), may (STARTTLS when offered), starttls\n"
                                        "(required) or tls (from the first byte, port 465)",
           [](CommandLine& c, std::string_view v) { c.security = ParseSecurity(v); }},
    Option{"--user", "NAME", false, "log in as NAME",
           [](CommandLine& c, std::string_view v) { c.user = std::string(v); }},
    Option{"--password-file", "FILE", false, "the password is FILE's first line (else the variable\n"
                                             "QPMAIL_PASSWORD); never give it on the command line",
           [](CommandLine& c, std::string_view v) { c.passwordFile = std::string(v); }},
    Option{"--oauth-token-file", "FILE", false, "log in with the bearer token in FILE's first line (XOAUTH2)",
           [](CommandLine& c, std::string_view v) { c.tokenFile = std::string(v); }},
    Option{"--oauth-token-url", "URL", false, "get XOAUTH2 tokens from this https:// token endpoint",
           [](CommandLine& c, std::string_view v) { c.tokenUrl = std::string(v); }},
    Option{"--oauth-client-id", "ID", false, "the application's client id at the endpoint",
           [](CommandLine& c, std::string_view v) { c.clientId = std::string(v); }},
    Option{"--oauth-client-secret-file", "FILE", false, "the client secret is FILE's first line",
           [](CommandLine& c, std::string_view v) { c.clientSecretFile = std::string(v); }},
    Option{"--oauth-scope", "SCOPE", false, "the scope to ask the endpoint for",
           [](CommandLine& c, std::string_view v) { c.scope = std::string(v); }},
    Option{"--oauth-refresh-token-file", "FILE", false, "use the refresh token in FILE's first line; a\n"
                                                        "new one the endpoint issues replaces it",
           [](CommandLine& c, std::string_view v) { c.refreshTokenFile = std::string(v); }},
    Option{"--ca-file", "FILE", false, "trust the certificates in FILE besides the system's",
           [](CommandLine& c, std::string_view v) { c.caFile = std::string(v); }},
    Option{"--insecure", "", false, "do not check the server's certificate (tests only)",
           [](CommandLine& c, std::string_view) { c.insecure = true; }},
    Option{"--allow-plaintext-auth", "", false, "allow logging in over a connection without TLS",
           [](CommandLine& c, std::string_view) { c.allowPlainTextAuth = true; }},
    // Diagnostics
    Option{"--trace", "FILE", false, "append a trace of the conversation to FILE",
           [](CommandLine& c, std::string_view v) { c.trace = std::string(v); }},
    Option{"--dry-run", "", false, "write the data section that would be sent (header block and\n"
                                   "MIME body) to standard output; connect to nothing",
           [](CommandLine& c, std::string_view) { c.dryRun = true; }},
    Option{"--quiet", "", false, "no progress line for attachments on a terminal",
           [](CommandLine& c, std::string_view) { c.quiet = true; }},
    Option{"--verbose", "", false, "print the conversation to standard error as it happens\n"
                                   "(the trace's lines, secrets masked; also -v)",
           [](CommandLine& c, std::string_view) { c.verbose = true; }},
    Option{"--sendmail", "", false, "act as sendmail (first argument only): read a whole message\n"
                                    "from standard input and send it to the server of the\n"
                                    "registry's Sendmail key; see qpmail(1)",
           [](CommandLine&, std::string_view) { throw UsageError("--sendmail must be the first argument"); }},
    Option{"--help", "", false, "show this help and exit (also -h)",
           [](CommandLine& c, std::string_view) { c.help = true; }},
    Option{"--version", "", false, "show the version and the TLS library, and exit",
           [](CommandLine& c, std::string_view) { c.version = true; }},
    // DKIM signing
    Option{"--dkim-domain", "DOMAIN", false, "sign for DOMAIN (d=; default the sender's domain)",
           [](CommandLine& c, std::string_view v) { c.dkimDomain = std::string(v); }},
    Option{"--dkim-selector", "SELECTOR", false, "the key's selector (s=): its record is published at\n"
                                                  "SELECTOR._domainkey.DOMAIN",
           [](CommandLine& c, std::string_view v) { c.dkimSelector = std::string(v); }},
    Option{"--dkim-key", "FILE", false, "sign with the private key in FILE (PEM, RSA or Ed25519)",
           [](CommandLine& c, std::string_view v) { c.dkimKey = std::string(v); }},
    Option{"--dkim-print-record", "", false, "print the DNS TXT record of the key of --dkim-key and exit",
           [](CommandLine& c, std::string_view) { c.printDkimRecord = true; }},
};

constexpr std::array kGroups{
    OptionGroup{"Addresses", 0, 6},
    OptionGroup{"Content", 6, 9},
    OptionGroup{"Server and security", 15, 15},
    OptionGroup{"Diagnostics", 30, 7},
    OptionGroup{"DKIM signing", 37, 4},
};
static_assert(kGroups.back().first + kGroups.back().count == kOptions.size(), "every option in one group");

const Option* FindOption(std::string_view name) {
    for (const auto& option : kOptions)
        if (option.name == name) return &option;
    return nullptr;
}

// The two short forms: what anyone tries first.
constexpr std::array<std::pair<std::string_view, std::string_view>, 2> kShortForms{{
    {"-h", "--help"},
    {"-v", "--verbose"},
}};

// Edits (insert, delete, replace, swap two neighbours) between two texts.
std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// "; did you mean --to?" for a name close to exactly one best option, else "".
std::string DidYouMean(std::string_view given) {
    std::string_view name = given;
    while (name.starts_with('-')) name.remove_prefix(1);
    if (name.empty()) return {};
    std::string_view best;
    std::size_t bestDistance = 3;  // at most two edits, and fewer than half the name
    bool tie = false;
    for (const auto& option : kOptions) {
        const std::size_t distance = EditDistance(name, option.name.substr(2));
        if (distance < bestDistance) {
            best = option.name;
            bestDistance = distance;
            tie = false;
        } else if (distance == bestDistance) {
            tie = true;
        }
    }
    if (best.empty() || tie || bestDistance * 2 >= name.size()) return {};
    return "; did you mean " + std::string(best) + "?";
}

CommandLine ReadCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    std::set<std::string_view> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        for (const auto& [shortForm, longForm] : kShortForms)
            if (arg == shortForm) arg = longForm;
        if (arg.size() < 3 || arg.substr(0, 2) != "--")
            throw UsageError("unexpected argument '" + std::string(arg) + "'" +
                             (arg.starts_with('-') ? DidYouMean(arg.substr(0, arg.find('='))) : std::string()));
        const auto equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const Option* option = FindOption(name);
        if (option == nullptr) throw UsageError("unknown option '" + std::string(name) + "'" + DidYouMean(name));
        if (!option->repeatable && !seen.insert(option->name).second)
            throw UsageError(std::string(option->name) + " given more than once");

        std::string_view value;
        if (option->valueName.empty()) {
            if (equals != std::string_view::npos)
                throw UsageError(std::string(option->name) + " takes no value");
        } else if (equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
        } else {
            if (i + 1 == args.size())
                throw UsageError(std::string(option->name) + " needs " + std::string(option->valueName));
            value = args[++i];
        }
        option->take(line, value);
    }
    if (line.textFile == "-" && line.htmlFile == "-")
        throw UsageError("standard input can be read for --text or for --html, not for both");
    if (line.help || line.version) return line;
    if (line.printDkimRecord) {
        if (!line.dkimKey) throw UsageError("--dkim-print-record needs --dkim-key FILE");
        return line;
    }
    // Refused here, before any file is read or anything is connected to: a
    // server would only refuse it after the envelope.
    if (!line.from) throw UsageError("no sender: give --from ADDRESS");
    if (line.to.empty() && line.cc.empty() && line.bcc.empty())
        throw UsageError("no recipient: give at least one --to, --cc or --bcc");
    return line;
}

// Runs `use`, which opens the file at `path`. With two attachments, "File
// not found" alone does not say which one is missing, so the component's
// error gets the name as the command line gave it; the number and the
// description stay first for scripts that match them.
template <class Use>
auto NamingFile(const std::string& path, Use&& use) {
    try {
        return use();
    } catch (const Error& e) {
        throw Error(e.number(), e.description() + ": " + path);
    }
}

// A body file's bytes. The file is first offered to the component's own open
// check, so that a file that cannot be read fails with the same numbered
// error as an attachment would.
std::string ReadBody(const std::string& path, std::istream& standardInput) {
    std::string content;
    char block[64 * 1024];
    if (path == "-") {
        while (standardInput.read(block, sizeof block) || standardInput.gcount() > 0)
            content.append(block, static_cast<std::size_t>(standardInput.gcount()));
        if (standardInput.bad()) raise(Err::DeviceIOError);
        return content;
    }
    Attachments().Add(path);
    std::ifstream in(path, std::ios::binary);
    if (!in) raise(Err::PathFileAccessError);
    while (in.read(block, sizeof block) || in.gcount() > 0)
        content.append(block, static_cast<std::size_t>(in.gcount()));
    if (in.bad()) raise(Err::DeviceIOError);
    return content;
}

// The first line of the file of the secret `property`, without its line
// break; an empty one is refused before anything is connected to.
std::string FirstLine(const std::string& path, std::string_view property) {
    Attachments().Add(path);
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!in || (!std::getline(in, line) && in.bad())) raise(Err::PathFileAccessError);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) raise(Err::BlankCredential, property);
    return line;
}

void AddAll(Recipients& list, const std::vector<MailAddress>& addresses) {
    for (const auto& a : addresses) {
        if (a.name)
            list.Add(a.address, *a.name);
        else
            list.Add(a.address);
    }
}

std::shared_ptr<Message> BuildMessage(const CommandLine& line, std::istream& standardInput) {
    auto message = std::make_shared<Message>();
    if (line.server) message->Server(*line.server);
    if (line.port) message->Port(*line.port);
    if (line.from) {
        // Setting the address fills an empty FromName with it; a display name
        // given with the address, or --from-name, replaces that below.
        message->FromAddress(line.from->address);
        if (line.from->name) message->FromName(*line.from->name);
    }
    if (line.fromName) message->FromName(*line.fromName);
    AddAll(*message->Recipients(), line.to);
    AddAll(*message->CCs(), line.cc);
    AddAll(*message->BCCs(), line.bcc);
    AddAll(*message->ReplyTos(), line.replyTo);
    if (line.subject) message->Subject(*line.subject);
    const auto body = [&](const std::string& path) {
        return NamingFile(path, [&] { return ReadBody(path, standardInput); });
    };
    if (line.textFile) message->TextBody(body(*line.textFile));
    if (line.htmlFile) message->HtmlBody(body(*line.htmlFile));
    for (const auto& path : line.attachments) NamingFile(path, [&] { message->Attachments()->Add(path); });
    for (const auto& [name, value] : line.headers) message->ExtraHeaders()->Add(name, value);
    if (line.priority) message->Priority(*line.priority);
    if (line.confirmReading) message->ConfirmReading(true);
    if (line.organization) message->Organization(*line.organization);
    if (line.application) message->Application(*line.application);
    if (line.timeout) message->TimeOut(*line.timeout);
    if (line.trace) message->TraceFile(*line.trace);
    if (line.security) message->Security(*line.security);
    if (line.user) message->UserName(*line.user);
    if (line.passwordFile) {
        message->Password(NamingFile(*line.passwordFile, [&] { return FirstLine(*line.passwordFile, "Password"); }));
    } else if (const char* password = std::getenv("QPMAIL_PASSWORD"); password != nullptr && *password != '\0') {
        message->Password(password);
    }
    if (line.tokenFile)
        message->OAuthToken(NamingFile(*line.tokenFile, [&] { return FirstLine(*line.tokenFile, "OAuthToken"); }));
    if (line.tokenUrl) message->OAuthTokenUrl(*line.tokenUrl);
    if (line.clientId) message->OAuthClientId(*line.clientId);
    if (line.scope) message->OAuthScope(*line.scope);
    const auto secret = [](const std::string& path, std::string_view property) {
        return NamingFile(path, [&] { return FirstLine(path, property); });
    };
    if (line.clientSecretFile) message->OAuthClientSecret(secret(*line.clientSecretFile, "OAuthClientSecret"));
    if (line.refreshTokenFile) message->OAuthRefreshToken(secret(*line.refreshTokenFile, "OAuthRefreshToken"));
    if (line.caFile) message->CAFile(*line.caFile);
    if (line.insecure) message->VerifyCertificate(false);
    if (line.allowPlainTextAuth) message->AllowPlainTextAuth(true);
    if (line.dkimDomain) message->DkimDomain(*line.dkimDomain);
    if (line.dkimSelector) message->DkimSelector(*line.dkimSelector);
    if (line.dkimKey) message->DkimKeyFile(*line.dkimKey);
    return message;
}

std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

MailAddress SplitAddress(std::string_view text) {
    const auto open = text.rfind('<');
    if (open == std::string_view::npos) {
        if (text.find('>') != std::string_view::npos)
            throw UsageError("'" + std::string(text) + "' has '>' without '<'");
        return {std::string(text), std::nullopt};
    }
    const auto close = text.find('>', open);
    if (close == std::string_view::npos)
        throw UsageError("'" + std::string(text) + "' has '<' without '>'");
    if (!TrimBlanks(text.substr(close + 1)).empty())
        throw UsageError("'" + std::string(text) + "' has text after its address");

    MailAddress result{std::string(text.substr(open + 1, close - open - 1)), std::nullopt};
    std::string_view name = TrimBlanks(text.substr(0, open));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    if (!name.empty()) result.name = std::string(name);
    return result;
}

std::int32_t ParsePort(std::string_view text) {
    std::int32_t port = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || port < 1 || port > 65535)
        throw UsageError("--port takes 1 to 65535, not '" + std::string(text) + "'");
    // The message keeps the port in 16 signed bits; the transport reads them
    // back as unsigned.
    return port > 32767 ? port - 65536 : port;
}

Options ParseArguments(const std::vector<std::string>& args, std::istream& standardInput) {
    const CommandLine line = ReadCommandLine(args);
    Options options;
    options.help = line.help;
    options.version = line.version && !line.help;
    options.dryRun = line.dryRun;
    options.quiet = line.quiet;
    options.verbose = line.verbose;
    for (const auto* file : {&line.passwordFile, &line.tokenFile, &line.clientSecretFile, &line.refreshTokenFile})
        if (*file) options.secretFiles.push_back(**file);
    if (line.help || line.version) return options;
    if (line.printDkimRecord) {
        options.dkimRecordKey = *line.dkimKey;
        return options;
    }
    options.message = BuildMessage(line, standardInput);
    options.refreshTokenFile = line.refreshTokenFile;
    options.refreshToken = options.message->OAuthRefreshToken();
    return options;
}

void KeepRefreshToken(const Options& options) {
    if (!options.refreshTokenFile || options.message->OAuthRefreshToken() == options.refreshToken) return;
    const std::string& path = *options.refreshTokenFile;
    NamingFile(path, [&] { ReplaceFileText(path, options.message->OAuthRefreshToken() + "\n"); });
}

std::vector<std::string_view> OptionNames() {
    std::vector<std::string_view> names;
    for (const auto& option : kOptions) names.push_back(option.name);
    return names;
}

std::string UsageText() {
    std::string text =
        "Usage: qpmail [OPTION]...\n"
        "Sends one message over SMTP and returns once the server has accepted it.\n"
        "It needs --from and at least one --to, --cc or --bcc.\n"
        "Options take their value as the next argument or after '='.\n";
    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        for (const auto& group : kGroups)
            if (group.first == i) text.append("\n").append(group.title).append(":\n");
        const Option& option = kOptions[i];
        std::string head = "  ";
        head.append(option.name);
        if (!option.valueName.empty()) head.append(" ").append(option.valueName);
        if (head.size() < 30)
            head.resize(30, ' ');
        else
            head += "\n" + std::string(30, ' ');
        text += head;
        for (const char c : option.help) {
            text += c;
            if (c == '\n') text += std::string(30, ' ');
        }
        if (option.repeatable) text += " (repeatable)";
        text += "\n";
    }
    text +=
        "\nExit status:\n"
        "  0  the server accepted the message\n"
        "  1  the component reported an error, shown as 'qpmail: error NUMBER: DESCRIPTION'\n"
        "     (a body or attachment file that cannot be read is one of these)\n"
        "  2  the command line was not understood or cannot make a message to send\n"
        "     (also when no option at all is given)\n"
        "\nSee qpmail(1) for the whole story.\n";
    return text;
}

std::string VersionText(std::string_view tlsLibrary) {
    std::string text = "qpmail (Quillpost) " QPMAIL_VERSION "\n";
    if (!tlsLibrary.empty()) text += "TLS library: " + std::string(tlsLibrary) + "\n";
    return text;
}

void ConversationSteps::Line(std::string_view line) {
    // The exit sequence's own lines are no step of the conversation.
    if (line.starts_with("+ Error ") || line.starts_with("+ Ignored after")) return;
    started_ = true;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.starts_with("< ")) {
        connected_ = true;
        // RFC 5321 4.2: 354 asks for the data; what is sent next is message
        // text up to the lone period.
        if (line.substr(2).starts_with("354")) inData_ = true;
        return;
    }
    if (!line.starts_with("> ")) return;
    connected_ = true;
    std::string_view text = line.substr(2);
    if (inData_) {
        if (text != ".") return;
        inData_ = false;
        lastCommand_ = "the end of the data";
        return;
    }
    // "MAIL FROM:<a@b>" -> "MAIL FROM", "EHLO host" -> "EHLO", "AUTH PLAIN ****" -> "AUTH".
    const auto colon = text.find(':');
    const auto blank = text.find(' ');
    if (colon != std::string_view::npos && text.substr(0, colon).find('<') == std::string_view::npos &&
        text.substr(0, colon).size() <= 9)
        lastCommand_ = std::string(text.substr(0, colon));
    else
        lastCommand_ = std::string(text.substr(0, blank));
}

std::string ConversationSteps::Step(bool sending) const {
    if (!started_) return {};
    if (inData_) return "sending the message data";
    if (lastCommand_.empty()) return connected_ ? "waiting for the server" : "waiting for the greeting";
    return (sending ? "sending " : "waiting for the reply to ") + lastCommand_;
}

Error WithServer(const Error& error, std::string_view server, std::int32_t port, std::string_view step) {
    const std::string where = std::string(server) + " port " + std::to_string(static_cast<std::uint16_t>(port));
    const Error sendTimeout = make_error(Err::SendTimeout);
    if ((error.number() == sendTimeout.number() && error.description() == sendTimeout.description()) ||
        error.number() == make_error(Err::ResponseTimeout).number())
        return Error(error.number(), error.description() + " (" + where + (step.empty() ? "" : ", ") +
                                         std::string(step) + ")");
    // The errors of protection and login concern the server too.
    for (const Err id : {Err::NoStartTls, Err::TlsHandshakeFailed, Err::CertificateNotTrusted,
                         Err::NoUsableAuthMechanism, Err::PlainTextCredentials, Err::NoSmtpUtf8})
        if (error.number() == error_info(id).number)
            return Error(error.number(), error.description() + " (" + where + ")");
    if (SocketErrorText(error.number()).empty()) return error;
    std::string_view text = error.description();
    if (!text.empty() && text.back() == '.') text.remove_suffix(1);
    return Error(error.number(), std::string(text) + " (" + where + ")");
}

namespace {

// One line of advice for the errors whose cure is an option of qpmail.
struct Hint {
    std::int32_t number;
    std::string_view text;
};
constexpr std::array kHints{
    Hint{9980, "the server does not offer STARTTLS: try --security tls on port 465, or --security may"},
    Hint{9981, "check that the port speaks what --security says: tls from the first byte (465), "
               "starttls after EHLO (587, 25)"},
    Hint{9982, "if the server's certificate authority is your own, give it with --ca-file FILE; check that "
               "--server is the name in the certificate"},
    Hint{9983, "the server offers no login mechanism qpmail can use over this connection: try --security "
               "starttls or tls, or leave out --user if it needs no login"},
    Hint{9984, "log in over TLS: --security starttls (port 587) or --security tls (port 465)"},
    Hint{9985, "the server cannot take addresses beyond ASCII: write the domain in its ASCII form (xn--...) "
               "or use another server"},
    Hint{9986, "give the text as UTF-8, for example through iconv -f latin1 -t utf-8"},
    Hint{9998, "the server did not answer in time: check --server and --port (465 needs --security tls), or "
               "raise --timeout"},
    Hint{10061, "nothing accepts connections there: check --server and --port (25, 587 or 465)"},
    Hint{11001, "the name of --server cannot be looked up: check its spelling and the system's DNS"},
};

}  // namespace

std::string_view HintFor(std::int32_t number) {
    for (const auto& hint : kHints)
        if (hint.number == number) return hint.text;
    return {};
}

std::string ErrorLine(std::int32_t number, std::string_view description) {
    while (!description.empty() && (description.back() == '\r' || description.back() == '\n'))
        description.remove_suffix(1);
    std::string line = "qpmail: error " + std::to_string(number) + ": ";
    for (std::size_t i = 0; i < description.size(); ++i) {
        const char c = description[i];
        if (c == '\r' || c == '\n') {
            line += ' ';
            if (c == '\r' && i + 1 < description.size() && description[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    return line;
}

}  // namespace quillpost::qpmail
