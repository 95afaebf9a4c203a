#include <quillpost/detail/errors.hpp>
#include <quillpost/message.hpp>

#include "mailer/exchange.hpp"
#include "mailer/sending.hpp"
#include "platform/local_time.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <new>
#include <utility>

namespace quillpost {

namespace {

// The domain name sent with HELO: the same for every message.
constexpr std::string_view kHeloDomain = "quillpost.localdomain";

template <class T>
std::shared_ptr<T> CreateOnFirstUse(std::shared_ptr<T>& slot) {
    if (!slot) slot = std::make_shared<T>();
    return slot;
}

thread_local StreamMaker streamMaker;

void SendRecipients(Exchange& exchange, Recipients& list) {
    for (const auto& r : list) {
        exchange.SendHeader("RCPT TO:", "<" + r->Address() + ">");
        exchange.WaitForResponse("250");
    }
}

}  // namespace

Message::Message() : dateTime_(LocalNow()) {}

Message::~Message() = default;

void Message::FromAddress(std::string value) {
    fromAddress_ = std::move(value);
    if (fromName_.empty()) fromName_ = fromAddress_;
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

void SetStreamMakerForThisThread(StreamMaker maker) { streamMaker = std::move(maker); }

std::string BoundaryClockText(float seconds) {
    // At most seven significant digits, never an exponent.
    int integerDigits = 1;
    for (double limit = 10; std::fabs(seconds) >= limit && integerDigits < 7; limit *= 10) ++integerDigits;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", 7 - integerDigits, static_cast<double>(seconds));
    std::string out(text);
    if (out.find('.') != std::string::npos) {
        while (out.back() == '0') out.pop_back();
        if (out.back() == '.') out.pop_back();
    }
    for (char& c : out)
        if (c == '.') c = '_';
    return out;
}

void Message::send() {
    // Refused before anything is opened or traced.
    CheckSender(fromAddress_);
    CheckLineBreaks(*this);

    Exchange exchange(timeOut_, streamMaker ? streamMaker() : nullptr);
    std::int32_t number = 0;
    std::string description;
    bool accepted = false;
    try {
        mvarAltBoundary = "--QP_AltBoundary_" + BoundaryClockText(static_cast<float>(SecondsSinceLocalMidnight()));
        mvarMixBoundary = "--QP_MixBoundary_" + BoundaryClockText(static_cast<float>(SecondsSinceLocalMidnight()));
        exchange.OpenTrace(traceFile_);
        exchange.WriteTrace("+ Connecting to server " + server_ + " at port " + std::to_string(port_));
        exchange.Open(server_, port_);
        exchange.WaitForResponse("220");
        exchange.SendText("HELO " + std::string(kHeloDomain) + "\r\n");
        exchange.WaitForResponse("250");
        exchange.SendHeader("MAIL FROM:", "<" + fromAddress_ + ">");
        exchange.WaitForResponse("250");
        exchange.WriteTrace("+ Sending recipient addresses ");
        SendRecipients(exchange, *Recipients());
        SendRecipients(exchange, *CCs());
        SendRecipients(exchange, *BCCs());
        exchange.WriteTrace("+ Sending message headers");
        exchange.SendText("data\r\n");
        exchange.WaitForResponse("354");
        SendHeaderBlock(*this, exchange);
        exchange.WriteTrace("+ Sending message body");
        SendMimeBody(*this, exchange, MimeLayout{mvarContentType, mvarCharset, mvarMixBoundary, mvarAltBoundary});
        exchange.WriteTrace("+ Sending attachments");
        const auto attachments = Attachments();
        for (const auto& a : *attachments) SendAttachment(exchange, a->FileName(), mvarMixBoundary);
        if (attachments->Count() > 0) exchange.SendText("--" + mvarMixBoundary + "--\r\n");
        exchange.SendText("\r\n");
        exchange.SendText(".\r\n");
        exchange.WaitForResponse("250");
        accepted = true;
        exchange.SendText("quit\r\n");
        exchange.Flush();
    } catch (const Error& e) {
        number = e.number();
        description = e.description();
    } catch (const std::bad_alloc&) {
        const Error e = make_error(Err::OutOfMemory);
        number = e.number();
        description = e.description();
    } catch (const std::exception& e) {
        const Error wrapped = make_error(Err::InternalError, e.what());
        number = wrapped.number();
        description = wrapped.description();
    }

    // The exit sequence: close, trace the failure, close the trace, raise.
    if (exchange.Connected()) exchange.Close();
    if (number != 0 && accepted) {
        // The server has the message: a failure while saying goodbye is
        // recorded, not raised, so that no caller sends the message twice.
        exchange.WriteTrace("+ Ignored after the message was accepted: error " + std::to_string(number) + ": " +
                            description);
        number = 0;
    }
    if (number != 0) {
        exchange.WriteTrace("+ Error " + std::to_string(number) + ": " + description);
        exchange.CloseTrace();
        throw Error(number, std::move(description));
    }
    try {
        exchange.CloseTrace();
    } catch (const Error&) {
        // Only reached after the server accepted the message (see above);
        // the trace is incomplete, the message is delivered.
    }
}

}  // namespace quillpost
