#include <quillpost/message.hpp>

#include <utility>

namespace quillpost {

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

namespace {

template <class T>
std::shared_ptr<T> CreateOnFirstUse(std::shared_ptr<T>& slot) {
    if (!slot) slot = std::make_shared<T>();
    return slot;
}

}  // namespace

std::shared_ptr<Recipients> Message::Recipients() { return CreateOnFirstUse(recipients_); }
std::shared_ptr<Recipients> Message::CCs() { return CreateOnFirstUse(ccs_); }
std::shared_ptr<Recipients> Message::BCCs() { return CreateOnFirstUse(bccs_); }
std::shared_ptr<Recipients> Message::ReplyTos() { return CreateOnFirstUse(replyTos_); }
std::shared_ptr<Headers> Message::ExtraHeaders() { return CreateOnFirstUse(extraHeaders_); }
std::shared_ptr<Attachments> Message::Attachments() { return CreateOnFirstUse(attachments_); }

}  // namespace quillpost
