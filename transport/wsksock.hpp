// WSKSOCK: name resolution, the calling thread's last socket error and the
// English texts of the socket error codes. Errors of the platform's socket
// layer are recorded here as the Windows Sockets codes that every caller of
// the component knows (10061 for a refused connection, 11001 for an unknown
// host, ...), so that no POSIX number ever reaches a caller.
#pragma once

#include <quillpost/detail/errors.hpp>

#include <cstdint>
#include <string>
#include <string_view>

namespace quillpost {

// The address of `host` (a dotted IPv4 address or a name) in network byte
// order, or 0xFFFFFFFF (-1) when it cannot be resolved; the lookup's error
// then stays recorded for LastSocketError.
std::uint32_t ResolveHost(const std::string& host);

// The error code recorded by the calling thread's most recent socket call;
// 0 when that call succeeded.
std::int32_t LastSocketError();

// The code of the table for an errno value, or 0 when none has its meaning.
std::int32_t SocketErrorFromErrno(int err);
// The code of the table for a getaddrinfo result (with errno for
// EAI_SYSTEM), or 0 when none has its meaning.
std::int32_t SocketErrorFromLookup(int result, int err);

// Records the outcome of the calling thread's latest socket call for
// LastSocketError: 0 after a success, else the code of the failure.
void RecordSocketError(std::int32_t code);
// Records the errno of a failed socket call, mapped to its code.
void RecordErrno(int err);

// Library start-up and clean-up. The platform needs neither, but every
// connection still starts the socket library once and its close undoes
// that once, so the count shows any open or close that lost its partner.
// SocketStartup returns 0 or the code of a failed start-up.
std::int32_t SocketStartup();
void SocketCleanup();
// Start-ups not yet undone, over the whole process.
std::int32_t SocketStartupCount();

}  // namespace quillpost
