// Windows Sockets reports the table's own codes: WSAGetLastError and the
// lookup's result pass through unchanged.
#include "transport/wsksock.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cerrno>

namespace quillpost {

namespace {

thread_local std::int32_t t_lastError = 0;

std::atomic<std::int32_t> g_startups{0};

bool IsSocketCode(int code) { return code >= WSABASEERR && code < WSABASEERR + 2000; }

}  // namespace

// A socket code stays itself; the few C library numbers that socket work can
// leave behind are given the code of the same meaning.
std::int32_t SocketErrorFromErrno(int err) {
    if (err == 0) return 0;
    if (IsSocketCode(err)) return err;
    switch (err) {
    case EINTR: return WSAEINTR;
    case EACCES: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: return WSAEMFILE;
    case EBADF: return WSAENOTSOCK;
    case ENOMEM: return WSAENOBUFS;
    default: return 0;
    }
}

std::int32_t SocketErrorFromLookup(int result, int err) {
    if (result == 0) return 0;
    if (IsSocketCode(result)) return result;
    return SocketErrorFromErrno(err);
}

void RecordSocketError(std::int32_t code) { t_lastError = code; }

void RecordErrno(int err) { t_lastError = SocketErrorFromErrno(err); }

std::int32_t LastSocketError() { return t_lastError; }

std::uint32_t ResolveHost(const std::string& host) {
    const unsigned long parsed = ::inet_addr(host.c_str());
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
        RecordSocketError(SocketErrorFromLookup(result, ::WSAGetLastError()));
        return INADDR_NONE;
    }
    std::uint32_t address = INADDR_NONE;
    if (found->ai_addr != nullptr && found->ai_addrlen >= sizeof(sockaddr_in))
        address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    RecordSocketError(0);
    return address;
}

// Every start-up is the system's own, paired with one clean-up; the count
// keeps a clean-up without its start-up from undoing someone else's.
std::int32_t SocketStartup() {
    WSADATA data{};
    const int result = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (result != 0) return result;
    g_startups.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void SocketCleanup() {
    std::int32_t count = g_startups.load(std::memory_order_relaxed);
    while (count > 0) {
        if (g_startups.compare_exchange_weak(count, count - 1, std::memory_order_relaxed)) {
            ::WSACleanup();
            return;
        }
    }
}

std::int32_t SocketStartupCount() { return g_startups.load(std::memory_order_relaxed); }

}  // namespace quillpost
