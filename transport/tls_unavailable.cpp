// A build without a TLS library: the connection is never protected, and a
// message that asks for protection fails at the handshake, as it would with
// a server that cannot be agreed with, rather than going out in the clear.
#include "transport/tls.hpp"

#include <quillpost/detail/errors.hpp>

namespace quillpost {

std::unique_ptr<ByteStream> WrapInTls(std::unique_ptr<ByteStream> /*plain*/, const TlsSettings& /*settings*/) {
    raise(Err::TlsHandshakeFailed, "TLS is not available in this build");
}

void StartTlsLibrary() {}

// No session is ever made, so none is resumed.
void ResumeTlsSessions(bool /*on*/) {}

std::string TlsLibraryVersion() { return "no TLS library"; }

}  // namespace quillpost
