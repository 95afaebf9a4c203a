#include "tests/support/scripted_peer.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace quillpost::test {

namespace {

constexpr int kTick = 20;  // ms between looks at the stop flag

std::string StripLineBreak(std::string line) {
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

int BoundSocket(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("scripted peer: socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("scripted peer: bind failed");
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

ScriptedPeer::ScriptedPeer(int receiveBuffer, int sendBuffer)
    : receiveBuffer_(receiveBuffer), sendBuffer_(sendBuffer) {
    listener_ = BoundSocket(port_);
}

ScriptedPeer::~ScriptedPeer() {
    Stop();
    if (thread_.joinable()) thread_.join();
    if (conn_ != -1) ::close(conn_);
    ::close(listener_);
}

std::int16_t ScriptedPeer::UnusedPort() {
    std::uint16_t port = 0;
    ::close(BoundSocket(port));  // bound, never listening: refused
    return static_cast<std::int16_t>(port);
}

ScriptedPeer& ScriptedPeer::Send(std::string bytes) {
    script_.push_back({Kind::Send, std::move(bytes), {}, Ms(0)});
    return *this;
}

ScriptedPeer& ScriptedPeer::SendInChunks(std::string bytes, std::vector<std::size_t> sizes,
                                         Ms pause) {
    script_.push_back({Kind::Send, std::move(bytes), std::move(sizes), pause});
    return *this;
}

ScriptedPeer& ScriptedPeer::ExpectLine(std::string expected) {
    script_.push_back({Kind::ExpectLine, StripLineBreak(std::move(expected)), {}, Ms(0)});
    return *this;
}

ScriptedPeer& ScriptedPeer::ReadUntil(std::string marker) {
    script_.push_back({Kind::ReadUntil, std::move(marker), {}, Ms(0)});
    return *this;
}

ScriptedPeer& ScriptedPeer::ReadSlowly(std::size_t total, std::size_t chunk, Ms pause) {
    script_.push_back({Kind::ReadSlowly, {}, {total, chunk}, pause});
    return *this;
}

ScriptedPeer& ScriptedPeer::ReadToEnd() {
    script_.push_back({Kind::ReadToEnd, {}, {}, Ms(0)});
    return *this;
}

ScriptedPeer& ScriptedPeer::AnswerEachLine(std::string reply) {
    script_.push_back({Kind::Answer, std::move(reply), {}, Ms(0)});
    return *this;
}

ScriptedPeer& ScriptedPeer::StaySilent(Ms duration) {
    script_.push_back({Kind::Silent, {}, {}, duration});
    return *this;
}

ScriptedPeer& ScriptedPeer::Hold() {
    script_.push_back({Kind::Hold, {}, {}, Ms(0)});
    return *this;
}

ScriptedPeer& ScriptedPeer::AwaitRelease() {
    script_.push_back({Kind::Await, {}, {}, Ms(0)});
    return *this;
}

ScriptedPeer& ScriptedPeer::Close() {
    script_.push_back({Kind::Close, {}, {}, Ms(0)});
    return *this;
}

ScriptedPeer& ScriptedPeer::Reset() {
    script_.push_back({Kind::Reset, {}, {}, Ms(0)});
    return *this;
}

ScriptedPeer& ScriptedPeer::NextConnection() {
    script_.push_back({Kind::Next, {}, {}, Ms(0)});
    return *this;
}

ScriptedPeer& ScriptedPeer::Forget() {
    script_.push_back({Kind::Forget, {}, {}, Ms(0)});
    return *this;
}

void ScriptedPeer::Start() {
    if (receiveBuffer_ > 0)
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer_, sizeof receiveBuffer_);
    if (sendBuffer_ > 0) ::setsockopt(listener_, SOL_SOCKET, SO_SNDBUF, &sendBuffer_, sizeof sendBuffer_);
    if (::listen(listener_, 16) != 0) throw std::runtime_error("scripted peer: listen failed");
    thread_ = std::thread([this] { Run(); });
}

bool ScriptedPeer::Finished(Ms limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return finished_; });
}

void ScriptedPeer::Stop() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // Wakes a send that blocks on a client that reads nothing.
    if (conn_ != -1) ::shutdown(conn_, SHUT_RDWR);
    changed_.notify_all();
}

void ScriptedPeer::Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

bool ScriptedPeer::Stopping() const {
    std::lock_guard lock(mutex_);
    return stopping_;
}

std::string ScriptedPeer::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::size_t ScriptedPeer::ReceivedSize() const {
    std::lock_guard lock(mutex_);
    return received_.size();
}

std::vector<std::string> ScriptedPeer::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::vector<std::string> ScriptedPeer::Problems() const {
    std::lock_guard lock(mutex_);
    return problems_;
}

std::size_t ScriptedPeer::Connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

void ScriptedPeer::Problem(std::string text) {
    std::lock_guard lock(mutex_);
    if (!stopping_) problems_.push_back(std::move(text));
}

void ScriptedPeer::Run() {
    while (Accept(repeat_)) {
        for (const Step& step : script_)
            if (!Play(step)) break;
        CloseConnection(false);
        if (!repeat_) break;
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

bool ScriptedPeer::Accept(bool untilStopped) {
    const auto deadline = std::chrono::steady_clock::now() + stepLimit_;
    while (!Stopping()) {
        pollfd entry{listener_, POLLIN, 0};
        if (::poll(&entry, 1, kTick) > 0) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::lock_guard lock(mutex_);
            conn_ = fd;
            clientClosed_ = false;
            ++connections_;
            return true;
        }
        if (!untilStopped && std::chrono::steady_clock::now() > deadline) {
            Problem("no client connected");
            return false;
        }
    }
    return false;
}

void ScriptedPeer::CloseConnection(bool reset) {
    std::lock_guard lock(mutex_);
    if (conn_ == -1) return;
    if (reset) {
        linger abort{1, 0};
        ::setsockopt(conn_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    ::close(conn_);
    conn_ = -1;
}

bool ScriptedPeer::SendAll(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::send(conn_, data, size, MSG_NOSIGNAL);
        if (put < 0) {
            if (errno == EINTR) continue;
            Problem(std::string("send failed: ") + std::strerror(errno));
            return false;
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool ScriptedPeer::ReadMore() {
    const auto deadline = std::chrono::steady_clock::now() + stepLimit_;
    char buffer[64 * 1024];
    while (!Stopping()) {
        pollfd entry{conn_, POLLIN, 0};
        const int ready = ::poll(&entry, 1, kTick);
        if (ready > 0) {
            const ssize_t got = ::recv(conn_, buffer, sizeof buffer, 0);
            if (got > 0) {
                std::lock_guard lock(mutex_);
                received_.append(buffer, static_cast<std::size_t>(got));
                return true;
            }
            if (got < 0 && errno == EINTR) continue;
            std::lock_guard lock(mutex_);
            clientClosed_ = true;
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
    }
    return false;
}

bool ScriptedPeer::Pause(Ms duration) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, duration, [this] { return stopping_; });
}

bool ScriptedPeer::Play(const Step& step) {
    if (conn_ == -1 && step.kind != Kind::Next) {
        Problem("no connection for the next step");
        return false;
    }
    switch (step.kind) {
    case Kind::Send: {
        if (step.sizes.empty()) return SendAll(step.text.data(), step.text.size());
        std::size_t at = 0;
        for (std::size_t i = 0; at < step.text.size(); ++i) {
            const std::size_t size = step.sizes[std::min(i, step.sizes.size() - 1)];
            const std::size_t take = std::min(size == 0 ? 1 : size, step.text.size() - at);
            if (i > 0 && !Pause(step.duration)) return false;
            if (!SendAll(step.text.data() + at, take)) return false;
            at += take;
        }
        return true;
    }
    case Kind::ExpectLine:
        for (;;) {
            const std::size_t end = received_.find('\n', consumed_);
            if (end != std::string::npos) {
                std::string line = StripLineBreak(received_.substr(consumed_, end + 1 - consumed_));
                consumed_ = end + 1;
                const bool matches = step.text.empty() || line == step.text;
                {
                    std::lock_guard lock(mutex_);
                    lines_.push_back(line);
                }
                if (!matches) Problem("expected \"" + step.text + "\", received \"" + line + "\"");
                return matches;
            }
            if (!ReadMore()) {
                Problem("expected a line" + (step.text.empty() ? "" : " \"" + step.text + "\"") +
                        ", none came");
                return false;
            }
        }
    case Kind::ReadSlowly: {
        const std::size_t end = consumed_ + step.sizes[0];
        std::size_t next = consumed_ + step.sizes[1];
        while (received_.size() < end) {
            if (!ReadMore()) {
                Problem("the client stopped sending after " + std::to_string(received_.size()) + " bytes");
                return false;
            }
            if (received_.size() >= next && received_.size() < end) {
                next += step.sizes[1];
                if (!Pause(step.duration)) return false;
            }
        }
        consumed_ = end;
        return true;
    }
    case Kind::ReadUntil: {
        std::size_t from = consumed_;
        for (;;) {
            const std::size_t at = received_.find(step.text, from);
            if (at != std::string::npos) {
                consumed_ = at + step.text.size();
                return true;
            }
            // The marker may straddle what has come and what comes next.
            if (received_.size() >= step.text.size())
                from = std::max(from, received_.size() - step.text.size() + 1);
            if (!ReadMore()) {
                Problem("\"" + step.text + "\" never came");
                return false;
            }
        }
    }
    case Kind::ReadToEnd:
        while (ReadMore()) {
        }
        consumed_ = received_.size();
        if (!clientClosed_) Problem("the client did not close the connection");
        return clientClosed_;
    case Kind::Answer:
        for (;;) {
            std::size_t end;
            while ((end = received_.find('\n', consumed_)) != std::string::npos) {
                std::string line = StripLineBreak(received_.substr(consumed_, end + 1 - consumed_));
                consumed_ = end + 1;
                {
                    std::lock_guard lock(mutex_);
                    lines_.push_back(std::move(line));
                }
                if (!SendAll(step.text.data(), step.text.size())) return false;
            }
            if (!ReadMore()) return clientClosed_;
        }
    case Kind::Silent:
        return Pause(step.duration);
    case Kind::Hold:
        while (Pause(Ms(1000))) {
        }
        return false;
    case Kind::Await: {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return released_ || stopping_; });
        const bool go = !stopping_;
        released_ = false;
        return go;
    }
    case Kind::Close:
        CloseConnection(false);
        return true;
    case Kind::Reset:
        CloseConnection(true);
        return true;
    case Kind::Next:
        CloseConnection(false);
        return Accept(false);
    case Kind::Forget: {
        std::lock_guard lock(mutex_);
        // Shrinking as well as clearing: the memory itself must go.
        std::string().swap(received_);
        std::vector<std::string>().swap(lines_);
        consumed_ = 0;
        return true;
    }
    }
    return false;
}

}  // namespace quillpost::test
