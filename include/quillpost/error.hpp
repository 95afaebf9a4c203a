// The one exception type of Quillpost, and the table of the component's own
// error numbers with their exact descriptions.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace quillpost {

// Every failure of the component reaches the caller as an Error: a number and
// a description, nothing else.
class Error : public std::exception {
public:
    Error(std::int32_t number, std::string description);

    std::int32_t number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::int32_t number_;
    std::string description_;
};

// The errors the component raises itself. Several share a number (9997 and
// 9999 mean different things); the identifier tells them apart.
enum class Err {
    InvalidProcedureCall,   //    5 key not found, bad argument
    Overflow,               //    6
    OutOfMemory,            //    7
    SubscriptOutOfRange,    //    9
    TypeMismatch,           //   13
    InternalError,          //   51, followed by what went wrong
    FileNotFound,           //   53
    DeviceIOError,          //   57
    DiskFull,               //   61
    PermissionDenied,       //   70
    PathFileAccessError,    //   75
    PathNotFound,           //   76
    InvalidUseOfNull,       //   94
    ObjectRequired,         //  424
    NoSuchMember,           //  438
    ArgumentNotOptional,    //  449
    WrongArgumentCount,     //  450
    DuplicateKey,           //  457
    InvalidPriority,        // 9990
    BlankFromAddress,       // 9991
    ForeignSender,          // 9992, followed by the server's name
    LineBreakNotAllowed,    // 9993, followed by the property's name
    BlankAttachmentName,    // 9994
    BlankRecipient,         // 9995
    BlankHeaderValue,       // 9996
    BlankHeaderName,        // 9997
    SendTimeout,            // 9997
    ResponseTimeout,        // 9998
    UnexpectedResponse,     // 9999, followed by the reply
    UnknownError,           // 9999, followed by the operation's name
};

struct ErrorInfo {
    Err id;
    std::int32_t number;
    std::string_view description;
};

// The number and the fixed description of an error of the table.
const ErrorInfo& error_info(Err id) noexcept;

// Builds the error; `detail` is appended to the fixed description (the
// server's name of 9992, the reply of 9999, ...).
Error make_error(Err id, std::string_view detail = {});

[[noreturn]] void raise(Err id, std::string_view detail = {});

}  // namespace quillpost
