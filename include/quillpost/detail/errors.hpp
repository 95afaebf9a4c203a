// The table of the component's own error numbers with their exact
// descriptions, and the functions that make every error the component
// raises: from the table, from a server's refused reply, from a socket code.
// Installed because inline code of the public headers raises errors; not
// part of the interface.
#pragma once

#include <quillpost/error.hpp>

#include <cstdint>
#include <span>
#include <string_view>

namespace quillpost {

// The errors the component raises itself. Several share a number (9997 and
// 9999 mean different things); the identifier tells them apart.
enum class Err {
    InvalidProcedureCall,   //    5 key not found, bad argument
    Overflow,               //    6 a number outside its range (Port)
    OutOfMemory,            //    7
    SubscriptOutOfRange,    //    9 a collection position outside 1..Count
    TypeMismatch,           //   13 a value of the wrong kind
    InternalError,          //   51 followed by what went wrong; never expected
    FileNotFound,           //   53 file layer: no such file
    DeviceIOError,          //   57 file layer: a read or write failed
    DiskFull,               //   61 file layer: no room left
    PermissionDenied,       //   70 file layer: not allowed
    PathFileAccessError,    //   75 file layer: a folder or other non-file
    PathNotFound,           //   76 file layer: no such folder
    InvalidUseOfNull,       //   94 the null value where text is needed
    ObjectRequired,         //  424 a value that is no object where one is needed
    NoSuchMember,           //  438 late binding: unknown member
    NamedArgumentNotFound,  //  448 late binding: a named argument the member lacks, or one given twice
    ArgumentNotOptional,    //  449 a required argument left out
    WrongArgumentCount,     //  450
    DuplicateKey,           //  457 a header name present already
    UnsupportedVarType,     //  458 late binding: a variant of a shape no conversion reads
    ConnectionClosed,       // 9976 Connection::Send on a closed connection
    BlankCredential,        // 9977 followed by the blank one (UserName, Password)
    OAuthTokenRequestFailed,  // 9978 followed by the endpoint's answer or the transport reason
    InvalidHeaderName,      // 9979 followed by the name
    NoStartTls,             // 9980 STARTTLS required, not offered (or EHLO refused)
    TlsHandshakeFailed,     // 9981 followed by the reason
    CertificateNotTrusted,  // 9982 followed by the reason
    NoUsableAuthMechanism,  // 9983 credentials set, no mechanism to use them
    PlainTextCredentials,   // 9984 credentials would go over a plain connection
    NoSmtpUtf8,             // 9985 a non-ASCII address, the server lacks SMTPUTF8
    InvalidUtf8,            // 9986 followed by the property's name
    HeaderOnlyOnce,         // 9987 followed by the header's name
    DkimKeyUnusable,        // 9988 followed by the reason, naming the file
    AttachmentChanged,      // 9989 followed by the attachment's path
    InvalidPriority,        // 9990 Priority outside QP_PRIORITY
    BlankFromAddress,       // 9991 send without a sender
    ForeignSender,          // 9992 followed by the server's name
    LineBreakNotAllowed,    // 9993 followed by the property's name
    BlankAttachmentName,    // 9994
    BlankRecipient,         // 9995
    BlankHeaderValue,       // 9996
    BlankHeaderName,        // 9997
    SendTimeout,            // 9997 the server took no data within TimeOut
    ResponseTimeout,        // 9998 the server sent no reply within TimeOut
    UnexpectedResponse,     // 9999 followed by the reply
    UnknownError,           // 9999 followed by the operation's name
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

// The error for a reply the conversation did not expect: 9000 + its code
// with the rest of the reply after the blank that follows the code as
// description, or 9999 "Unexpected response from server: " and the whole
// reply when it does not begin with a reply code (a digit 2 to 5, two more
// digits) and a blank. Never 0 or any number other than these.
Error ServerReplyError(std::string_view reply);

// The error for a socket failure of `operation`: the socket code with its
// text, or 9999 "Unknown error occurred in " and the operation's name when
// no code was recorded (0). When `named`, the description begins with the
// operation's name and ": " ("CommGetData: Connection reset by peer.").
Error SocketError(std::int32_t code, std::string_view operation, bool named = false);

// The text of a socket error code, with its final full stop; empty for a
// code that the table lacks.
std::string_view SocketErrorText(std::int32_t code) noexcept;

// One row of the socket error table: the code, its Windows Sockets name and
// its text.
struct SocketErrorRow {
    std::int32_t code;
    std::string_view name;
    std::string_view text;
};

// The whole table, in the order of the codes.
std::span<const SocketErrorRow> SocketErrorTable() noexcept;

}  // namespace quillpost
