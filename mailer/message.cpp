#include <quillpost/detail/date.hpp>
#include <quillpost/detail/errors.hpp>
#include <quillpost/message.hpp>

#include "mailer/header_block.hpp"
#include "mailer/mime_writer.hpp"
#include "mailer/snapshot.hpp"
#include "platform/local_time.hpp"
#include "smtp/data_stream.hpp"
#include "smtp/session.hpp"
#include "smtp/trace.hpp"

#include <cmath>
#include <optional>
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
    const Snapshot m = TakeSnapshot(*this);
    CheckLineBreaks(m);

    Trace trace;
    Session session(m.timeOut, trace);
    std::optional<Error> failure;
    bool accepted = false;
    try {
        trace.Open(m.traceFile);
        trace.Write("+ Connecting to server " + m.server + " at port " + std::to_string(m.port));
        session.Open(m.server, m.port);
        session.Greeting();
        session.Hello(kHeloDomain);
        session.MailFrom(m.fromAddress);
        trace.Write("+ Sending recipient addresses ");
        for (const auto* list : {&m.recipients, &m.ccs, &m.bccs})
            for (const auto& r : *list) session.RcptTo(r.address);
        trace.Write("+ Sending message headers");
        session.Data();

        DataStream data(session);
        MimeWriter mime(data);
        WriteHeaderBlock(m, data);
        trace.Write("+ Sending message body");
        mime.WriteBodies(m.textBody, m.htmlBody, !m.attachments.empty());
        trace.Write("+ Sending attachments");
        for (const auto& a : m.attachments) mime.WriteAttachment(a);
        mime.Close();
        data.End();
        accepted = true;
        session.Quit();
    } catch (...) {
        failure = ErrorFromCurrentException();
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
