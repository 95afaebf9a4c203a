// Sends COUNT messages over one Connection to 127.0.0.1 at PORT, message N
// from sN@example.com to rN@example.com with the subject "message N"; every
// hundredth (N % 100 == 7) goes to refusedN@example.com instead. Prints one
// line per message: its number and 0 or the error's number. With "keep" as
// the third argument, sends with `send` and KeepAlive 5 instead.
#include <quillpost/connection.hpp>
#include <quillpost/error.hpp>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int port = std::atoi(argv[1]);
    const int count = std::atoi(argv[2]);
    const bool keep = argc > 3 && std::string(argv[3]) == "keep";
    quillpost::Message settings;
    settings.Server("127.0.0.1");
    settings.Port(static_cast<std::int16_t>(port));
    settings.TimeOut(10);
    settings.Security(quillpost::Security::May);
    quillpost::Connection connection;
    try {
        if (!keep) connection.Open(settings);
    } catch (const quillpost::Error& e) {
        std::cout << "open " << e.number() << " " << e.description() << std::endl;
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        quillpost::Message m;
        m.FromAddress("s" + n + "@example.com");
        m.Recipients()->Add((i % 100 == 7 ? "refused" : "r") + n + "@example.com");
        m.Subject("message " + n);
        m.TextBody("Body of message " + n + "\n");
        int number = 0;
        try {
            if (keep) {
                m.Server("127.0.0.1");
                m.Port(static_cast<std::int16_t>(port));
                m.TimeOut(10);
                m.Security(quillpost::Security::May);
                m.KeepAlive(5);
                m.send();
            } else {
                connection.Send(m);
            }
        } catch (const quillpost::Error& e) {
            number = e.number();
        }
        std::cout << i << " " << number << "\n";
    }
    connection.Close();
    return 0;
}
