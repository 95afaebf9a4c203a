// The check of a server's certificate that the Schannel stream makes, for
// the other Windows clients of the component (HTTPS through WinHTTP): a
// chain to one of the system's roots or to a certificate of the CA file,
// issued to a server, and for `host`. Raises 9982 with the reason.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace quillpost {

void CheckServerCertificate(PCCERT_CONTEXT server, const std::string& host, const std::string& caFile);

}  // namespace quillpost
