#include "transport/comm.hpp"
#include "transport/comm_system.hpp"

#include "transport/wsksock.hpp"

#include <quillpost/detail/errors.hpp>
#include <quillpost/error.hpp>

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>
#include <cstring>

namespace quillpost {

namespace {

constexpr std::int32_t kWouldBlock = 10035;
constexpr std::int32_t kReceiveBuffer = 2048;

// One readiness check of `fd` for reading or writing, bounded by `seconds`:
// 1 when ready, 0 when the time passed, -1 with the error recorded. Handles
// that select cannot hold (FD_SETSIZE and above) are asked through poll,
// which answers the same question.
int WaitReadyImpl(std::int32_t fd, bool forWrite, std::int16_t seconds, bool ownSocket) {
    // Windows Sockets refuses a readiness check of anything but a socket;
    // select here would wait on a file, or on some platforms pass over a
    // closed handle in silence, so a handle from elsewhere is looked at first.
    int type = 0;
    socklen_t length = sizeof type;
    if (fd < 0 || (!ownSocket && ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0)) {
        RecordErrno(fd < 0 ? EBADF : errno);
        return -1;
    }
    int result;
    if (fd < FD_SETSIZE) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval limit{};
        limit.tv_sec = seconds;
        limit.tv_usec = 0;
        result = ::select(fd + 1, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr,
                          &limit);
    } else {
        pollfd entry{fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
        result = ::poll(&entry, 1, seconds < 0 ? 0 : seconds * 1000);
        if (result > 0 && (entry.revents & POLLNVAL) != 0) {
            errno = EBADF;
            result = -1;
        }
    }
    if (result >= 0) {
        RecordSocketError(0);
        return result;
    }
    // A signal of the host ends the wait early; the caller's loop goes on as
    // after any wait that found nothing.
    if (errno == EINTR) {
        RecordSocketError(0);
        return 0;
    }
    RecordErrno(errno);
    return -1;
}

// One address to try, ready for connect().
struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;
};

// Every address of `host` in the resolver's order: a dotted IPv4 address (in
// any of the forms the platform's parser knows), an IPv6 address, bare or in
// brackets, or a name. Empty, with the lookup's error recorded, when there is
// none; the all-ones IPv4 address is never one (the parser's failure value).
std::vector<Endpoint> ResolveAddresses(std::string host, std::int16_t port) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const std::uint16_t networkPort = htons(static_cast<std::uint16_t>(port));
    std::vector<Endpoint> found;
    const auto addIpv4 = [&](std::uint32_t address) {
        Endpoint e;
        auto* v4 = reinterpret_cast<sockaddr_in*>(&e.address);
        v4->sin_family = AF_INET;
        v4->sin_port = networkPort;
        v4->sin_addr.s_addr = address;
        e.length = sizeof(sockaddr_in);
        found.push_back(e);
    };
    const in_addr_t parsed = ::inet_addr(host.c_str());
    if (parsed != INADDR_NONE) {
        RecordSocketError(0);
        addIpv4(parsed);
        return found;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int result = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (result != 0 || list == nullptr) {
        RecordSocketError(SocketErrorFromLookup(result, errno));
        return found;
    }
    for (const addrinfo* at = list; at != nullptr; at = at->ai_next) {
        if (at->ai_family == AF_INET && at->ai_addrlen >= sizeof(sockaddr_in)) {
            const std::uint32_t address = reinterpret_cast<const sockaddr_in*>(at->ai_addr)->sin_addr.s_addr;
            if (address != INADDR_NONE) addIpv4(address);
        } else if (at->ai_family == AF_INET6 && at->ai_addrlen >= sizeof(sockaddr_in6)) {
            Endpoint e;
            std::memcpy(&e.address, at->ai_addr, sizeof(sockaddr_in6));
            reinterpret_cast<sockaddr_in6*>(&e.address)->sin6_port = networkPort;
            e.length = sizeof(sockaddr_in6);
            found.push_back(e);
        }
    }
    ::freeaddrinfo(list);
    RecordSocketError(0);
    return found;
}

// Waits for a connect under way to finish: for at most `milliseconds`, or
// without limit when that is negative. A signal does not cut the wait short.
bool AwaitConnect(int fd, int milliseconds) {
    using Clock = std::chrono::steady_clock;
    pollfd entry{fd, POLLOUT, 0};
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        int left = -1;
        if (milliseconds >= 0) {
            const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            left = rest.count() < 0 ? 0 : static_cast<int>(rest.count());
        }
        const int ready = ::poll(&entry, 1, left);
        if (ready > 0) break;
        if (ready == 0) {
            RecordErrno(ETIMEDOUT);
            return false;
        }
        if (errno != EINTR) {
            RecordErrno(errno);
            return false;
        }
    }
    int failure = 0;
    socklen_t length = sizeof failure;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) failure = errno;
    // A reset means the connection was made and then torn down before this
    // look: connected, as a blocking connect would have said; the reader
    // finds the end.
    if (failure == ECONNRESET) failure = 0;
    RecordErrno(failure);
    return failure == 0;
}

// One attempt: a socket of the address's family, connected within
// `timeOut` seconds (the platform's own limit when 0 or less), left in
// non-blocking mode. False with the code recorded; `fd` then holds the
// socket if one was made.
bool ConnectTo(int& fd, const Endpoint& target, float timeOut) {
    fd = ::socket(target.address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        RecordErrno(errno);
        return false;
    }
    int on = 1;
    if (::ioctl(fd, FIONBIO, &on) != 0) {
        RecordErrno(errno);
        return false;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&target.address), target.length) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            RecordErrno(errno);
            return false;
        }
        const int limit = timeOut > 0 ? static_cast<int>(std::min(timeOut, 2.0e6f) * 1000) : -1;
        if (!AwaitConnect(fd, limit)) return false;
    }
    RecordSocketError(0);
    return true;
}

// Resolve, then try every address in turn until one connects: a relay name
// with several addresses fails over to the next. `conn` holds the connected
// socket; on failure the last attempt's code stays recorded.
bool ConnectImpl(std::int32_t& conn, const std::string& host, std::int16_t port, float timeOut) {
    const std::vector<Endpoint> addresses = ResolveAddresses(host, port);
    for (const Endpoint& target : addresses) {
        int fd = -1;
        if (ConnectTo(fd, target, timeOut)) {
            conn = fd;
            return true;
        }
        const std::int32_t code = LastSocketError();
        if (fd >= 0) ::close(fd);
        RecordSocketError(code);
    }
    return false;
}

// One send call, repeated only when a signal interrupted it. MSG_NOSIGNAL:
// a server that has gone away must fail the send, not end the host process.
ssize_t SendOnce(std::int32_t conn, const char* data, std::size_t size) {
    for (;;) {
        const ssize_t put = ::send(conn, data, size, MSG_NOSIGNAL);
        if (put >= 0) {
            RecordSocketError(0);
            return put;
        }
        if (errno != EINTR) {
            RecordErrno(errno);
            return -1;
        }
    }
}

}  // namespace

std::int32_t CommBytesReceived(std::int32_t& conn) {
    int count = 0;
    if (::ioctl(conn, FIONREAD, &count) != 0) {
        RecordErrno(errno);
        RaiseSocketError(LastSocketError(), "CommBytesReceived", true);
    }
    RecordSocketError(0);
    return count;
}

bool CommPeerHasClosed(std::int32_t& conn) {
    char byte;
    const ssize_t got = ::recv(conn, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void CommGetData(std::int32_t& conn, std::string& text, std::int32_t maximum) {
    // Larger maxima are reduced to the receive buffer; nothing asked for is
    // nothing read.
    const std::int32_t wanted = std::min(maximum, kReceiveBuffer);
    if (wanted <= 0) {
        text.clear();
        return;
    }
    char buffer[kReceiveBuffer];
    ssize_t got;
    do {
        got = ::recv(conn, buffer, static_cast<std::size_t>(wanted), 0);
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        RecordSocketError(0);
        text.assign(buffer, static_cast<std::size_t>(got));
        return;
    }
    // 0 is the server's close, which records no code of its own.
    if (got == 0)
        RecordSocketError(0);
    else
        RecordErrno(errno);
    const std::int32_t code = LastSocketError();
    if (code == kWouldBlock) {
        text.clear();
        return;
    }
    RaiseSocketError(code, "CommGetData", true);
}

namespace comm_system {

int WaitReady(std::int32_t conn, bool forWrite, std::int16_t seconds, bool ownSocket) {
    return WaitReadyImpl(conn, forWrite, seconds, ownSocket);
}

bool Connect(std::int32_t& conn, const std::string& host, std::int16_t port, float timeOut) {
    return ConnectImpl(conn, host, port, timeOut);
}

std::int64_t Send(std::int32_t conn, std::string_view text) { return SendOnce(conn, text.data(), text.size()); }

std::int64_t Receive(std::int32_t conn, char* buffer, std::size_t size) {
    ssize_t got;
    do {
        got = ::recv(conn, buffer, size, MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        RecordErrno(errno);
        return -1;
    }
    RecordSocketError(0);
    return got;
}

void CloseSocket(std::int32_t conn) noexcept { ::close(conn); }

}  // namespace comm_system

}  // namespace quillpost
