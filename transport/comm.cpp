// The Comm operations that are the same on every system: opening and
// closing with the socket library's start-up paired, the traced wait for
// data, the wait for room, and sending a whole text.
#include "transport/comm.hpp"

#include "transport/comm_system.hpp"
#include "transport/wsksock.hpp"

#include <quillpost/detail/errors.hpp>

namespace quillpost {

void RaiseSocketError(std::int32_t code, std::string_view operation, bool named) {
    throw SocketError(code, operation, named);
}

void CommOpen(std::int32_t& conn, const std::string& host, std::int16_t port, float timeOut) {
    conn = -1;
    std::int32_t code = SocketStartup();
    const bool started = code == 0;
    if (started) {
        if (comm_system::Connect(conn, host, port, timeOut)) return;
        code = LastSocketError();
    }
    // Everything that the open acquired is released before the error leaves.
    if (conn != -1) {
        comm_system::CloseSocket(conn);
        conn = -1;
    }
    if (started) SocketCleanup();
    RaiseSocketError(code, "CommOpen");
}

void CommClose(std::int32_t& conn) {
    comm_system::CloseSocket(conn);
    SocketCleanup();
}

void CommTrace(std::string_view line, TraceSink* trace) {
    if (trace != nullptr) trace->TraceLine(line);
}

void CommWaitForData(std::int32_t& conn, std::int16_t seconds, TraceSink* trace, bool ownSocket) {
    try {
        if (trace != nullptr)
            CommTrace("+ CommWaitForData called with mvarConn = " + std::to_string(conn), trace);
        CommTrace("+ Calling WSASelect", trace);
        const int result = comm_system::WaitReady(conn, false, seconds, ownSocket);
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

std::int32_t CommWaitToSend(std::int32_t& conn, std::int16_t seconds, bool ownSocket) {
    const int result = comm_system::WaitReady(conn, true, seconds, ownSocket);
    if (result == -1) RaiseSocketError(LastSocketError(), "CommWaitToSend");
    return result;
}

std::size_t CommReceive(std::int32_t& conn, std::string& out, bool& ended) {
    constexpr std::int32_t kWouldBlock = 10035;
    constexpr std::size_t kChunk = 16384;
    char buffer[kChunk];
    std::size_t taken = 0;
    for (;;) {
        const std::int64_t got = comm_system::Receive(conn, buffer, kChunk);
        if (got > 0) {
            out.append(buffer, static_cast<std::size_t>(got));
            taken += static_cast<std::size_t>(got);
            // A full buffer may have left more behind.
            if (static_cast<std::size_t>(got) == kChunk) continue;
            return taken;
        }
        // A reset ends the stream as a close does.
        if (got == 0 || LastSocketError() != kWouldBlock) ended = true;
        return taken;
    }
}

std::size_t CommSendSome(std::int32_t& conn, std::string_view text) {
    constexpr std::int32_t kWouldBlock = 10035;
    if (text.empty()) return 0;
    const std::int64_t put = comm_system::Send(conn, text);
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
