#include <quillpost/detail/errors.hpp>
#include "mailer/exchange.hpp"

#include <quillpost/error.hpp>
#include <quillpost/host_events.hpp>

#include <charconv>
#include <utility>

namespace quillpost {

namespace {

// A line of a multi-line reply that more lines follow: three digits and a
// hyphen ("250-SIZE 1000000").
bool IsContinuationLine(std::string_view line) {
    return line.size() >= 4 && line[0] >= '0' && line[0] <= '9' && line[1] >= '0' &&
           line[1] <= '9' && line[2] >= '0' && line[2] <= '9' && line[3] == '-';
}

// True once the reply holds a whole line (with its line feed) that is not a
// continuation line. The server may split one reply across several reads,
// so lines are examined as their line feeds arrive; `scanned` is where the
// first line not yet examined begins.
bool ReplyComplete(const std::string& reply, std::size_t& scanned) {
    for (;;) {
        const std::size_t end = reply.find('\n', scanned);
        if (end == std::string::npos) return false;
        const std::string_view line(reply.data() + scanned, end - scanned);
        scanned = end + 1;
        if (!IsContinuationLine(line)) return true;
    }
}

// The code before the first blank of a refused reply: a whole decimal number
// with an optional sign that fits 16 bits, else 0.
std::int16_t ReplyCode(std::string_view text) {
    const bool plus = !text.empty() && text.front() == '+';
    if (plus) text.remove_prefix(1);
    if (text.empty() || text.front() == '+' || (plus && text.front() == '-')) return 0;
    std::int16_t code = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), code);
    if (failure != std::errc() || end != text.data() + text.size()) return 0;
    return code;
}

}  // namespace

Exchange::Exchange(float timeOut, std::unique_ptr<ByteStream> stream)
    : timeOut_(timeOut), stream_(stream ? std::move(stream) : MakeSocketStream()) {}

Exchange::~Exchange() {
    Close();
    try {
        CloseTrace();
    } catch (...) {
        // Nothing can report from here; `send` closes the trace itself.
    }
}

void Exchange::OpenTrace(const std::string& path) {
    if (path.empty()) return;
    // The number is set only once the open has succeeded.
    trace_ = std::make_unique<AppendFile>(path);
}

void Exchange::CloseTrace() {
    if (!trace_) return;
    const std::unique_ptr<AppendFile> file = std::move(trace_);
    file->Close();
}

void Exchange::WriteTrace(std::string_view text) {
    if (trace_) trace_->WriteLine(text);
}

void Exchange::TraceWith(std::string_view prefix, std::string_view text) {
    if (!trace_) return;
    line_.assign(prefix);
    line_.append(text);
    trace_->WriteLine(line_);
}

// Someone following the trace sees each step before the exchange blocks.
void Exchange::FlushTrace() {
    if (trace_) trace_->Flush();
}

void Exchange::Open(const std::string& server, std::int16_t port) {
    pending_.clear();
    stream_->Open(server, port);
}

bool Exchange::Connected() const { return stream_->IsOpen(); }

void Exchange::Close() {
    pending_.clear();
    stream_->Close();
}

float Exchange::Elapsed(double start) const {
    return static_cast<float>(clock_->Seconds() - start);
}

void Exchange::SendText(std::string_view text) {
    TraceWith("> ", text);
    // A text as large as the buffer gains nothing from a copy.
    if (text.size() >= kSendBuffer) {
        Flush();
        Deliver(text);
        return;
    }
    pending_.append(text);
    if (pending_.size() >= kSendBuffer) Flush();
}

void Exchange::SendHeader(std::string_view name, std::string_view value) {
    std::string line(name);
    line += !name.empty() && name.back() == ':' ? " " : ": ";
    line += value;
    line += "\r\n";
    SendText(line);
}

void Exchange::Flush() {
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

void Exchange::Deliver(std::string_view text) {
    const double start = clock_->Seconds();
    // A connection that took part of the text and then refused the rest is
    // waited for like one that refused it all, within the same time limit.
    const std::function<void()> restRefused = [this, start] {
        WriteTrace("+ Waiting to send");
        FlushTrace();
        if (Elapsed(start) > timeOut_) raise(Err::SendTimeout);
        ProcessPendingEvents();
    };
    for (;;) {
        if (stream_->SendData(text, restRefused)) return;
        // A refused write sends nothing, so the whole text is offered again.
        WriteTrace("+ Waiting to send");
        FlushTrace();
        stream_->WaitToSend(1);
        if (Elapsed(start) > timeOut_) raise(Err::SendTimeout);
        ProcessPendingEvents();
    }
}

void Exchange::ReadPass(std::string& reply) {
    FlushTrace();
    stream_->WaitForData(1, trace_.get());
    WriteTrace("+ Finished waiting");
    const std::int32_t count = stream_->BytesReceived();
    if (count < 1) return;
    if (trace_) TraceWith("+ Received ", std::to_string(count) + " bytes");
    stream_->GetData(chunk_);
    reply += chunk_;
}

void Exchange::WaitForResponse(std::string_view expected) {
    Flush();
    std::string reply;
    std::size_t scanned = 0;
    const double start = clock_->Seconds();

    while (reply.empty()) {
        if (Elapsed(start) > timeOut_) raise(Err::ResponseTimeout);
        ProcessPendingEvents();
        WriteTrace("+ Waiting for data");
        ReadPass(reply);
    }

    // The server may split one reply across several reads, and a multi-line
    // reply ends only with its first line that is no continuation line; it is
    // judged once it is whole, or as it stands when the time is up.
    for (;;) {
        const bool complete = ReplyComplete(reply, scanned);
        if (!complete && reply.size() > kReplyLimit) {
            // A server that never ends its reply must not hold unbounded memory.
            const std::string_view shown(reply.data(), kReplyShown);
            TraceWith("< ", shown);
            raise(Err::UnexpectedResponse, shown);
        }
        if (complete || Elapsed(start) > timeOut_) {
            if (reply.starts_with(expected)) {
                TraceWith("< ", reply);
                return;
            }
            RaiseUnexpectedResponse(reply);
        }
        ProcessPendingEvents();
        ReadPass(reply);
    }
}

void Exchange::RaiseUnexpectedResponse(std::string_view reply) {
    TraceWith("< ", reply);
    const std::size_t blank = reply.find(' ');
    const std::int16_t code = blank == std::string_view::npos ? 0 : ReplyCode(reply.substr(0, blank));
    if (code != 0) throw Error(9000 + code, std::string(reply.substr(blank + 1)));
    raise(Err::UnexpectedResponse, reply);
}

}  // namespace quillpost
