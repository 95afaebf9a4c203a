#include <quillpost/detail/date.hpp>
#include <quillpost/detail/errors.hpp>
#include <quillpost/message.hpp>

#include "mailer/content.hpp"
#include "mailer/content_passes.hpp"
#include "mailer/dkim.hpp"
#include "mailer/header_block.hpp"
#include "mailer/oauth.hpp"
#include "encoding/utf8.hpp"
#include "mailer/snapshot.hpp"
#include "mailer/submission.hpp"
#include "platform/local_time.hpp"
#include "smtp/data_stream.hpp"
#include "smtp/session.hpp"
#include "smtp/trace.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <utility>

namespace quillpost {

namespace {

// The domain name sent with HELO: the same for every message.
constexpr std::string_view kHeloDomain = "quillpost.localdomain";

bool NeedsSmtpUtf8(const Snapshot& m) {
    if (!IsAscii(m.fromAddress)) return true;
    // A reply address goes into the header block only, but a header block
    // with an address beyond ASCII needs SMTPUTF8 as much (RFC 6532 3.2).
    for (const auto* list : {&m.recipients, &m.ccs, &m.bccs, &m.replyTos})
        for (const auto& r : *list)
            if (!IsAscii(r.address)) return true;
    return false;
}

// The mechanism to log in with: XOAUTH2 when a token is set, else the best
// the server offers of PLAIN, LOGIN and CRAM-MD5.
std::optional<AuthMechanism> ChooseMechanism(const ServerInfo& server, const Submission& submission) {
    const std::vector<std::string> offered = server.AuthMechanisms();
    const auto offers = [&](std::string_view name) {
        return std::find(offered.begin(), offered.end(), name) != offered.end();
    };
    if (!submission.oauthToken.empty() || submission.FetchesTokens()) {
        if (offers("XOAUTH2")) return AuthMechanism::XOAuth2;
        return std::nullopt;
    }
    if (offers("PLAIN")) return AuthMechanism::Plain;
    if (offers("LOGIN")) return AuthMechanism::Login;
    if (offers("CRAM-MD5")) return AuthMechanism::CramMd5;
    return std::nullopt;
}

// Tokens of the endpoint for one send: asked for (or taken from those kept)
// right before AUTH.
using TokenSupply = std::function<AccessToken()>;

// A kept token may have been revoked before it expired: when the server
// refuses it (a 5xx reply), it is dropped and the login is tried once more,
// on the same connection, with a new one.
void LogInWithFetchedToken(Session& session, const Submission& submission, const TokenSupply& tokens, Trace& trace) {
    const AccessToken token = tokens();
    try {
        session.Authenticate(AuthMechanism::XOAuth2, submission.userName, token.value);
        return;
    } catch (const Error& e) {
        if (!token.cached || e.number() < 9500 || e.number() > 9599) throw;
    }
    trace.Write("+ The server refused the kept OAuth token");
    DropAccessToken(submission.oauth, token.value);
    session.Authenticate(AuthMechanism::XOAuth2, submission.userName, tokens().value);
}

// EHLO, STARTTLS when asked for, EHLO again, and the login: everything
// between the greeting and MAIL FROM when any setting needs more than HELO.
void Introduce(Session& session, const Submission& submission, const TlsSettings& tls, const TokenSupply& tokens,
               Trace& trace) {
    const bool tlsRequired = submission.security == quillpost::Security::StartTls;
    const bool tlsWanted = tlsRequired || submission.security == quillpost::Security::May;
    if (!session.ExtendedHello(kHeloDomain)) {
        // A server from before EHLO: no STARTTLS, no login.
        if (tlsRequired) raise(Err::NoStartTls);
        if (submission.HasCredentials()) raise(Err::NoUsableAuthMechanism);
        session.Hello(kHeloDomain);
        return;
    }
    if (tlsWanted && !session.Secure()) {
        if (session.Server().Offers("STARTTLS")) {
            session.StartTls(tls);
            session.ExtendedHello(kHeloDomain, false);
        } else if (tlsRequired) {
            raise(Err::NoStartTls);
        }
    }
    if (session.Server().Offers("PIPELINING")) session.Pipeline();
    if (!submission.HasCredentials()) return;
    if (!session.Secure() && !submission.allowPlainTextAuth) raise(Err::PlainTextCredentials);
    const std::optional<AuthMechanism> mechanism = ChooseMechanism(session.Server(), submission);
    if (!mechanism) raise(Err::NoUsableAuthMechanism);
    const bool token = *mechanism == AuthMechanism::XOAuth2;
    if (token && submission.FetchesTokens()) return LogInWithFetchedToken(session, submission, tokens, trace);
    session.Authenticate(*mechanism, submission.userName, token ? submission.oauthToken : submission.password);
}

template <class T>
std::shared_ptr<T> CreateOnFirstUse(std::shared_ptr<T>& slot) {
    if (!slot) slot = std::make_shared<T>();
    return slot;
}

}  // namespace

Message::Message() : dateTime_(LocalNow()) {}

Message::~Message() = default;

void Message::FromAddress(std::string value) {
    fromAddress_ = std::move(value);
    if (fromName_.empty()) fromName_ = fromAddress_;
}

void Message::TimeOut(float value) {
    // NaN compares false with everything: a wait would never end.
    if (std::isnan(value)) raise(Err::InvalidProcedureCall);
    timeOut_ = value;
}

void Message::DateTime(double value) {
    if (!IsAutomationDate(value)) raise(Err::InvalidProcedureCall);
    dateTime_ = value;
}

void Message::Port(std::int32_t value) {
    if (value < -32768 || value > 32767) raise(Err::Overflow);
    port_ = static_cast<std::int16_t>(value);
}

void Message::Priority(std::int32_t value) {
    if (value < QP_PRIORITY_NONE || value > QP_PRIORITY_LOWEST) raise(Err::InvalidPriority);
    priority_ = value;
}

std::shared_ptr<Recipients> Message::Recipients() { return CreateOnFirstUse(recipients_); }
std::shared_ptr<Recipients> Message::CCs() { return CreateOnFirstUse(ccs_); }
std::shared_ptr<Recipients> Message::BCCs() { return CreateOnFirstUse(bccs_); }
std::shared_ptr<Recipients> Message::ReplyTos() { return CreateOnFirstUse(replyTos_); }
std::shared_ptr<Headers> Message::ExtraHeaders() { return CreateOnFirstUse(extraHeaders_); }
std::shared_ptr<Attachments> Message::Attachments() { return CreateOnFirstUse(attachments_); }

void Message::send() {
    // Refused before anything is opened or traced.
    CheckSender(fromAddress_);
    Snapshot m = TakeSnapshot(*this);
    CheckLineBreaks(m);
    PrepareHeaders(m);

    const Submission submission = ResolveSubmission(m);
    CheckCredentials(submission);
    const std::optional<DkimSigner> signer = ResolveDkimSigner(m);
    const MimeBoundaries boundaries = NewMimeBoundaries();

    Trace trace;
    // A refresh token that the endpoint replaces goes back where it came from.
    const RefreshTokenStore storeRefreshToken = [&](const std::string& refreshToken) {
        std::string reason;
        if (!submission.refreshTokenFromRegistry)
            oauthRefreshToken_ = refreshToken;
        else if (!StoreRefreshToken(m.server, refreshToken, reason))
            trace.Write("+ The new OAuth refresh token could not be stored: " + reason);
    };
    const TokenSupply tokens = [&] {
        return GetAccessToken(submission.oauth, HttpsSettings{submission.caFile, m.timeOut}, trace, storeRefreshToken);
    };
    trace.Listen(traceListener_);
    Session session(m.timeOut, trace);
    std::optional<Error> failure;
    bool accepted = false;
    try {
        trace.Open(m.traceFile);
        // The body is hashed and the message signed before the connection
        // is opened, so that the server never waits for a large file.
        std::optional<FirstPass> first;
        std::string signature;
        if (signer) {
            trace.Write("+ Signing the message for " + signer->domain);
            if (preparedContent_) {
                signature = PreparedSignatureLine(*signer, *preparedContent_);
            } else {
                first = RunFirstPass(m, boundaries, true);
                signature = SignatureLine(*signer, m, *first);
            }
        }
        trace.Write("+ Connecting to server " + m.server + " at port " + std::to_string(m.port));
        session.Open(m.server, m.port);
        const TlsSettings tls{m.server, submission.caFile, submission.verifyCertificate, m.timeOut, m.port};
        if (submission.security == quillpost::Security::Tls) session.StartTlsAtOnce(tls);
        session.Greeting();
        const bool utf8Envelope = NeedsSmtpUtf8(m);
        if (submission.NeedsExtensions() || utf8Envelope)
            Introduce(session, submission, tls, tokens, trace);
        else
            session.Hello(kHeloDomain);
        // RFC 6531 3.4: an address that is not ASCII needs the server's word.
        if (utf8Envelope && !session.Server().Offers("SMTPUTF8")) raise(Err::NoSmtpUtf8);
        // RFC 1870: the size goes with MAIL FROM, so that a server refuses
        // a message too large for it before any of it is sent.
        std::optional<std::uint64_t> size;
        if (session.Server().Offers("SIZE")) {
            if (preparedContent_) {
                size = PreparedOctets(*preparedContent_) + signature.size();
            } else {
                if (!first) first = RunFirstPass(m, boundaries, false);
                size = first->octets + signature.size();
            }
        }
        session.MailFrom(m.fromAddress, utf8Envelope, size);
        trace.Write("+ Sending recipient addresses ");
        for (const auto* list : {&m.recipients, &m.ccs, &m.bccs})
            for (const auto& r : *list) session.RcptTo(r.address);
        trace.Write("+ Sending message headers");
        session.Data();

        DataStream data(session);
        const auto step = [&trace](std::string_view line) { trace.Write(line); };
        if (preparedContent_)
            WritePreparedContent(data, signature, *preparedContent_);
        else if (first)
            RunSecondPass(m, data, *first, signature, boundaries, step);
        else
            WriteMessageContent(m, data, ContentPass{boundaries, step, {}, {}});
        data.End();
        accepted = true;
        session.Quit();
    } catch (...) {
        failure = ErrorFromCurrentException();
        // RFC 5321 4.1.1.10: a refusal ends the conversation with quit
        // when the server is still listening for commands.
        if (!accepted) session.QuitIfInStep();
    }

    // The exit sequence: close, trace the failure, close the trace, raise.
    session.Close();
    if (failure && accepted) {
        // The server has the message: a failure while saying goodbye is
        // recorded, not raised, so that no caller sends the message twice.
        trace.Write("+ Ignored after the message was accepted: error " + std::to_string(failure->number()) +
                    ": " + failure->description());
        failure.reset();
    }
    if (failure) {
        trace.Write("+ Error " + std::to_string(failure->number()) + ": " + failure->description());
        trace.Close();
        throw *failure;
    }
    try {
        trace.Close();
    } catch (const Error&) {
        // Only reached after the server accepted the message (see above);
        // the trace is incomplete, the message is delivered.
    }
}

}  // namespace quillpost
