#include "smtp/session.hpp"

#include "smtp/sasl.hpp"

#include <quillpost/base64.hpp>
#include <quillpost/detail/errors.hpp>
#include <quillpost/host_events.hpp>

#include <utility>

namespace quillpost {

namespace {

thread_local Connector t_connector;

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// RFC 5321 4.2: a reply begins with three digits, the first 2 to 5, and a
// blank, a hyphen or the end of its line. A server that answers otherwise
// is not one to say more to.
bool HasReplyCode(std::string_view reply) {
    if (reply.size() < 4 || reply[0] < '2' || reply[0] > '5') return false;
    if (reply[1] < '0' || reply[1] > '9' || reply[2] < '0' || reply[2] > '9') return false;
    return reply[3] == ' ' || reply[3] == '-' || reply[3] == '\r' || reply[3] == '\n';
}

}  // namespace

void SetConnectorForThisThread(Connector connector) { t_connector = std::move(connector); }

Session::Session(float timeOut, Trace& trace) : timeOut_(timeOut), trace_(&trace) {}

void Session::Open(const std::string& server, std::int16_t port) {
    Close();
    stream_ = t_connector ? t_connector(server, port, timeOut_) : ConnectSocket(server, port, timeOut_);
}

void Session::Close() noexcept {
    inStep_ = false;
    awaited_.clear();
    pipelining_ = false;
    pending_.clear();
    replies_.Clear();
    mailReplyOwed_ = false;
    mailAccepted_ = false;
    stream_.reset();
    secure_ = false;
}

std::vector<std::string> ServerInfo::AuthMechanisms() const {
    std::vector<std::string> names;
    const auto found = extensions.find("AUTH");
    if (found == extensions.end()) return names;
    std::string_view rest = found->second;
    while (!rest.empty()) {
        const std::size_t blank = rest.find(' ');
        if (blank != 0) names.push_back(UpperCase(rest.substr(0, blank)));
        if (blank == std::string_view::npos) break;
        rest.remove_prefix(blank + 1);
    }
    return names;
}

void Session::StartTlsAtOnce(const TlsSettings& settings) {
    const bool inStep = std::exchange(inStep_, false);
    stream_ = WrapInTls(std::move(stream_), settings);
    secure_ = true;
    inStep_ = inStep;
}

void Session::Greeting() { server_.greeting = WaitForResponse("220"); }

bool Session::ExtendedHello(std::string_view domain, bool mayRefuse) {
    Command("EHLO " + std::string(domain) + "\r\n");
    Reply reply = ReadReply();
    if (mayRefuse && (reply.Is("500") || reply.Is("502"))) return false;
    if (!reply.Is("250")) throw ServerReplyError(reply.text);
    server_.extensions.clear();
    const std::vector<std::string_view> lines = reply.Lines();
    // The first line names the server; each further one is an extension.
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        // RFC 4954 appendix: some servers still write "AUTH=PLAIN LOGIN".
        const std::size_t end = line.find_first_of(" =");
        const std::string keyword = UpperCase(line.substr(0, end));
        server_.extensions[keyword] = end == std::string_view::npos ? std::string() : std::string(line.substr(end + 1));
    }
    server_.hello = std::move(reply);
    return true;
}

void Session::StartTls(const TlsSettings& settings) {
    Command("STARTTLS\r\n");
    WaitForResponse("220");
    // RFC 3207 5: anything the server sent before the handshake was not
    // protected and is not believed.
    if (!replies_.Empty()) RaiseUnexpectedResponse(replies_.TakeAll().text);
    trace_->Write("+ Starting TLS");
    StartTlsAtOnce(settings);
    server_.extensions.clear();
    server_.hello = Reply();
}

void Session::Authenticate(AuthMechanism mechanism, std::string_view user, std::string_view secret) {
    const auto send = [this](const std::string& line) { Command(line + "\r\n", "****\r\n"); };
    switch (mechanism) {
    case AuthMechanism::XOAuth2: {
        const std::string grant = "user=" + std::string(user) + "\x01" "auth=Bearer " + std::string(secret) + "\x01\x01";
        Command("AUTH XOAUTH2 " + Base64Text(grant) + "\r\n", "AUTH XOAUTH2 ****\r\n");
        const Reply reply = ReadReply();
        if (reply.Is("235")) return;
        if (!reply.Is("334")) throw ServerReplyError(reply.text);
        // RFC 7628 3.2.3: the refused token's error comes as a challenge;
        // an empty response ends the exchange, and the server then gives
        // its final reply, which carries the number of the failure.
        const std::vector<std::string_view> lines = reply.Lines();
        const std::string status = OAuthErrorStatus(lines.empty() ? std::string_view() : lines.front());
        Command("\r\n");
        const Reply last = ReadReply();
        if (last.Is("235")) return;
        const Error refused = ServerReplyError(last.text);
        if (status.empty()) throw refused;
        throw Error(refused.number(), refused.description() + "XOAUTH2 status " + status);
    }
    case AuthMechanism::Plain: {
        // RFC 4616 2: no authorization identity, the user, the password.
        const std::string plain = std::string(1, '\0') + std::string(user) + '\0' + std::string(secret);
        Command("AUTH PLAIN " + Base64Text(plain) + "\r\n", "AUTH PLAIN ****\r\n");
        break;
    }
    case AuthMechanism::Login:
        Command("AUTH LOGIN\r\n");
        WaitForResponse("334");
        Command(Base64Text(user) + "\r\n");
        WaitForResponse("334");
        send(Base64Text(secret));
        break;
    case AuthMechanism::CramMd5: {
        Command("AUTH CRAM-MD5\r\n");
        const Reply challenge = WaitForResponse("334");
        const std::vector<std::string_view> lines = challenge.Lines();
        const std::string nonce = Base64Decode(lines.empty() ? std::string_view() : lines.front());
        send(Base64Text(std::string(user) + " " + HmacMd5Hex(secret, nonce)));
        break;
    }
    }
    WaitForResponse("235");
}

void Session::Hello(std::string_view domain) {
    Command("HELO " + std::string(domain) + "\r\n");
    server_.hello = WaitForResponse("250");
}

void Session::MailFrom(std::string_view address, bool smtpUtf8, std::optional<std::uint64_t> size) {
    std::string line = "MAIL FROM: <" + std::string(address) + ">";
    if (size) line += " SIZE=" + std::to_string(*size);
    if (smtpUtf8) line += " SMTPUTF8";
    mailAccepted_ = false;
    mailReplyOwed_ = true;
    EnvelopeCommand(line + "\r\n");
}

void Session::RcptTo(std::string_view address) { EnvelopeCommand("RCPT TO: <" + std::string(address) + ">\r\n"); }

void Session::EnvelopeCommand(const std::string& line) {
    Command(line);
    if (!pipelining_) {
        WaitForResponse("250");
        return;
    }
    awaited_.push_back("250");
    // A long envelope is sent in groups: replies not read would fill the
    // server's buffers and stop it reading ours (RFC 2920 3.1).
    if (awaited_.size() >= kPipelineDepth) ReadAwaited();
}

void Session::ReadAwaited() {
    while (!awaited_.empty()) {
        const std::string_view code = awaited_.front();
        awaited_.erase(awaited_.begin());
        try {
            WaitForResponse(code);
        } catch (const Error& refusal) {
            // The first refusal ends the send. After a whole reply the
            // replies still owed are read (RFC 2920 3.1) so that quit may
            // follow, unless one of them shows the server out of step. After
            // 421 the server closes (RFC 5321 3.8): nothing more comes.
            try {
                while (refusal.number() != 9421 && lastReplyWhole_ && !awaited_.empty()) {
                    awaited_.erase(awaited_.begin());
                    const Reply owed = ReadReply();
                    if (owed.Is("354") || owed.Is("421")) break;
                }
            } catch (const Error&) {
                // Out of step: no quit.
            }
            awaited_.clear();
            throw;
        }
    }
}

void Session::Data() {
    Command("data\r\n");
    // The replies come in the order of their commands; the first refusal
    // ends the send before any content goes out. The reply to data is the
    // last one owed.
    if (!pipelining_) {
        WaitForResponse("354");
        return;
    }
    awaited_.push_back("354");
    ReadAwaited();
}

void Session::EndOfData() {
    // The data already ends with a line break; this one adds an empty line,
    // and the lone period on its own line ends the data.
    Command("\r\n");
    SendText(".\r\n");
    WaitForResponse("250");
}

void Session::Quit() {
    SendText("quit\r\n");
    Flush();
}

void Session::Reset() {
    Command("RSET\r\n");
    WaitForResponse("250");
}

bool Session::EndedWhileIdle() {
    if (!stream_) return true;
    stream_->Read(replies_.Buffer());
    if (!replies_.Empty()) {
        trace_->Write("< ", replies_.TakeAll().text);
        return true;
    }
    drained_ = !stream_->Ended();
    return !drained_;
}

void Session::QuitIfInStep() noexcept {
    if (!inStep_ || !stream_) return;
    try {
        Quit();
    } catch (...) {
        // The conversation ends either way; what ended it is what counts.
    }
}

void Session::Command(std::string_view line, std::string_view shown) {
    // Commands go one at a time, so every reply answers the command before
    // it; a reply already waiting answers nothing the session asked, and
    // taking it for the answer to this command would put the conversation
    // out of step (a server that says "250" before the data has ended).
    // Nothing is read while the data section goes out, so what has arrived
    // meanwhile is taken first. A look that found nothing, with nothing sent
    // since, is not taken twice.
    if (awaited_.empty() && !drained_) {
        if (stream_) stream_->Read(replies_.Buffer());
        if (!replies_.Empty()) RaiseUnexpectedResponse(replies_.TakeAll().text);
    }
    if (shown.empty()) {
        SendText(line);
        return;
    }
    trace_->Write("> ", shown);
    Take(line);
}

float Session::Elapsed(double start) const { return static_cast<float>(clock_->Seconds() - start); }

void Session::SendText(std::string_view text) {
    trace_->Write("> ", text);
    Take(text);
}

void Session::Take(std::string_view text) {
    // Whatever goes out is owed a reply, or is part of the data.
    inStep_ = false;
    drained_ = false;
    // A text as large as the buffer gains nothing from a copy.
    if (text.size() >= kSendBuffer) {
        Flush();
        Deliver(text);
        return;
    }
    pending_.append(text);
    if (pending_.size() >= kSendBuffer) Flush();
}

void Session::Flush() {
    if (pending_.empty()) return;
    try {
        Deliver(pending_);
    } catch (...) {
        // What failed to go is given up with the conversation; it must not
        // go out a second time with a later flush.
        pending_.clear();
        throw;
    }
    pending_.clear();
}

void Session::Deliver(std::string_view text) {
    if (!stream_) raise(Err::UnknownError, "CommSendData");
    // TimeOut bounds the time without progress: a slow server that keeps
    // taking data never times out, however long the whole text takes.
    double start = clock_->Seconds();
    while (!text.empty()) {
        const std::size_t put = stream_->Write(text);
        if (put > 0) {
            text.remove_prefix(put);
            start = clock_->Seconds();
            continue;
        }
        trace_->Write("+ Waiting to send");
        trace_->Flush();
        stream_->WaitWritable(1);
        if (Elapsed(start) > timeOut_) raise(Err::SendTimeout);
        ProcessPendingEvents();
    }
}

void Session::ReadPass() {
    trace_->Flush();
    stream_->WaitReadable(1, trace_->IsOpen() ? trace_ : nullptr);
    trace_->Write("+ Finished waiting");
    const std::size_t got = stream_->Read(replies_.Buffer());
    if (got > 0 && trace_->IsOpen()) trace_->Write("+ Received ", std::to_string(got) + " bytes");
}

Reply Session::ReadReply() {
    inStep_ = false;
    lastReplyWhole_ = false;
    Flush();
    if (!stream_) raise(Err::UnknownError, "CommWaitForData");
    const double start = clock_->Seconds();

    // Bytes that came with an earlier reply are the beginning of this one.
    while (replies_.Empty()) {
        if (Elapsed(start) > timeOut_) raise(Err::ResponseTimeout);
        ProcessPendingEvents();
        trace_->Write("+ Waiting for data");
        ReadPass();
    }

    // A multi-line reply ends only with its first line that is no
    // continuation line; it is judged only once it is whole.
    for (;;) {
        std::optional<Reply> reply = replies_.TakeReply();
        if (reply) {
            if (std::exchange(mailReplyOwed_, false)) mailAccepted_ = reply->Is("250");
            lastReplyWhole_ = HasReplyCode(reply->text);
            inStep_ = lastReplyWhole_ && awaited_.empty() && replies_.Empty() && !reply->Is("354") &&
                      !reply->Is("334") && !reply->Is("421");
        }
        if (!reply && replies_.Size() > kReplyLimit) {
            // A server that never ends its reply must not hold unbounded memory.
            const std::string shown = replies_.TakeAll().text.substr(0, kReplyShown);
            trace_->Write("< ", shown);
            raise(Err::UnexpectedResponse, shown);
        }
        if (!reply && Elapsed(start) > timeOut_) {
            // RFC 5321 4.2.1: a reply ends with the line break of its last
            // line; a part of one is no answer, so it neither accepts nor
            // refuses anything. It is traced, and the wait has timed out.
            trace_->Write("< ", replies_.TakeAll().text);
            raise(Err::ResponseTimeout);
        }
        if (reply) {
            trace_->Write("< ", reply->text);
            return std::move(*reply);
        }
        ProcessPendingEvents();
        ReadPass();
    }
}

Reply Session::WaitForResponse(std::string_view expected) {
    Reply reply = ReadReply();
    if (!reply.Is(expected)) throw ServerReplyError(reply.text);
    return reply;
}

void Session::RaiseUnexpectedResponse(std::string_view reply) {
    inStep_ = false;
    trace_->Write("< ", reply);
    throw ServerReplyError(reply);
}

}  // namespace quillpost
