#include "transport/comm.hpp"

#include "transport/wsksock.hpp"

#include <quillpost/detail/errors.hpp>
#include <quillpost/error.hpp>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace quillpost {

namespace {

constexpr std::int32_t kWouldBlock = 10035;
constexpr std::int32_t kReceiveBuffer = 2048;

// Raises the recorded socket error of `operation`: its code and text, or
// 9999 naming the operation when no code was recorded; when `named`, the
// description begins with the operation's name.
[[noreturn]] void RaiseSocketError(std::int32_t code, std::string_view operation, bool named = false) {
    throw SocketError(code, operation, named);
}

// One readiness check of `fd` for reading or writing, bounded by `seconds`:
// 1 when ready, 0 when the time passed, -1 with the error recorded. Handles
// that select cannot hold (FD_SETSIZE and above) are asked through poll,
// which answers the same question.
int WaitReady(std::int32_t fd, bool forWrite, std::int16_t seconds) {
    // Windows Sockets refuses a readiness check of anything but a socket;
    // select here would wait on a file, or on some platforms pass over a
    // closed handle in silence, so the handle is looked at first.
    int type = 0;
    socklen_t length = sizeof type;
    if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0) {
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

// The blocking connect. A signal that interrupts it leaves the connection
// going on by itself, so its outcome is then awaited rather than asked for
// a second time.
bool ConnectBlocking(int fd, const sockaddr_in& address) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        RecordSocketError(0);
        return true;
    }
    if (errno != EINTR) {
        RecordErrno(errno);
        return false;
    }
    pollfd entry{fd, POLLOUT, 0};
    while (::poll(&entry, 1, -1) < 0) {
        if (errno != EINTR) {
            RecordErrno(errno);
            return false;
        }
    }
    int failure = 0;
    socklen_t length = sizeof failure;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) failure = errno;
    RecordErrno(failure);
    return failure == 0;
}

// Steps 3 to 7 of an open: resolve, create, connect, switch to non-blocking.
// False with the code recorded when a step fails; `conn` then holds the
// socket if one was made.
bool Connect(std::int32_t& conn, const std::string& host, std::int16_t port) {
    const std::uint32_t address = ResolveHost(host);
    if (address == INADDR_NONE) return false;

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        RecordErrno(errno);
        return false;
    }
    conn = fd;

    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port));
    target.sin_addr.s_addr = address;
    if (!ConnectBlocking(fd, target)) return false;

    int on = 1;
    if (::ioctl(fd, FIONBIO, &on) != 0) {
        RecordErrno(errno);
        return false;
    }
    RecordSocketError(0);
    return true;
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

void CommOpen(std::int32_t& conn, const std::string& host, std::int16_t port) {
    conn = -1;
    std::int32_t code = SocketStartup();
    const bool started = code == 0;
    if (started) {
        if (Connect(conn, host, port)) return;
        code = LastSocketError();
    }
    // Everything that the open acquired is released before the error leaves.
    if (conn != -1) {
        ::close(conn);
        conn = -1;
    }
    if (started) SocketCleanup();
    RaiseSocketError(code, "CommOpen");
}

void CommClose(std::int32_t& conn) {
    ::close(conn);
    SocketCleanup();
}

void CommTrace(std::string_view line, TraceSink* trace) {
    if (trace != nullptr) trace->TraceLine(line);
}

void CommWaitForData(std::int32_t& conn, std::int16_t seconds, TraceSink* trace) {
    try {
        if (trace != nullptr)
            CommTrace("+ CommWaitForData called with mvarConn = " + std::to_string(conn), trace);
        CommTrace("+ Calling WSASelect", trace);
        const int result = WaitReady(conn, false, seconds);
        const std::int32_t code = result == -1 ? LastSocketError() : 0;
        if (trace != nullptr)
            CommTrace("+ Returned from WSASelect with " + std::to_string(result), trace);
        if (result != -1) return;

        if (trace != nullptr)
            CommTrace("+ Error " + std::to_string(code) + " while calling WSASelect", trace);
        const std::string text(SocketErrorText(code));
        if (trace != nullptr) CommTrace("+ Retrieved error description: " + text, trace);
        RaiseSocketError(code, "CommWaitForData");
    } catch (const Error& error) {
        if (trace != nullptr)
            CommTrace("+ Exception raised: " + std::to_string(error.number()), trace);
        throw Error(error.number(), "CommWaitForData: " + error.description());
    }
}

std::int32_t CommWaitToSend(std::int32_t& conn, std::int16_t seconds) {
    const int result = WaitReady(conn, true, seconds);
    if (result == -1) RaiseSocketError(LastSocketError(), "CommWaitToSend");
    return result;
}

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

std::size_t CommSendSome(std::int32_t& conn, std::string_view text) {
    if (text.empty()) return 0;
    const ssize_t put = SendOnce(conn, text.data(), text.size());
    if (put >= 0) return static_cast<std::size_t>(put);
    const std::int32_t code = LastSocketError();
    if (code == kWouldBlock) return 0;
    RaiseSocketError(code, "CommSendData");
}

bool CommSendData(std::int32_t& conn, std::string_view text, const RestRefusedHook& restRefused) {
    if (text.empty()) return true;
    std::size_t put = CommSendSome(conn, text);
    if (put == 0) return false;

    // Part of the text has gone: the rest must follow, since the caller would
    // otherwise send the whole text a second time.
    text.remove_prefix(put);
    while (!text.empty()) {
        put = CommSendSome(conn, text);
        if (put > 0) {
            text.remove_prefix(put);
            continue;
        }
        if (restRefused) restRefused();
        CommWaitToSend(conn, 1);
    }
    return true;
}

}  // namespace quillpost
