// The two halves of every conversation with a server, shared by `send` and
// Connection: setting up the connection (connect, greeting, EHLO or HELO,
// TLS, login) and one transaction (MAIL FROM to the end of the data).
#pragma once

#include "mailer/content_passes.hpp"
#include "mailer/dkim.hpp"
#include "mailer/mime_writer.hpp"
#include "mailer/oauth.hpp"
#include "mailer/snapshot.hpp"
#include "mailer/submission.hpp"
#include "smtp/session.hpp"
#include "smtp/trace.hpp"

#include <functional>
#include <future>
#include <optional>
#include <string>

namespace quillpost {

// Tokens of the endpoint for one login: asked for (or taken from those
// kept) right before AUTH.
using TokenSupply = std::function<AccessToken()>;

// One message checked and copied for its transaction.
struct Outgoing {
    Snapshot m;
    std::optional<DkimSigner> signer;
    MimeBoundaries boundaries;
    // A complete message to send as it is (see Message::PreparedContent).
    const std::string* prepared = nullptr;
    // Filled by Sign: the first pass (when one was run) and the signature.
    std::optional<FirstPass> first;
    std::string signature;
};

// The checks of a message that come before anything is opened or traced:
// the sender, line breaks, the header block. `settled` runs between those
// and the signing key's resolution (send resolves its server settings
// there).
Outgoing CheckOutgoing(Message& message, const std::string* prepared,
                       const std::function<void(const Snapshot&)>& settled = {});

// Hashes the body and signs the message when it is to be signed, before any
// of it is sent, so that a server never waits for a large file.
void Sign(Outgoing& out, Trace& trace);

// Sign on a thread of its own, beside the connection's set-up: for a small
// message, hashing and signing take about as long as the greeting and EHLO,
// which spend their time waiting on the server. The trace line is written
// at once. `Finish` waits for the signature and raises what the signing
// raised; leaving without it waits as well, so nothing the signing reads
// goes away under it. Where no thread can be had, the signing is done at
// once.
class BackgroundSigning {
public:
    BackgroundSigning(Outgoing& out, Trace& trace);
    BackgroundSigning(const BackgroundSigning&) = delete;
    BackgroundSigning& operator=(const BackgroundSigning&) = delete;
    ~BackgroundSigning();
    void Finish();

private:
    std::future<void> signing_;
};

// Connects to the snapshot's server and says everything up to MAIL FROM:
// TLS from the first byte when asked, the greeting, then EHLO with STARTTLS
// and the login when `extended` (HELO only after a 500 or 502 to EHLO), or
// HELO.
void SetUp(Session& session, const Snapshot& server, const Submission& submission, const TokenSupply& tokens,
           bool extended, Trace& trace);

// Whether a message needs EHLO for its envelope alone (RFC 6531: an address
// beyond ASCII).
bool NeedsSmtpUtf8(const Snapshot& m);

// One transaction: MAIL FROM (with SIZE when offered), RCPT TO for every
// recipient, data, the content and the end of the data, accepted with 250.
// Raises what refused or broke it.
void Transact(Session& session, Outgoing& out, Trace& trace);

// Whether `failure` of a transaction shows the server gone before it
// accepted MAIL FROM (421, or the connection closed), so that the message
// may go once more on a new connection without being sent twice.
bool ClosedBeforeMailFrom(Session& session, const Error& failure) noexcept;

}  // namespace quillpost
