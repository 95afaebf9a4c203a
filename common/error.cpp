#include <quillpost/error.hpp>

#include <array>
#include <utility>

namespace quillpost {

Error::Error(std::int32_t number, std::string description)
    : number_(number), description_(std::move(description)) {}

namespace {

// One row per error; the descriptions are the texts automation clients know.
constexpr std::array kErrors{
    ErrorInfo{Err::InvalidProcedureCall, 5, "Invalid procedure call or argument"},
    ErrorInfo{Err::Overflow, 6, "Overflow"},
    ErrorInfo{Err::OutOfMemory, 7, "Out of memory"},
    ErrorInfo{Err::SubscriptOutOfRange, 9, "Subscript out of range"},
    ErrorInfo{Err::TypeMismatch, 13, "Type mismatch"},
    ErrorInfo{Err::InternalError, 51, "Internal error: "},
    ErrorInfo{Err::FileNotFound, 53, "File not found"},
    ErrorInfo{Err::DeviceIOError, 57, "Device I/O error"},
    ErrorInfo{Err::DiskFull, 61, "Disk full"},
    ErrorInfo{Err::PermissionDenied, 70, "Permission denied"},
    ErrorInfo{Err::PathFileAccessError, 75, "Path/File access error"},
    ErrorInfo{Err::PathNotFound, 76, "Path not found"},
    ErrorInfo{Err::InvalidUseOfNull, 94, "Invalid use of Null"},
    ErrorInfo{Err::ObjectRequired, 424, "Object required"},
    ErrorInfo{Err::NoSuchMember, 438, "Object doesn't support this property or method"},
    ErrorInfo{Err::ArgumentNotOptional, 449, "Argument not optional"},
    ErrorInfo{Err::WrongArgumentCount, 450, "Wrong number of arguments or invalid property assignment"},
    ErrorInfo{Err::DuplicateKey, 457, "This key is already associated with an element of this collection"},
    ErrorInfo{Err::InvalidPriority, 9990, "Invalid Priority setting."},
    ErrorInfo{Err::BlankFromAddress, 9991, "FromAddress can not be blank"},
    ErrorInfo{Err::ForeignSender, 9992,
              "This Quillpost configuration requires that FromAddress be set to an address from the domain "},
    ErrorInfo{Err::LineBreakNotAllowed, 9993, "Line break not allowed in "},
    ErrorInfo{Err::BlankAttachmentName, 9994, "Attachment file name can not be blank"},
    ErrorInfo{Err::BlankRecipient, 9995, "Recipient address can not be blank"},
    ErrorInfo{Err::BlankHeaderValue, 9996, "Message header value can not be blank"},
    ErrorInfo{Err::BlankHeaderName, 9997, "Message header name can not be blank"},
    ErrorInfo{Err::SendTimeout, 9997, "Timeout error while waiting to send data"},
    ErrorInfo{Err::ResponseTimeout, 9998, "Timeout error while waiting for response from server"},
    ErrorInfo{Err::UnexpectedResponse, 9999, "Unexpected response from server: "},
    ErrorInfo{Err::UnknownError, 9999, "Unknown error occurred in "},
};

}  // namespace

const ErrorInfo& error_info(Err id) noexcept {
    for (const auto& row : kErrors)
        if (row.id == id) return row;
    return kErrors[0];  // unreachable: every identifier has its row
}

Error make_error(Err id, std::string_view detail) {
    const ErrorInfo& info = error_info(id);
    std::string text(info.description);
    text.append(detail);
    return Error(info.number, std::move(text));
}

void raise(Err id, std::string_view detail) { throw make_error(id, detail); }

}  // namespace quillpost
