// What the Comm operations ask of the system's sockets: one file per system
// answers (comm_posix.cpp, comm_win32.cpp); the operations themselves, their
// trace lines and their errors are written once, in comm.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillpost::comm_system {

// One readiness check of `conn` for reading or writing, bounded by
// `seconds`: 1 when ready, 0 when the time passed, -1 with the error
// recorded. Unless `ownSocket`, a handle that is no socket is refused first.
int WaitReady(std::int32_t conn, bool forWrite, std::int16_t seconds, bool ownSocket);

// Resolves `host` and connects to the first of its addresses that answers,
// each within `timeOut` seconds (the platform's own limit when 0 or less),
// leaving the socket non-blocking. False with the last error recorded;
// `conn` then holds the socket if one was made.
bool Connect(std::int32_t& conn, const std::string& host, std::int16_t port, float timeOut);

// One send of as much of `text` as the socket takes now: the count, or -1
// with the error recorded (10035 when it would block).
std::int64_t Send(std::int32_t conn, std::string_view text);

// One receive of at most `size` bytes into `buffer`, without waiting: the
// count, 0 at the server's close, or -1 with the error recorded (10035 when
// nothing is waiting).
std::int64_t Receive(std::int32_t conn, char* buffer, std::size_t size);

// Closes the socket; never raises.
void CloseSocket(std::int32_t conn) noexcept;

}  // namespace quillpost::comm_system

namespace quillpost {

// Raises the recorded socket error of `operation`: its code and text, or
// 9999 naming the operation when no code was recorded; when `named`, the
// description begins with the operation's name.
[[noreturn]] void RaiseSocketError(std::int32_t code, std::string_view operation, bool named = false);

}  // namespace quillpost
