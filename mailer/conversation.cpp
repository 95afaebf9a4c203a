// Connection set-up and one transaction, shared by send and Connection.
#include "mailer/conversation.hpp"

#include <quillpost/detail/errors.hpp>

#include "encoding/utf8.hpp"
#include "mailer/content.hpp"
#include "mailer/header_block.hpp"
#include "smtp/data_stream.hpp"

#include <algorithm>
#include <system_error>
#include <utility>

namespace quillpost {

namespace {

// The domain name sent with HELO: the same for every message.
constexpr std::string_view kHeloDomain = "quillpost.localdomain";

}  // namespace

bool NeedsSmtpUtf8(const Snapshot& m) {
    if (!IsAscii(m.fromAddress)) return true;
    // A reply address goes into the header block only, but a header block
    // with an address beyond ASCII needs SMTPUTF8 as much (RFC 6532 3.2).
    for (const auto* list : {&m.recipients, &m.ccs, &m.bccs, &m.replyTos})
        for (const auto& r : *list)
            if (!IsAscii(r.address)) return true;
    return false;
}

namespace {

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

}  // namespace

Outgoing CheckOutgoing(Message& message, const std::string* prepared,
                       const std::function<void(const Snapshot&)>& settled) {
    message.CheckSender(message.FromAddress());
    Outgoing out;
    out.m = TakeSnapshot(message);
    CheckLineBreaks(out.m);
    PrepareHeaders(out.m);
    if (settled) settled(out.m);
    out.signer = ResolveDkimSigner(out.m);
    out.boundaries = NewMimeBoundaries();
    out.prepared = prepared;
    return out;
}

namespace {

void ComputeSignature(Outgoing& out) {
    if (out.prepared) {
        out.signature = PreparedSignatureLine(*out.signer, *out.prepared);
    } else {
        out.first = RunFirstPass(out.m, out.boundaries, true);
        out.signature = SignatureLine(*out.signer, out.m, *out.first);
    }
}

}  // namespace

void Sign(Outgoing& out, Trace& trace) {
    if (!out.signer) return;
    trace.Write("+ Signing the message for " + out.signer->domain);
    ComputeSignature(out);
}

BackgroundSigning::BackgroundSigning(Outgoing& out, Trace& trace) {
    if (!out.signer) return;
    trace.Write("+ Signing the message for " + out.signer->domain);
    try {
        signing_ = std::async(std::launch::async, [&out] { ComputeSignature(out); });
    } catch (const std::system_error&) {
        ComputeSignature(out);
    }
}

BackgroundSigning::~BackgroundSigning() {
    if (signing_.valid()) signing_.wait();
}

void BackgroundSigning::Finish() {
    if (signing_.valid()) signing_.get();
}

void SetUp(Session& session, const Snapshot& server, const Submission& submission, const TokenSupply& tokens,
           bool extended, Trace& trace) {
    trace.Write("+ Connecting to server " + server.server + " at port " + std::to_string(server.port));
    session.Open(server.server, server.port);
    const TlsSettings tls{server.server, submission.caFile, submission.verifyCertificate, server.timeOut, server.port};
    if (submission.security == quillpost::Security::Tls) session.StartTlsAtOnce(tls);
    session.Greeting();
    if (extended)
        Introduce(session, submission, tls, tokens, trace);
    else
        session.Hello(kHeloDomain);
}

void Transact(Session& session, Outgoing& out, Trace& trace) {
    const Snapshot& m = out.m;
    const bool utf8Envelope = NeedsSmtpUtf8(m);
    // RFC 6531 3.4: an address that is not ASCII needs the server's word.
    if (utf8Envelope && !session.Server().Offers("SMTPUTF8")) raise(Err::NoSmtpUtf8);
    // RFC 1870: the size goes with MAIL FROM, so that a server refuses
    // a message too large for it before any of it is sent.
    std::optional<std::uint64_t> size;
    if (session.Server().Offers("SIZE")) {
        if (out.prepared) {
            size = PreparedOctets(*out.prepared) + out.signature.size();
        } else {
            if (!out.first) out.first = RunFirstPass(m, out.boundaries, false);
            size = out.first->octets + out.signature.size();
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
    if (out.prepared)
        WritePreparedContent(data, out.signature, *out.prepared);
    else if (out.first)
        RunSecondPass(m, data, *out.first, out.signature, out.boundaries, step);
    else
        WriteMessageContent(m, data, ContentPass{out.boundaries, step, {}, {}});
    data.End();
}

bool ClosedBeforeMailFrom(Session& session, const Error& failure) noexcept {
    if (session.MailAccepted()) return false;
    if (failure.number() == 9421) return true;
    // Any other reply refused something while the server listened.
    if (failure.number() >= 9400 && failure.number() <= 9599) return false;
    try {
        return session.EndedWhileIdle();
    } catch (...) {
        return true;  // a transport that fails to tell has as good as closed
    }
}

}  // namespace quillpost
