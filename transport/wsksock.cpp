#include "transport/wsksock.hpp"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace quillpost {

namespace {

// The socket error codes and their texts, with the platform's errors of the
// same meaning. EBADF sits with 10038: on a socket it means that the handle
// is no socket, which is what 10038 says; 10009 is then left for the
// library's own use. A write to a connection that the server has torn down
// fails with EPIPE here and with 10054 under Windows Sockets.
constexpr SocketErrorRow kSocketErrors[] = {
    {10004, "WSAEINTR", "Interrupted system call.", {EINTR}, {}},
    {10009, "WSAEBADF", "Bad file number.", {}, {}},
    {10013, "WSAEACCES", "Permission Denied.", {EACCES, EPERM}, {}},
    {10014, "WSAEFAULT", "Bad Address.", {EFAULT}, {}},
    {10022, "WSAEINVAL", "Invalid Argument.", {EINVAL}, {}},
    {10024, "WSAEMFILE", "Too many open files.", {EMFILE, ENFILE}, {}},
    {10035, "WSAEWOULDBLOCK", "Operation would block.", {EWOULDBLOCK, EAGAIN}, {}},
    {10036, "WSAEINPROGRESS", "Operation now in progress.", {EINPROGRESS}, {}},
    {10037, "WSAEALREADY", "Operation already in progress.", {EALREADY}, {}},
    {10038, "WSAENOTSOCK", "Socket operation on nonsocket.", {ENOTSOCK, EBADF, ENOTTY}, {}},
    {10039, "WSAEDESTADDRREQ", "Destination address required.", {EDESTADDRREQ}, {}},
    {10040, "WSAEMSGSIZE", "Message too long.", {EMSGSIZE}, {}},
    {10041, "WSAEPROTOTYPE", "Protocol wrong type for socket.", {EPROTOTYPE}, {}},
    {10042, "WSAENOPROTOOPT", "Protocol not available.", {ENOPROTOOPT}, {}},
    {10043, "WSAEPROTONOSUPPORT", "Protocol not supported.", {EPROTONOSUPPORT}, {}},
    {10044, "WSAESOCKTNOSUPPORT", "Socket type not supported.", {ESOCKTNOSUPPORT}, {EAI_SOCKTYPE}},
    {10045, "WSAEOPNOTSUPP", "Operation not supported on socket.", {EOPNOTSUPP, ENOTSUP}, {}},
    {10046, "WSAEPFNOSUPPORT", "Protocol family not supported.", {EPFNOSUPPORT}, {}},
    {10047, "WSAEAFNOSUPPORT", "Address family not supported by protocol family.", {EAFNOSUPPORT}, {EAI_FAMILY}},
    {10048, "WSAEADDRINUSE", "Address already in use.", {EADDRINUSE}, {}},
    {10049, "WSAEADDRNOTAVAIL", "Can't assign requested address.", {EADDRNOTAVAIL}, {}},
    {10050, "WSAENETDOWN", "Network is down.", {ENETDOWN}, {}},
    {10051, "WSAENETUNREACH", "Network is unreachable.", {ENETUNREACH}, {}},
    {10052, "WSAENETRESET", "Network dropped connection.", {ENETRESET}, {}},
    {10053, "WSAECONNABORTED", "Software caused connection abort.", {ECONNABORTED}, {}},
    {10054, "WSAECONNRESET", "Connection reset by peer.", {ECONNRESET, EPIPE}, {}},
    {10055, "WSAENOBUFS", "No buffer space available.", {ENOBUFS, ENOMEM}, {EAI_MEMORY}},
    {10056, "WSAEISCONN", "Socket is already connected.", {EISCONN}, {}},
    {10057, "WSAENOTCONN", "Socket is not connected.", {ENOTCONN}, {}},
    {10058, "WSAESHUTDOWN", "Can't send after socket shutdown.", {ESHUTDOWN}, {}},
    {10059, "WSAETOOMANYREFS", "Too many references: can't splice.", {ETOOMANYREFS}, {}},
    {10060, "WSAETIMEDOUT", "Connection timed out.", {ETIMEDOUT}, {}},
    {10061, "WSAECONNREFUSED", "Connection refused.", {ECONNREFUSED}, {}},
    {10062, "WSAELOOP", "Too many levels of symbolic links.", {ELOOP}, {}},
    {10063, "WSAENAMETOOLONG", "File name too long.", {ENAMETOOLONG}, {}},
    {10064, "WSAEHOSTDOWN", "Host is down.", {EHOSTDOWN}, {}},
    {10065, "WSAEHOSTUNREACH", "No route to host.", {EHOSTUNREACH}, {}},
    {10066, "WSAENOTEMPTY", "Directory not empty.", {ENOTEMPTY}, {}},
    {10067, "WSAEPROCLIM", "Too many processes.", {}, {}},
    {10068, "WSAEUSERS", "Too many users.", {EUSERS}, {}},
    {10069, "WSAEDQUOT", "Disk quota exceeded.", {EDQUOT}, {}},
    {10070, "WSAESTALE", "Stale NFS file handle.", {ESTALE}, {}},
    {10071, "WSAEREMOTE", "Too many levels of remote in path.", {EREMOTE}, {}},
    {10091, "WSASYSNOTREADY", "Network subsystem is unusable.", {}, {}},
    {10092, "WSAVERNOTSUPPORTED", "Winsock DLL cannot support this application.", {}, {}},
    {10093, "WSANOTINITIALISED", "Winsock not initialized.", {}, {}},
    {10101, "WSAEDISCON", "Disconnect.", {}, {}},
    {11001, "WSAHOST_NOT_FOUND", "Host not found.", {}, {EAI_NONAME}},
    {11002, "WSATRY_AGAIN", "Nonauthoritative host not found.", {}, {EAI_AGAIN}},
    {11003, "WSANO_RECOVERY", "Nonrecoverable error.", {}, {EAI_FAIL, EAI_BADFLAGS, EAI_SERVICE}},
    {11004, "WSANO_DATA", "Valid name, no data record of requested type.", {}, {EAI_NODATA, EAI_ADDRFAMILY}},
};

thread_local std::int32_t t_lastError = 0;

std::atomic<std::int32_t> g_startups{0};

bool Holds(const int (&values)[3], int value) {
    for (int v : values)
        if (v != 0 && v == value) return true;
    return false;
}

}  // namespace

std::span<const SocketErrorRow> SocketErrorTable() { return kSocketErrors; }

std::int32_t SocketErrorFromErrno(int err) {
    if (err == 0) return 0;
    for (const auto& row : kSocketErrors)
        if (Holds(row.errnos, err)) return row.code;
    return 0;
}

std::int32_t SocketErrorFromLookup(int result, int err) {
    if (result == 0) return 0;
    if (result == EAI_SYSTEM) return SocketErrorFromErrno(err);
    for (const auto& row : kSocketErrors)
        if (Holds(row.lookups, result)) return row.code;
    return 0;
}

void RecordSocketError(std::int32_t code) { t_lastError = code; }

void RecordErrno(int err) { t_lastError = SocketErrorFromErrno(err); }

std::int32_t LastSocketError() { return t_lastError; }

std::string SocketErrorText(std::int32_t code) {
    for (const auto& row : kSocketErrors)
        if (row.code == code) return std::string(row.text);
    return {};
}

std::uint32_t ResolveHost(const std::string& host) {
    const in_addr_t parsed = ::inet_addr(host.c_str());
    if (parsed != INADDR_NONE) {
        RecordSocketError(0);
        return parsed;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (result != 0 || found == nullptr) {
        RecordSocketError(SocketErrorFromLookup(result, errno));
        return INADDR_NONE;
    }
    // Only the first address is ever used; when it refuses, the open fails.
    std::uint32_t address = INADDR_NONE;
    if (found->ai_addr != nullptr && found->ai_addrlen >= sizeof(sockaddr_in))
        address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    RecordSocketError(0);
    return address;
}

std::int32_t SocketStartup() {
    g_startups.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void SocketCleanup() {
    std::int32_t count = g_startups.load(std::memory_order_relaxed);
    // A clean-up without its start-up must not drive the count below zero.
    while (count > 0 &&
           !g_startups.compare_exchange_weak(count, count - 1, std::memory_order_relaxed)) {
    }
}

std::int32_t SocketStartupCount() { return g_startups.load(std::memory_order_relaxed); }

}  // namespace quillpost
