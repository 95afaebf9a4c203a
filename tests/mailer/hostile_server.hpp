// Hostile servers: at which step of the conversation a server misbehaves,
// how, and what the caller must then see. One table holds every pairing; the
// failure matrix checks each of them once, the leak test repeats the quick
// ones thousands of times.
#pragma once

#include "tests/support/scripted_peer.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quillpost::test {

// Where the server misbehaves: instead of the reply to that step, or (mid
// data) while the client is still sending the message, or (at quit) after
// it has accepted the message.
enum class Step { BeforeGreeting, AfterHelo, AfterMailFrom, AfterRcptTo, AfterData, MidData, AfterEndOfData, AtQuit };
inline constexpr int kSteps = 8;

// How it misbehaves. A stall sends and reads nothing for longer than the
// client waits; a second reply is the right reply followed by one that
// nobody asked for (mid data: a reply that comes before the data has ended);
// an unfinished reply is a continuation line whose final line never comes.
enum class Fault {
    Close, Reset, Stall, NulBytes, NoCode, NegativeCode, FourDigitCode, EndlessLine, SecondReply, WrongCode, Unfinished
};
inline constexpr int kFaults = 11;

// The client's writes in the order of the conversation. After a failure the
// client may write nothing beyond the last one it was entitled to.
enum class Write { Nothing, Helo, MailFrom, RcptTo, DataCommand, Body, EndOfData, Quit };

struct Outcome {
    std::int32_t number;  // the error the caller sees; 0 when send returns
    Write last;           // the last write the client makes
};

namespace outcome {
constexpr Write N = Write::Nothing, H = Write::Helo, M = Write::MailFrom, R = Write::RcptTo, D = Write::DataCommand,
                B = Write::Body, E = Write::EndOfData, Q = Write::Quit;
}  // namespace outcome

// The table, one row per Step and one column per Fault in their order. A
// closed or reset connection leaves the reader seeing nothing more, so a
// close while a reply is awaited ends in 9998 after TimeOut; during the data
// it fails the next write (10054). A server that floods the connection while
// the client is still sending deadlocks both: the client's 9997. An unasked
// reply is refused when the next command is about to go out. An unfinished
// reply is never an answer, even when it begins with the code awaited: 9998.
inline constexpr Outcome kOutcomes[kSteps][kFaults] = {
#define O(n, w) Outcome{n, outcome::w}
    //  Close           Reset           Stall          NUL bytes      no code        negative       four digits    endless line   second reply   wrong code     unfinished
    {O(9998, N),  O(9998, N),  O(9998, N), O(9999, N), O(9999, N), O(9999, N), O(9999, N), O(9999, N), O(9250, N), O(9451, N), O(9998, N)},  // before greeting
    {O(9998, H),  O(9998, H),  O(9998, H), O(9999, H), O(9999, H), O(9999, H), O(9999, H), O(9999, H), O(9250, H), O(9451, H), O(9998, H)},  // after HELO
    {O(9998, M),  O(9998, M),  O(9998, M), O(9999, M), O(9999, M), O(9999, M), O(9999, M), O(9999, M), O(9250, M), O(9451, M), O(9998, M)},  // after MAIL FROM
    {O(9998, R),  O(9998, R),  O(9998, R), O(9999, R), O(9999, R), O(9999, R), O(9999, R), O(9999, R), O(9250, R), O(9451, R), O(9998, R)},  // after RCPT TO
    {O(9998, D),  O(9998, D),  O(9998, D), O(9999, D), O(9999, D), O(9999, D), O(9999, D), O(9999, D), O(9250, B), O(9451, D), O(9998, D)},  // after data
    {O(10054, B), O(10054, B), O(9997, B), O(9999, B), O(9999, B), O(9999, B), O(9999, B), O(9997, B), O(9250, B), O(9451, B), O(9999, B)},  // mid data
    {O(9998, E),  O(9998, E),  O(9998, E), O(9999, E), O(9999, E), O(9999, E), O(9999, E), O(9999, E), O(0, Q),    O(9451, E), O(9998, E)},  // after end of data
    {O(0, Q),     O(0, Q),     O(0, Q),    O(0, Q),    O(0, Q),    O(0, Q),    O(0, Q),    O(0, Q),    O(0, Q),    O(0, Q),    O(0, Q)},     // at quit
#undef O
};

// RFC 5321 4.1.1.10: a refusal with a proper reply code, while the server
// awaits a command, is followed by quit (beyond the last write of the
// table); the error is the refusal's.
inline bool QuitsAfterRefusal(Step step, Fault fault) {
    return fault == Fault::WrongCode && step != Step::MidData && step != Step::AtQuit;
}

inline const Outcome& OutcomeOf(Step step, Fault fault) {
    return kOutcomes[static_cast<int>(step)][static_cast<int>(fault)];
}

inline const char* NameOf(Step step) {
    static const char* const names[] = {"BeforeGreeting", "AfterHelo",   "AfterMailFrom",  "AfterRcptTo",
                                        "AfterData",      "MidData",     "AfterEndOfData", "AtQuit"};
    return names[static_cast<int>(step)];
}

inline const char* NameOf(Fault fault) {
    static const char* const names[] = {"Close",         "Reset",       "Stall",       "NulBytes",  "NoCode",
                                        "NegativeCode", "FourDigitCode", "EndlessLine", "SecondReply", "WrongCode",
                                        "Unfinished"};
    return names[static_cast<int>(fault)];
}

// What the server sends for a fault that sends something.
inline std::string BytesOf(Fault fault) {
    switch (fault) {
    case Fault::NulBytes: return std::string("\0\0\r\n", 4);
    case Fault::NoCode: return "ok\r\n";
    case Fault::NegativeCode: return "-250 ok\r\n";
    case Fault::FourDigitCode: return "2500 ok\r\n";
    case Fault::EndlessLine: return std::string(1 << 20, 'x');
    case Fault::SecondReply: return "250 again\r\n";
    case Fault::WrongCode: return "451 try later\r\n";
    case Fault::Unfinished: return "250-more to come\r\n";
    default: return {};
    }
}

// The reply that a refusal shows: the fault's bytes, cut to their beginning
// when they run past the longest reply the client holds.
inline std::string ShownReply(Fault fault) {
    const std::string bytes = BytesOf(fault);
    return bytes.size() > 64 * 1024 ? bytes.substr(0, 1024) : bytes;
}

// The description the caller sees with `number` for `fault`.
inline std::string DescriptionOf(std::int32_t number, Fault fault) {
    switch (number) {
    case 0: return {};
    case 9997: return "Timeout error while waiting to send data";
    case 9998: return "Timeout error while waiting for response from server";
    case 9999: return "Unexpected response from server: " + ShownReply(fault);
    case 10054: return "Connection reset by peer.";
    default: return ShownReply(fault).substr(4);  // 9000 + code: the text after the code
    }
}

// The session the client holds, and the text in the middle of the large body
// at which the server misbehaves mid data.
inline constexpr const char* kFrom = "ann@example.com";
inline constexpr const char* kTo = "bob@example.com";
inline constexpr const char* kMidDataMarker = "the middle of the body";

// The text body for a server that misbehaves at `step`. Mid data it cannot
// fit into the buffers of both ends of a loopback connection (a few MiB at
// most), so that the client is still sending when the server misbehaves at
// the marker near its beginning; elsewhere a few lines do.
inline std::string BodyFor(Step step) {
    const std::string filler = std::string(78, 'q') + "\r\n";
    const std::size_t size = step == Step::MidData ? 6u << 20 : 0;
    std::string body;
    body.reserve(size + 1024);
    for (int i = 0; i < 3 || (size > 0 && i < 800); ++i) body += filler;
    body += std::string(kMidDataMarker) + "\r\n";
    while (body.size() < size) body += filler;
    return body;
}

// Buffers of the hostile server's end: small, so that the body above fills
// them, and so that a flood from the server waits for a client that reads.
inline constexpr int kPeerBuffer = 16 * 1024;

// How long a stall lasts: past the client's TimeOut and the one-second pass
// that notices it, with room for a loaded machine.
inline constexpr std::chrono::milliseconds kStall{2000};

// Plays a server that behaves until `step` and there shows `fault`; after a
// fault that leaves the connection open it reads whatever the client still
// writes, until the client closes.
inline void PlayHostile(ScriptedPeer& peer, Step step, Fault fault) {
    const auto at = static_cast<int>(step);
    // The right replies, in order; each step's own reply is what the fault
    // replaces (or, for a second reply, follows).
    const char* const replies[] = {"220 hi\r\n", "250 hello\r\n", "250 ok\r\n", "250 ok\r\n",
                                   "354 go\r\n", "",              "250 queued\r\n", "221 bye\r\n"};
    const std::string lines[] = {"HELO quillpost.localdomain", std::string("MAIL FROM: <") + kFrom + ">",
                                 std::string("RCPT TO: <") + kTo + ">", "data"};
    for (int i = 0; i < at; ++i) {
        if (i != static_cast<int>(Step::MidData)) peer.Send(replies[i]);
        if (i < 4) peer.ExpectLine(lines[i]);
        if (i == static_cast<int>(Step::AfterData)) peer.ReadUntil(kMidDataMarker);
        if (i == static_cast<int>(Step::MidData)) peer.ReadUntil("\r\n.\r\n");
        if (i == static_cast<int>(Step::AfterEndOfData)) peer.ExpectLine("quit");
    }
    switch (fault) {
    case Fault::Close: peer.Close(); return;
    case Fault::Reset: peer.Reset(); return;
    case Fault::Stall: peer.StaySilent(kStall); break;
    case Fault::SecondReply: peer.Send(replies[at] + BytesOf(fault)); break;
    default: peer.Send(BytesOf(fault)); break;
    }
    peer.ReadToEnd();
}

}  // namespace quillpost::test
