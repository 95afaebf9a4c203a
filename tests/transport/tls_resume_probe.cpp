// Opens TLS connections one after another in one process, as the command
// line lists them, each "PORT CAFILE" ("-" as CAFILE: the certificate is not
// checked), to 127.0.0.1. Each reads the server's first line and closes
// cleanly; the server reports whether it resumed a session. Prints one
// line per connection: "ok" or the error. A first argument "no-resume"
// switches resumption off for the whole run.
#include "transport/byte_stream.hpp"
#include "transport/tls.hpp"

#include <quillpost/error.hpp>

#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    int failures = 0;
    int first = 1;
    if (argc > 1 && std::string(argv[1]) == "no-resume") {
        quillpost::ResumeTlsSessions(false);
        first = 2;
    }
    for (int i = first; i + 1 < argc; i += 2) {
        quillpost::TlsSettings settings;
        settings.host = "127.0.0.1";
        settings.port = static_cast<std::int16_t>(std::atoi(argv[i]));
        settings.verify = std::string(argv[i + 1]) != "-";
        if (settings.verify) settings.caFile = argv[i + 1];
        settings.timeOut = 10;
        try {
            auto stream = quillpost::WrapInTls(quillpost::ConnectSocket(settings.host, settings.port, 10), settings);
            std::string line;
            for (int pass = 0; pass < 100 && line.find('\n') == std::string::npos; ++pass) {
                stream->WaitReadable(1, nullptr);
                stream->Read(line);
            }
            std::cout << (line.find('\n') == std::string::npos ? "no line" : "ok") << std::endl;
        } catch (const quillpost::Error& e) {
            std::cout << "error " << e.number() << ": " << e.description() << std::endl;
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
