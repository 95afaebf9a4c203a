// Comm: one TCP connection to the SMTP server. The caller holds the handle
// (-1: no connection) and passes it by reference; the operations keep no
// state of their own. Failures are raised as Error with the socket error code
// and its text (WSKSOCK), or 9999 when no code was recorded.
#pragma once

#include "transport/trace_sink.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quillpost {

// Connects to `host` (a name, a dotted IPv4 address, an IPv6 address bare or
// in brackets) at `port` (16 bits, read as unsigned), trying every address
// the name has in the resolver's order, each for at most `timeOut` seconds
// (the platform's own limit when 0 or less); the socket is left in
// non-blocking mode. On failure nothing stays open, `conn` is -1 and the
// last attempt's error is raised.
void CommOpen(std::int32_t& conn, const std::string& host, std::int16_t port, float timeOut = 0);

// Closes the socket and undoes its library start-up; never raises and leaves
// `conn` as it is.
void CommClose(std::int32_t& conn);

// Writes one line to the trace when there is one (`trace` not nullptr).
void CommTrace(std::string_view line, TraceSink* trace);

// Waits up to `seconds` for the connection to become readable (data waiting,
// or the server has closed), tracing its steps. `ownSocket`: the handle is
// one that CommOpen made and that is still open, so the look at what kind of
// handle it is can be passed over.
void CommWaitForData(std::int32_t& conn, std::int16_t seconds, TraceSink* trace, bool ownSocket = false);

// Waits up to `seconds` for room to send: 1 when the connection can take
// data, 0 when the time passed.
std::int32_t CommWaitToSend(std::int32_t& conn, std::int16_t seconds, bool ownSocket = false);

// The number of bytes waiting to be read.
std::int32_t CommBytesReceived(std::int32_t& conn);

// Nothing waiting, yet a look at the stream finds its end (or a reset): the
// server has closed its side. Never raises.
bool CommPeerHasClosed(std::int32_t& conn);

// Appends to `out` everything that has arrived, without waiting: the number
// of bytes, 0 when nothing is waiting. `ended` becomes true once the server
// has closed its side or reset the connection. In the usual case this is one
// call into the system, where a look at the count and a read are two.
std::size_t CommReceive(std::int32_t& conn, std::string& out, bool& ended);

// Reads what has arrived, at most `maximum` bytes (and never more than 2048),
// into `text`; empty when nothing is waiting.
void CommGetData(std::int32_t& conn, std::string& text, std::int32_t maximum = 2048);

// Called while a partly sent text waits for room for its rest, once before
// each one-second wait; it may raise to give up.
using RestRefusedHook = std::function<void()>;

// Hands the connection as much of `text` as it takes in one send: the
// number of bytes sent, 0 when it would block.
std::size_t CommSendSome(std::int32_t& conn, std::string_view text);

// Hands all of `text` to the connection in one send: true when every byte has
// gone, false when the connection would block and nothing was sent. Once part
// has gone the rest follows, waiting for room as long as it takes (each wait
// announced to `restRefused`, which bounds it by raising).
bool CommSendData(std::int32_t& conn, std::string_view text,
                  const RestRefusedHook& restRefused = {});

}  // namespace quillpost
