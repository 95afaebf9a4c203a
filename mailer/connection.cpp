#include <quillpost/connection.hpp>

#include <quillpost/detail/errors.hpp>

#include "mailer/conversation.hpp"

#include <optional>
#include <utility>

namespace quillpost {

namespace {

// A reply of the server that refused something (RFC 5321 4.2.1: 4yz, 5yz).
bool IsRefusal(const Error& e) { return e.number() >= 9400 && e.number() <= 9599; }

}  // namespace

struct Connection::State {
    // The settings the connection was opened with: a reopening uses them.
    Snapshot server;
    Submission submission;
    Message::TraceListener listener;
    Trace trace;
    std::optional<Session> session;

    TokenSupply Tokens() {
        return [this] {
            // A refresh token the endpoint replaces is stored when it came
            // from the registry; one set on the settings message is the
            // caller's to keep.
            const RefreshTokenStore store = [this](const std::string& refreshToken) {
                std::string reason;
                if (submission.refreshTokenFromRegistry && !StoreRefreshToken(server.server, refreshToken, reason))
                    trace.Write("+ The new OAuth refresh token could not be stored: " + reason);
            };
            return GetAccessToken(submission.oauth, HttpsSettings{submission.caFile, server.timeOut}, trace, store);
        };
    }

    // Connects and says everything up to MAIL FROM; closes and raises when
    // that fails.
    void Connect() {
        session.emplace(server.timeOut, trace);
        try {
            SetUp(*session, server, submission, Tokens(), true, trace);
        } catch (...) {
            session->QuitIfInStep();
            Drop();
            throw;
        }
    }

    // A failure that left the server waiting for a command (a refusal, or a
    // check of the message before anything was sent) leaves the connection
    // for the next message, after RSET (RFC 5321 4.1.1.5); a connection
    // the refusal left out of step (a refused recipient whose pipelined data
    // command was accepted all the same, RFC 2920 3.1) is opened anew, so
    // that nothing of the refused message is ever sent. Any other failure
    // (the transport, a time-out, 421) closes it.
    void AfterFailure(const Error& failure) noexcept {
        if (!session) return;
        const bool refusal = IsRefusal(failure);
        try {
            if (session->InStep()) return session->Reset();
        } catch (...) {
            // A server that does not take RSET is not one to go on with.
        }
        Drop();
        // After 421 the server is closing its service (RFC 5321 3.8).
        if (!refusal || failure.number() == 9421) return;
        try {
            trace.Write("+ Connecting again for the next message");
            Connect();
        } catch (...) {
            // Closed: the next message raises 9976.
        }
    }

    void Drop() noexcept {
        if (session) session->Close();
        session.reset();
    }

    // The error that ends a call, in the trace as send writes it.
    [[noreturn]] void Raise(const Error& failure) {
        trace.Write("+ Error " + std::to_string(failure.number()) + ": " + failure.description());
        trace.Flush();
        throw failure;
    }
};

Connection::Connection() = default;

Connection::~Connection() { Close(); }

bool Connection::IsOpen() const noexcept { return state_ && state_->session && state_->session->Connected(); }

void Connection::Open(const Message& settings) {
    Close();
    auto state = std::make_unique<State>();
    state->server = TakeServerSettings(settings);
    state->submission = ResolveSubmission(state->server);
    CheckCredentials(state->submission);
    state->listener = settings.traceListener_;
    state->trace.Listen(state->listener);
    try {
        state->trace.Open(state->server.traceFile);
        state->Connect();
    } catch (...) {
        const Error failure = ErrorFromCurrentException();
        state->trace.Write("+ Error " + std::to_string(failure.number()) + ": " + failure.description());
        state->trace.Close();
        throw failure;
    }
    state_ = std::move(state);
}

void Connection::Send(Message& message) {
    if (!IsOpen()) raise(Err::ConnectionClosed);
    State& state = *state_;
    // Refused before anything is sent.
    Outgoing out = CheckOutgoing(message, message.preparedContent_ ? &*message.preparedContent_ : nullptr);
    Session* session = &*state.session;
    bool reopened = false;
    try {
        Sign(out, state.trace);
        // A server may close a connection that sat idle (RFC 5321 4.5.3.2.7
        // lets it after five minutes), saying 421 first or not.
        if (session->EndedWhileIdle()) {
            state.trace.Write("+ The server closed the idle connection; connecting again");
            state.Drop();
            reopened = true;
            state.Connect();
            session = &*state.session;
        }
        for (;;) {
            try {
                Transact(*session, out, state.trace);
                return;
            } catch (const Error& e) {
                // 421 to MAIL FROM, or the close before its reply: nothing
                // was accepted, so the message goes once more on a new
                // connection.
                if (reopened || !ClosedBeforeMailFrom(*session, e)) throw;
            }
            state.trace.Write("+ The server closed the connection; connecting again");
            state.Drop();
            reopened = true;
            state.Connect();
            session = &*state.session;
        }
    } catch (...) {
        const Error failure = ErrorFromCurrentException();
        state.AfterFailure(failure);
        state.Raise(failure);
    }
}

void Connection::Close() noexcept {
    if (!state_) return;
    if (state_->session) {
        state_->session->QuitIfInStep();
        state_->Drop();
    }
    try {
        state_->trace.Close();
    } catch (...) {
        // Closing never raises; the trace is all that is lost.
    }
    state_.reset();
}

}  // namespace quillpost
