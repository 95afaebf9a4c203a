// The smallest pipelining SMTP client there is, on a raw socket: the floor
// that a client waiting for each message's own reply can reach. After EHLO it
// sends COUNT copies of the message in FILE (already dot-stuffed, ending in
// CR LF): MAIL FROM, RCPT TO and DATA in one write, then the data and its
// final dot in one write, reading the replies to each. Prints "seconds N".
//
//   minimal_client PORT COUNT FILE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

class Client {
public:
    explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect");
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void Write(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t put = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (put <= 0) throw std::runtime_error("send failed");
            bytes.remove_prefix(static_cast<std::size_t>(put));
        }
    }

    // Reads `count` whole replies, each beginning with `code`.
    void Expect(std::string_view code, int count = 1) {
        while (count > 0) {
            const std::size_t end = buffer_.find("\r\n");
            if (end == std::string::npos) {
                char chunk[4096];
                const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
                if (got <= 0) throw std::runtime_error("connection closed");
                buffer_.append(chunk, static_cast<std::size_t>(got));
                continue;
            }
            const std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 2);
            if (line.compare(0, 3, code) != 0) throw std::runtime_error("unexpected reply: " + line);
            if (line.size() < 4 || line[3] != '-') --count;
        }
    }

private:
    int fd_;
    std::string buffer_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: minimal_client PORT COUNT FILE\n");
        return 2;
    }
    std::ifstream in(argv[3], std::ios::binary);
    const std::string data = std::string(std::istreambuf_iterator<char>(in), {}) + ".\r\n";
    const long count = std::atol(argv[2]);
    try {
        Client client(std::atoi(argv[1]));
        client.Expect("220");
        client.Write("EHLO bench.localdomain\r\n");
        client.Expect("250");
        const std::string envelope = "MAIL FROM:<ann@example.com>\r\nRCPT TO:<bob@example.com>\r\nDATA\r\n";
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < count; ++i) {
            client.Write(envelope);
            client.Expect("250", 2);
            client.Expect("354");
            client.Write(data);
            client.Expect("250");
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        client.Write("QUIT\r\n");
        std::printf("seconds %.6f\n", took.count());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "minimal_client: %s\n", e.what());
        return 1;
    }
    return 0;
}
