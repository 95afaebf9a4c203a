#include "transport/wsksock.hpp"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace quillpost {

namespace {

// The platform's errors that mean what a socket error code of the table
// means. EBADF sits with 10038: on a socket it means that the handle
// is no socket, which is what 10038 says; 10009 is then left for the
// library's own use. A write to a connection that the server has torn down
// fails with EPIPE here and with 10054 under Windows Sockets.
struct PlatformErrors {
    std::int32_t code;
    int errnos[3];
    int lookups[3];
};

constexpr PlatformErrors kSocketErrors[] = {
    {10004, {EINTR}, {}},
    {10009, {}, {}},
    {10013, {EACCES, EPERM}, {}},
    {10014, {EFAULT}, {}},
    {10022, {EINVAL}, {}},
    {10024, {EMFILE, ENFILE}, {}},
    {10035, {EWOULDBLOCK, EAGAIN}, {}},
    {10036, {EINPROGRESS}, {}},
    {10037, {EALREADY}, {}},
    {10038, {ENOTSOCK, EBADF, ENOTTY}, {}},
    {10039, {EDESTADDRREQ}, {}},
    {10040, {EMSGSIZE}, {}},
    {10041, {EPROTOTYPE}, {}},
    {10042, {ENOPROTOOPT}, {}},
    {10043, {EPROTONOSUPPORT}, {}},
    {10044, {ESOCKTNOSUPPORT}, {EAI_SOCKTYPE}},
    {10045, {EOPNOTSUPP, ENOTSUP}, {}},
    {10046, {EPFNOSUPPORT}, {}},
    {10047, {EAFNOSUPPORT}, {EAI_FAMILY}},
    {10048, {EADDRINUSE}, {}},
    {10049, {EADDRNOTAVAIL}, {}},
    {10050, {ENETDOWN}, {}},
    {10051, {ENETUNREACH}, {}},
    {10052, {ENETRESET}, {}},
    {10053, {ECONNABORTED}, {}},
    {10054, {ECONNRESET, EPIPE}, {}},
    {10055, {ENOBUFS, ENOMEM}, {EAI_MEMORY}},
    {10056, {EISCONN}, {}},
    {10057, {ENOTCONN}, {}},
    {10058, {ESHUTDOWN}, {}},
    {10059, {ETOOMANYREFS}, {}},
    {10060, {ETIMEDOUT}, {}},
    {10061, {ECONNREFUSED}, {}},
    {10062, {ELOOP}, {}},
    {10063, {ENAMETOOLONG}, {}},
    {10064, {EHOSTDOWN}, {}},
    {10065, {EHOSTUNREACH}, {}},
    {10066, {ENOTEMPTY}, {}},
    {10067, {}, {}},
    {10068, {EUSERS}, {}},
    {10069, {EDQUOT}, {}},
    {10070, {ESTALE}, {}},
    {10071, {EREMOTE}, {}},
    {10091, {}, {}},
    {10092, {}, {}},
    {10093, {}, {}},
    {10101, {}, {}},
    {11001, {}, {EAI_NONAME}},
    {11002, {}, {EAI_AGAIN}},
    {11003, {}, {EAI_FAIL, EAI_BADFLAGS, EAI_SERVICE}},
    {11004, {}, {EAI_NODATA, EAI_ADDRFAMILY}},
};

thread_local std::int32_t t_lastError = 0;

std::atomic<std::int32_t> g_startups{0};

bool Holds(const int (&values)[3], int value) {
    for (int v : values)
        if (v != 0 && v == value) return true;
    return false;
}

}  // namespace

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
