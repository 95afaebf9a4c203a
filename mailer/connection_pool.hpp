// Connections kept open after a send, for the next send of the process to
// the same server with the same settings (KeepAlive). Kept by a key that
// holds every setting that shaped the connection: a connection is taken only
// by a send that would have made the very same one. Two doors only: Take and
// GiveBack. A connection idle past its time is closed with QUIT at the next
// use of the pool; all are closed with QUIT when the process ends or the
// library is unloaded. The TLS session store is a separate thing (in the
// transport).
#pragma once

#include "mailer/snapshot.hpp"
#include "mailer/submission.hpp"
#include "smtp/session.hpp"

#include <memory>
#include <string>

namespace quillpost {

struct PoolKey {
    std::string server;
    std::int16_t port = 0;
    quillpost::Security security = quillpost::Security::None;
    std::string userName;
    std::string password;
    std::string oauthToken;
    std::string oauthTokenUrl;
    std::string oauthClientId;
    std::string oauthScope;
    std::string caFile;
    bool verifyCertificate = true;
    bool allowPlainTextAuth = false;
    // Whether the conversation began with EHLO (a send that needed no
    // extension says HELO and cannot take the extensions for granted).
    bool extended = false;

    bool operator==(const PoolKey&) const = default;
};

PoolKey PoolKeyOf(const Snapshot& server, const Submission& submission, bool extended);

class ConnectionPool {
public:
    // The process's pool, closed (every connection with QUIT) at its end.
    static ConnectionPool& Instance();
    ~ConnectionPool();
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // The most recently kept connection for `key`, taken out of the pool, or
    // nullptr. Connections idle past their time are closed first.
    std::unique_ptr<Session> Take(const PoolKey& key);
    // Keeps `session`, whose last transaction succeeded, for `seconds`; it
    // traces nothing until a send that takes it rebinds it.
    void GiveBack(const PoolKey& key, std::unique_ptr<Session> session, std::int32_t seconds);
    // How many connections are kept now.
    std::size_t Size();
    // Closes every kept connection with QUIT.
    void CloseAll() noexcept;

    // Kept connections beyond this are closed, the oldest first.
    static constexpr std::size_t kLimit = 32;

private:
    ConnectionPool();
    struct Entries;
    std::unique_ptr<Entries> entries_;
};

}  // namespace quillpost
