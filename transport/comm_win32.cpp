// Comm over Windows Sockets. The handle the caller holds is the socket,
// which fits the 32-bit number (-1: no connection); error codes come from
// WSAGetLastError and are already the table's.
#include "transport/comm.hpp"
#include "transport/comm_system.hpp"

#include "transport/wsksock.hpp"

#include <quillpost/detail/errors.hpp>
#include <quillpost/error.hpp>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace quillpost {

namespace {

constexpr std::int32_t kWouldBlock = WSAEWOULDBLOCK;
constexpr std::int32_t kReceiveBuffer = 2048;

SOCKET Handle(std::int32_t conn) { return static_cast<SOCKET>(static_cast<std::intptr_t>(conn)); }

void RecordLast() { RecordSocketError(::WSAGetLastError()); }

// One readiness check of `conn` for reading or writing, bounded by `seconds`:
// 1 when ready, 0 when the time passed, -1 with the error recorded.
int WaitReadyImpl(std::int32_t conn, bool forWrite, std::int16_t seconds, bool ownSocket) {
    // select refuses anything but a socket with 10038; the look first gives
    // that code for -1 as well.
    int type = 0;
    int length = sizeof type;
    if (conn < 0 || (!ownSocket && ::getsockopt(Handle(conn), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) != 0)) {
        RecordSocketError(conn < 0 ? WSAENOTSOCK : ::WSAGetLastError());
        return -1;
    }
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Handle(conn), &set);
    timeval limit{};
    limit.tv_sec = seconds < 0 ? 0 : seconds;
    const int result = ::select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &limit);
    if (result >= 0) {
        RecordSocketError(0);
        return result;
    }
    RecordLast();
    return -1;
}

struct Endpoint {
    sockaddr_storage address{};
    int length = 0;
};

// Every address of `host` in the resolver's order, as on other systems.
std::vector<Endpoint> ResolveAddresses(std::string host, std::int16_t port) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const u_short networkPort = htons(static_cast<u_short>(port));
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
    const unsigned long parsed = ::inet_addr(host.c_str());
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
        RecordSocketError(SocketErrorFromLookup(result, ::WSAGetLastError()));
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

// Waits for a connect under way: for at most `milliseconds`, or without
// limit (the system's own) when that is negative. A failed connect shows in
// the exception set, a made one in the write set.
bool AwaitConnect(SOCKET socket, int milliseconds) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval limit{};
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    const int ready = ::select(0, nullptr, &writable, &failed, milliseconds >= 0 ? &limit : nullptr);
    if (ready == 0) {
        RecordSocketError(WSAETIMEDOUT);
        return false;
    }
    if (ready < 0) {
        RecordLast();
        return false;
    }
    int failure = 0;
    int length = sizeof failure;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &length) != 0)
        failure = ::WSAGetLastError();
    // A reset right after the connection was made counts as made; the
    // reader finds the end.
    if (failure == WSAECONNRESET) failure = 0;
    RecordSocketError(failure);
    return failure == 0;
}

bool ConnectTo(SOCKET& socket, const Endpoint& target, float timeOut) {
    socket = ::WSASocketW(target.address.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        RecordLast();
        return false;
    }
    u_long on = 1;
    if (::ioctlsocket(socket, FIONBIO, &on) != 0) {
        RecordLast();
        return false;
    }
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&target.address), target.length) != 0) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) {
            RecordLast();
            return false;
        }
        const int limit = timeOut > 0 ? static_cast<int>(std::min(timeOut, 2.0e6f) * 1000) : -1;
        if (!AwaitConnect(socket, limit)) return false;
    }
    RecordSocketError(0);
    return true;
}

bool ConnectImpl(std::int32_t& conn, const std::string& host, std::int16_t port, float timeOut) {
    const std::vector<Endpoint> addresses = ResolveAddresses(host, port);
    for (const Endpoint& target : addresses) {
        SOCKET socket = INVALID_SOCKET;
        if (ConnectTo(socket, target, timeOut)) {
            conn = static_cast<std::int32_t>(socket);
            return true;
        }
        const std::int32_t code = LastSocketError();
        if (socket != INVALID_SOCKET) ::closesocket(socket);
        RecordSocketError(code);
    }
    return false;
}

int SendOnce(std::int32_t conn, const char* data, std::size_t size) {
    const int chunk = static_cast<int>(std::min<std::size_t>(size, 1u << 30));
    const int put = ::send(Handle(conn), data, chunk, 0);
    if (put == SOCKET_ERROR) {
        RecordLast();
        return -1;
    }
    RecordSocketError(0);
    return put;
}

}  // namespace

std::int32_t CommBytesReceived(std::int32_t& conn) {
    u_long count = 0;
    if (::ioctlsocket(Handle(conn), FIONREAD, &count) != 0) {
        RecordLast();
        RaiseSocketError(LastSocketError(), "CommBytesReceived", true);
    }
    RecordSocketError(0);
    return static_cast<std::int32_t>(count);
}

bool CommPeerHasClosed(std::int32_t& conn) {
    // The socket is non-blocking: a peek finds data, the end, or nothing yet.
    char byte;
    const int got = ::recv(Handle(conn), &byte, 1, MSG_PEEK);
    return got == 0 || (got < 0 && ::WSAGetLastError() != WSAEWOULDBLOCK);
}

void CommGetData(std::int32_t& conn, std::string& text, std::int32_t maximum) {
    const std::int32_t wanted = std::min(maximum, kReceiveBuffer);
    if (wanted <= 0) {
        text.clear();
        return;
    }
    char buffer[kReceiveBuffer];
    const int got = ::recv(Handle(conn), buffer, wanted, 0);
    if (got > 0) {
        RecordSocketError(0);
        text.assign(buffer, static_cast<std::size_t>(got));
        return;
    }
    if (got == 0)
        RecordSocketError(0);
    else
        RecordLast();
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
    // The socket is non-blocking: nothing waiting is WSAEWOULDBLOCK.
    const int got = ::recv(Handle(conn), buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 30)), 0);
    if (got == SOCKET_ERROR) {
        RecordLast();
        return -1;
    }
    RecordSocketError(0);
    return got;
}

void CloseSocket(std::int32_t conn) noexcept { ::closesocket(Handle(conn)); }

}  // namespace comm_system

}  // namespace quillpost
