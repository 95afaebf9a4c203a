// One SMTP session with the server: one operation per command, each waiting
// for the one reply code it accepts, over a byte stream. Every byte of the
// conversation goes out through SendText and every reply is awaited with
// WaitForResponse, both bounded by the message's TimeOut and recorded in the
// trace. The session also keeps what the server said about itself.
#pragma once

#include "platform/clock.hpp"
#include "smtp/reply_reader.hpp"
#include "smtp/trace.hpp"
#include "transport/byte_stream.hpp"
#include "transport/tls.hpp"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillpost {

// What the server said about itself.
struct ServerInfo {
    Reply greeting;  // the 220 reply on connecting
    Reply hello;     // the 250 reply to HELO or EHLO
    // The extensions an EHLO reply lists (RFC 5321 4.1.1.1), by upper-case
    // keyword, with their parameters; empty after HELO.
    std::map<std::string, std::string> extensions;

    bool Offers(std::string_view keyword) const { return extensions.contains(std::string(keyword)); }
    // The mechanisms named by AUTH, in upper case.
    std::vector<std::string> AuthMechanisms() const;
};

// The ways of logging in, best first when the server offers several.
enum class AuthMechanism { XOAuth2, Plain, Login, CramMd5 };

class Session {
public:
    // `timeOut` is the message's TimeOut in seconds; `trace` must outlive
    // the session.
    Session(float timeOut, Trace& trace);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Waits `timeOut` and traces into `trace` from here on: a kept
    // connection serves one send after another, each with its own TimeOut
    // and trace. `trace` must outlive the session or the next Rebind.
    void Rebind(float timeOut, Trace& trace) {
        timeOut_ = timeOut;
        trace_ = &trace;
    }

    // The clock for elapsed times; the steady clock unless changed. The
    // clock must outlive the session.
    void SetClock(const Clock& clock) { clock_ = &clock; }

    // Outgoing text is collected up to this size before it is written.
    static constexpr std::size_t kSendBuffer = 64 * 1024;
    // A reply that grows past this size without completing is refused ...
    static constexpr std::size_t kReplyLimit = 64 * 1024;
    // ... showing this much of its beginning.
    static constexpr std::size_t kReplyShown = 1024;
    // Commands sent without waiting before their replies are read.
    static constexpr std::size_t kPipelineDepth = 100;

    // Connects (CommOpen, or the thread's connector). Raises the
    // transport's error and stays closed.
    void Open(const std::string& server, std::int16_t port);
    bool Connected() const { return stream_ != nullptr; }
    // Closes the connection; text that SendText took but no Flush wrote is
    // dropped, and so is any reply not yet read. Never raises.
    void Close() noexcept;

    // Puts TLS under the session from the first byte (before the greeting).
    void StartTlsAtOnce(const TlsSettings& settings);
    bool Secure() const { return secure_; }

    // The commands, each with the reply it waits for.
    void Greeting();                           // 220
    void Hello(std::string_view domain);       // HELO, 250
    // EHLO, 250: true with the extensions kept; false when the server does
    // not know the command (500, 502) and `mayRefuse`, so that HELO may be
    // tried instead.
    bool ExtendedHello(std::string_view domain, bool mayRefuse = true);
    // STARTTLS, 220, the handshake; then everything the server said about
    // itself is forgotten (RFC 3207 4.2), and EHLO must be sent again.
    void StartTls(const TlsSettings& settings);
    // AUTH with `mechanism`, 235. The secret (password or token) and its
    // Base64 form never reach the trace: those lines show "****". A refused
    // XOAUTH2 token raises the final reply's error (535: 9535), its
    // description followed by "XOAUTH2 status " and the server's status.
    void Authenticate(AuthMechanism mechanism, std::string_view user, std::string_view secret);
    // RFC 2920: from here on MAIL FROM and RCPT TO go out without waiting,
    // and data waits for all their replies in order, then its own. Only for
    // a server whose EHLO reply offers PIPELINING.
    void Pipeline() { pipelining_ = true; }
    // MAIL FROM, 250; with `smtpUtf8` the SMTPUTF8 parameter (RFC 6531),
    // with `size` the SIZE parameter (RFC 1870).
    void MailFrom(std::string_view address, bool smtpUtf8 = false, std::optional<std::uint64_t> size = {});
    void RcptTo(std::string_view address);     // RCPT TO, 250
    void Data();                               // data, 354
    void EndOfData();                          // line break, ".", 250
    void Quit();                               // quit; its reply is not read
    // RSET, 250 (RFC 5321 4.1.1.5): a refused transaction is dropped and the
    // connection goes on.
    void Reset();
    // True when the server accepted the last MAIL FROM (its reply was 250).
    bool MailAccepted() const { return mailAccepted_; }
    // In step as QuitIfInStep means it: a command may follow.
    bool InStep() const { return inStep_ && stream_ != nullptr; }
    // For a connection that sat idle: reads what came meanwhile without
    // waiting, and returns true when the server has closed it or said
    // something unasked (RFC 5321 3.8: 421 before it closes); that reply is
    // traced.
    bool EndedWhileIdle();
    // RFC 5321 4.1.1.10: a conversation that ends early ends with quit too,
    // when it is in step: every reply to what was sent has been read whole,
    // and none of them left the server waiting for more than a command
    // (354 data, 334 a login's next line) or closing the connection (421).
    // Sends quit then and nothing otherwise; never raises.
    void QuitIfInStep() noexcept;

    const ServerInfo& Server() const { return server_; }

    // Takes `text` for the connection (traced at once); it goes out when the
    // buffer fills, before the next wait for a reply, or on Flush.
    void SendText(std::string_view text);
    // Hands every buffered byte to the connection.
    void Flush();
    // Waits for the next complete reply and traces it; raises 9998 when none
    // is complete in time (a part that came is traced first).
    Reply ReadReply();
    // Waits for the next reply and returns it when it begins with
    // `expected`; raises 9998 when none is complete in time and the reply's error
    // (ServerReplyError) when it begins otherwise.
    Reply WaitForResponse(std::string_view expected);
    // Traces the refused reply and raises its error.
    [[noreturn]] void RaiseUnexpectedResponse(std::string_view reply);

private:
    // A command of the envelope: its reply awaited now, or with the data
    // command when pipelining.
    void EnvelopeCommand(const std::string& line);
    // Reads the replies of the commands sent without waiting, in order.
    void ReadAwaited();
    // Sends a command line, refusing a reply that came unasked; `shown` is
    // traced in its place when not empty.
    void Command(std::string_view line, std::string_view shown = {});
    float Elapsed(double start) const;
    // Takes `text` for the connection without tracing it.
    void Take(std::string_view text);
    // Hands `text` to the connection, waiting while it cannot take it.
    void Deliver(std::string_view text);
    // One pass of a reply wait: wait up to a second, then read what came.
    void ReadPass();

    float timeOut_;
    Trace* trace_;
    const Clock* clock_ = &SteadyClock();
    std::unique_ptr<ByteStream> stream_;
    std::string pending_;  // text taken by SendText, not yet on the wire
    ReplyReader replies_;
    ServerInfo server_;
    bool secure_ = false;
    bool pipelining_ = false;
    bool inStep_ = false;  // see QuitIfInStep
    // Nothing was waiting at the last look, and nothing has been sent since.
    bool drained_ = false;
    // The last reply read ended with its line break in time and has a code.
    bool lastReplyWhole_ = false;
    bool mailReplyOwed_ = false;  // the next reply read answers MAIL FROM
    bool mailAccepted_ = false;
    std::vector<std::string_view> awaited_;  // codes of replies not yet read
};

// Where sessions of the calling thread get their connection: a plain socket
// unless a host or a test installs a connector of its own (an empty
// function restores the socket).
void SetConnectorForThisThread(Connector connector);

}  // namespace quillpost
