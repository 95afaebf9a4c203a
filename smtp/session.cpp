#include "smtp/session.hpp"

#include <quillpost/detail/errors.hpp>
#include <quillpost/host_events.hpp>

#include <utility>

namespace quillpost {

namespace {

thread_local Connector t_connector;

}  // namespace

void SetConnectorForThisThread(Connector connector) { t_connector = std::move(connector); }

Session::Session(float timeOut, Trace& trace) : timeOut_(timeOut), trace_(trace) {}

void Session::Open(const std::string& server, std::int16_t port) {
    Close();
    stream_ = t_connector ? t_connector(server, port) : ConnectSocket(server, port);
}

void Session::Close() noexcept {
    pending_.clear();
    replies_.Clear();
    stream_.reset();
}

void Session::Greeting() { server_.greeting = WaitForResponse("220"); }

void Session::Hello(std::string_view domain) {
    Command("HELO " + std::string(domain) + "\r\n");
    server_.hello = WaitForResponse("250");
}

void Session::MailFrom(std::string_view address) {
    Command("MAIL FROM: <" + std::string(address) + ">\r\n");
    WaitForResponse("250");
}

void Session::RcptTo(std::string_view address) {
    Command("RCPT TO: <" + std::string(address) + ">\r\n");
    WaitForResponse("250");
}

void Session::Data() {
    Command("data\r\n");
    WaitForResponse("354");
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

void Session::Command(std::string_view line) {
    // Commands go one at a time, so every reply answers the command before
    // it; a reply already waiting answers nothing the session asked, and
    // taking it for the answer to this command would put the conversation
    // out of step (a server that says "250" before the data has ended).
    // Nothing is read while the data section goes out, so what has arrived
    // meanwhile is taken first.
    if (stream_) stream_->Read(replies_.Buffer());
    if (!replies_.Empty()) RaiseUnexpectedResponse(replies_.TakeAll().text);
    SendText(line);
}

float Session::Elapsed(double start) const { return static_cast<float>(clock_->Seconds() - start); }

void Session::SendText(std::string_view text) {
    trace_.Write("> ", text);
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
        trace_.Write("+ Waiting to send");
        trace_.Flush();
        stream_->WaitWritable(1);
        if (Elapsed(start) > timeOut_) raise(Err::SendTimeout);
        ProcessPendingEvents();
    }
}

void Session::ReadPass() {
    trace_.Flush();
    stream_->WaitReadable(1, trace_.IsOpen() ? &trace_ : nullptr);
    trace_.Write("+ Finished waiting");
    const std::size_t got = stream_->Read(replies_.Buffer());
    if (got > 0 && trace_.IsOpen()) trace_.Write("+ Received ", std::to_string(got) + " bytes");
}

Reply Session::WaitForResponse(std::string_view expected) {
    Flush();
    if (!stream_) raise(Err::UnknownError, "CommWaitForData");
    const double start = clock_->Seconds();

    // Bytes that came with an earlier reply are the beginning of this one.
    while (replies_.Empty()) {
        if (Elapsed(start) > timeOut_) raise(Err::ResponseTimeout);
        ProcessPendingEvents();
        trace_.Write("+ Waiting for data");
        ReadPass();
    }

    // A multi-line reply ends only with its first line that is no
    // continuation line; it is judged once it is whole, or as it stands when
    // the time is up.
    for (;;) {
        std::optional<Reply> reply = replies_.TakeReply();
        if (!reply && replies_.Size() > kReplyLimit) {
            // A server that never ends its reply must not hold unbounded memory.
            const std::string shown = replies_.TakeAll().text.substr(0, kReplyShown);
            trace_.Write("< ", shown);
            raise(Err::UnexpectedResponse, shown);
        }
        if (!reply && Elapsed(start) > timeOut_) reply = replies_.TakeAll();
        if (reply) {
            if (!reply->Is(expected)) RaiseUnexpectedResponse(reply->text);
            trace_.Write("< ", reply->text);
            return std::move(*reply);
        }
        ProcessPendingEvents();
        ReadPass();
    }
}

void Session::RaiseUnexpectedResponse(std::string_view reply) {
    trace_.Write("< ", reply);
    throw ServerReplyError(reply);
}

}  // namespace quillpost
