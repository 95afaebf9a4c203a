#include <quillpost/detail/date.hpp>
#include <quillpost/detail/errors.hpp>
#include <quillpost/message.hpp>

#include "mailer/connection_pool.hpp"
#include "mailer/conversation.hpp"
#include "platform/local_time.hpp"

#include <cmath>
#include <optional>
#include <utility>

namespace quillpost {

namespace {

template <class T>
std::shared_ptr<T> CreateOnFirstUse(std::shared_ptr<T>& slot) {
    if (!slot) slot = std::make_shared<T>();
    return slot;
}

}  // namespace

Message::Message() {
    const LocalMoment now = LocalNowWithOffset();
    dateTime_ = now.dateTime;
    dateOffset_ = now.offsetMinutes;
}

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

void Message::KeepAlive(std::int32_t seconds) {
    if (seconds < 0) raise(Err::InvalidProcedureCall);
    keepAlive_ = seconds;
}

void Message::DateTime(double value) {
    if (!IsAutomationDate(value)) raise(Err::InvalidProcedureCall);
    dateTime_ = value;
    dateOffset_.reset();
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
    std::optional<Submission> submission;
    Outgoing out = CheckOutgoing(*this, preparedContent_ ? &*preparedContent_ : nullptr, [&](const Snapshot& m) {
        submission = ResolveSubmission(m);
        CheckCredentials(*submission);
    });
    const Snapshot& m = out.m;

    Trace trace;
    // A refresh token that the endpoint replaces goes back where it came from.
    const RefreshTokenStore storeRefreshToken = [&](const std::string& refreshToken) {
        std::string reason;
        if (!submission->refreshTokenFromRegistry)
            oauthRefreshToken_ = refreshToken;
        else if (!StoreRefreshToken(m.server, refreshToken, reason))
            trace.Write("+ The new OAuth refresh token could not be stored: " + reason);
    };
    const TokenSupply tokens = [&] {
        return GetAccessToken(submission->oauth, HttpsSettings{submission->caFile, m.timeOut}, trace,
                              storeRefreshToken);
    };
    trace.Listen(traceListener_);
    const bool extended = submission->NeedsExtensions() || NeedsSmtpUtf8(m);
    const PoolKey key = PoolKeyOf(m, *submission, extended);
    std::unique_ptr<Session> session;
    std::optional<Error> failure;
    bool accepted = false;
    try {
        trace.Open(m.traceFile);
        BackgroundSigning signing(out, trace);
        // A connection kept by an earlier send with the same settings; one
        // the server has closed meanwhile is dropped.
        if (submission->keepAlive > 0) session = ConnectionPool::Instance().Take(key);
        if (session) {
            session->Rebind(m.timeOut, trace);
            trace.Write("+ Reusing the connection to server " + m.server + " at port " + std::to_string(m.port));
            if (session->EndedWhileIdle()) {
                trace.Write("+ The server has closed it");
                session.reset();
            }
        }
        const bool reused = session != nullptr;
        if (!session) {
            session = std::make_unique<Session>(m.timeOut, trace);
            SetUp(*session, m, *submission, tokens, extended, trace);
        }
        signing.Finish();
        try {
            Transact(*session, out, trace);
        } catch (const Error& e) {
            // A kept connection the server closed just now: nothing was
            // accepted, so the message goes once on a new connection.
            if (!reused || !ClosedBeforeMailFrom(*session, e)) throw;
            trace.Write("+ The server closed the connection; connecting again");
            session->Close();
            session = std::make_unique<Session>(m.timeOut, trace);
            SetUp(*session, m, *submission, tokens, extended, trace);
            Transact(*session, out, trace);
        }
        accepted = true;
        if (submission->keepAlive > 0)
            ConnectionPool::Instance().GiveBack(key, std::move(session), submission->keepAlive);
        else
            session->Quit();
    } catch (...) {
        failure = ErrorFromCurrentException();
        // RFC 5321 4.1.1.10: a refusal ends the conversation with quit
        // when the server is still listening for commands.
        if (!accepted && session) session->QuitIfInStep();
    }

    // The exit sequence: close, trace the failure, close the trace, raise.
    // A failed send never gives its connection back.
    if (session) session->Close();
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
