// TLS over a byte stream: from the first byte (implicit TLS) or from the
// middle of a conversation (STARTTLS). The wrapped stream is again a byte
// stream, so the conversation above goes on as before.
#pragma once

#include "transport/byte_stream.hpp"

#include <cstdint>
#include <memory>
#include <string>

namespace quillpost {

struct TlsSettings {
    // The name or address the server's certificate must be issued for (an
    // address is checked against the certificate's address entries).
    std::string host;
    // A file of trusted certificates (PEM) in addition to the system's store.
    std::string caFile;
    // False skips every check of the certificate.
    bool verify = true;
    // Seconds the handshake may go without progress.
    float timeOut = 50;
    // The server's port (16 bits, read as unsigned): a session is resumed
    // only with the server, port and trust settings it was made with.
    std::int16_t port = 0;
};

// Runs the handshake over `plain` and returns the protected stream. Raises
// 9982 when the certificate is not trusted (with the reason) and 9981 when
// the handshake fails otherwise; TLS 1.2 is the least accepted. Destroying
// the stream after its handshake sends the close_notify alert (RFC 8446
// 6.1), so that the session it made stays resumable by a later stream of the
// process to the same server, port and trust settings.
std::unique_ptr<ByteStream> WrapInTls(std::unique_ptr<ByteStream> plain, const TlsSettings& settings);

// Whether a new stream offers the session kept from an earlier one (on from
// the start). Sessions are kept either way. Only benchmarks switch it off,
// to measure what resumption saves; the Windows build has no such switch
// (Schannel keeps its sessions itself).
void ResumeTlsSessions(bool on);

// The TLS library and its version, for a tool's version text.
std::string TlsLibraryVersion();

// Starts the TLS library now, so that whatever it sets up to run when the
// process ends is set up before the caller's own and runs after it: an
// object that closes TLS connections as the process ends must call this
// before it is made.
void StartTlsLibrary();

}  // namespace quillpost
