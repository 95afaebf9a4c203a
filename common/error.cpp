#include <quillpost/detail/errors.hpp>

#include <array>
#include <exception>
#include <new>
#include <string>
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
    ErrorInfo{Err::NamedArgumentNotFound, 448, "Named argument not found"},
    ErrorInfo{Err::ArgumentNotOptional, 449, "Argument not optional"},
    ErrorInfo{Err::WrongArgumentCount, 450, "Wrong number of arguments or invalid property assignment"},
    ErrorInfo{Err::DuplicateKey, 457, "This key is already associated with an element of this collection"},
    ErrorInfo{Err::UnsupportedVarType, 458, "Variable uses an Automation type not supported"},
    ErrorInfo{Err::ConnectionClosed, 9976, "The connection to the server is closed"},
    ErrorInfo{Err::BlankCredential, 9977, "Login credentials can not be blank: "},
    ErrorInfo{Err::OAuthTokenRequestFailed, 9978, "OAuth token request failed: "},
    ErrorInfo{Err::InvalidHeaderName, 9979, "Header name is not valid: "},
    ErrorInfo{Err::NoStartTls, 9980, "The server does not offer STARTTLS"},
    ErrorInfo{Err::TlsHandshakeFailed, 9981, "TLS handshake failed: "},
    ErrorInfo{Err::CertificateNotTrusted, 9982, "The server's certificate is not trusted: "},
    ErrorInfo{Err::NoUsableAuthMechanism, 9983, "The server offers no authentication mechanism that can be used"},
    ErrorInfo{Err::PlainTextCredentials, 9984, "Credentials are not sent over an unencrypted connection"},
    ErrorInfo{Err::NoSmtpUtf8, 9985, "The server does not accept non-ASCII addresses (SMTPUTF8)"},
    ErrorInfo{Err::InvalidUtf8, 9986, "Text is not valid UTF-8 in "},
    ErrorInfo{Err::HeaderOnlyOnce, 9987, "Header may appear only once: "},
    ErrorInfo{Err::DkimKeyUnusable, 9988, "DKIM key cannot be used: "},
    ErrorInfo{Err::AttachmentChanged, 9989, "An attachment changed while it was being sent: "},
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

// The socket error codes of Windows Sockets and their texts; the transport
// maps the platform's own failures onto these codes.
constexpr std::array kSocketErrors{
    SocketErrorRow{10004, "WSAEINTR", "Interrupted system call."},
    SocketErrorRow{10009, "WSAEBADF", "Bad file number."},
    SocketErrorRow{10013, "WSAEACCES", "Permission Denied."},
    SocketErrorRow{10014, "WSAEFAULT", "Bad Address."},
    SocketErrorRow{10022, "WSAEINVAL", "Invalid Argument."},
    SocketErrorRow{10024, "WSAEMFILE", "Too many open files."},
    SocketErrorRow{10035, "WSAEWOULDBLOCK", "Operation would block."},
    SocketErrorRow{10036, "WSAEINPROGRESS", "Operation now in progress."},
    SocketErrorRow{10037, "WSAEALREADY", "Operation already in progress."},
    SocketErrorRow{10038, "WSAENOTSOCK", "Socket operation on nonsocket."},
    SocketErrorRow{10039, "WSAEDESTADDRREQ", "Destination address required."},
    SocketErrorRow{10040, "WSAEMSGSIZE", "Message too long."},
    SocketErrorRow{10041, "WSAEPROTOTYPE", "Protocol wrong type for socket."},
    SocketErrorRow{10042, "WSAENOPROTOOPT", "Protocol not available."},
    SocketErrorRow{10043, "WSAEPROTONOSUPPORT", "Protocol not supported."},
    SocketErrorRow{10044, "WSAESOCKTNOSUPPORT", "Socket type not supported."},
    SocketErrorRow{10045, "WSAEOPNOTSUPP", "Operation not supported on socket."},
    SocketErrorRow{10046, "WSAEPFNOSUPPORT", "Protocol family not supported."},
    SocketErrorRow{10047, "WSAEAFNOSUPPORT", "Address family not supported by protocol family."},
    SocketErrorRow{10048, "WSAEADDRINUSE", "Address already in use."},
    SocketErrorRow{10049, "WSAEADDRNOTAVAIL", "Can't assign requested address."},
    SocketErrorRow{10050, "WSAENETDOWN", "Network is down."},
    SocketErrorRow{10051, "WSAENETUNREACH", "Network is unreachable."},
    SocketErrorRow{10052, "WSAENETRESET", "Network dropped connection."},
    SocketErrorRow{10053, "WSAECONNABORTED", "Software caused connection abort."},
    SocketErrorRow{10054, "WSAECONNRESET", "Connection reset by peer."},
    SocketErrorRow{10055, "WSAENOBUFS", "No buffer space available."},
    SocketErrorRow{10056, "WSAEISCONN", "Socket is already connected."},
    SocketErrorRow{10057, "WSAENOTCONN", "Socket is not connected."},
    SocketErrorRow{10058, "WSAESHUTDOWN", "Can't send after socket shutdown."},
    SocketErrorRow{10059, "WSAETOOMANYREFS", "Too many references: can't splice."},
    SocketErrorRow{10060, "WSAETIMEDOUT", "Connection timed out."},
    SocketErrorRow{10061, "WSAECONNREFUSED", "Connection refused."},
    SocketErrorRow{10062, "WSAELOOP", "Too many levels of symbolic links."},
    SocketErrorRow{10063, "WSAENAMETOOLONG", "File name too long."},
    SocketErrorRow{10064, "WSAEHOSTDOWN", "Host is down."},
    SocketErrorRow{10065, "WSAEHOSTUNREACH", "No route to host."},
    SocketErrorRow{10066, "WSAENOTEMPTY", "Directory not empty."},
    SocketErrorRow{10067, "WSAEPROCLIM", "Too many processes."},
    SocketErrorRow{10068, "WSAEUSERS", "Too many users."},
    SocketErrorRow{10069, "WSAEDQUOT", "Disk quota exceeded."},
    SocketErrorRow{10070, "WSAESTALE", "Stale NFS file handle."},
    SocketErrorRow{10071, "WSAEREMOTE", "Too many levels of remote in path."},
    SocketErrorRow{10091, "WSASYSNOTREADY", "Network subsystem is unusable."},
    SocketErrorRow{10092, "WSAVERNOTSUPPORTED", "Winsock DLL cannot support this application."},
    SocketErrorRow{10093, "WSANOTINITIALISED", "Winsock not initialized."},
    SocketErrorRow{10101, "WSAEDISCON", "Disconnect."},
    SocketErrorRow{11001, "WSAHOST_NOT_FOUND", "Host not found."},
    SocketErrorRow{11002, "WSATRY_AGAIN", "Nonauthoritative host not found."},
    SocketErrorRow{11003, "WSANO_RECOVERY", "Nonrecoverable error."},
    SocketErrorRow{11004, "WSANO_DATA", "Valid name, no data record of requested type."},
};

// RFC 5321 4.2: a reply code is three digits, the first 2 to 5. The code of
// a refused reply counts only when a blank follows it; anything else (no
// code, a sign, a fourth digit, a hyphen) leaves the reply without one.
std::int32_t ReplyCode(std::string_view reply) {
    if (reply.size() < 4 || reply[3] != ' ') return 0;
    if (reply[0] < '2' || reply[0] > '5') return 0;
    for (std::size_t i = 1; i < 3; ++i)
        if (reply[i] < '0' || reply[i] > '9') return 0;
    return (reply[0] - '0') * 100 + (reply[1] - '0') * 10 + (reply[2] - '0');
}

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

Error ServerReplyError(std::string_view reply) {
    const std::int32_t code = ReplyCode(reply);
    if (code != 0) return Error(9000 + code, std::string(reply.substr(4)));
    return make_error(Err::UnexpectedResponse, reply);
}

std::span<const SocketErrorRow> SocketErrorTable() noexcept { return kSocketErrors; }

std::string_view SocketErrorText(std::int32_t code) noexcept {
    for (const auto& row : kSocketErrors)
        if (row.code == code) return row.text;
    return {};
}

Error SocketError(std::int32_t code, std::string_view operation, bool named) {
    const ErrorInfo& unknown = error_info(Err::UnknownError);
    std::string text;
    if (named) {
        text.assign(operation);
        text += ": ";
    }
    if (code == 0) {
        text += unknown.description;
        text += operation;
        return Error(unknown.number, std::move(text));
    }
    text += SocketErrorText(code);
    return Error(code, std::move(text));
}

Error ErrorFromCurrentException() {
    try {
        throw;
    } catch (const Error& e) {
        // 0 means "nothing failed" to every caller that looks at numbers.
        if (e.number() == 0) return make_error(Err::InternalError, "error 0: " + e.description());
        return e;
    } catch (const std::bad_alloc&) {
        return make_error(Err::OutOfMemory);
    } catch (const std::exception& e) {
        return make_error(Err::InternalError, e.what());
    } catch (...) {
        return make_error(Err::InternalError, "an exception of unknown type");
    }
}

}  // namespace quillpost
