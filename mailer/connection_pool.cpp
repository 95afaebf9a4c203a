#include "mailer/connection_pool.hpp"

#include "platform/clock.hpp"
#include "transport/tls.hpp"

#include <algorithm>
#include <mutex>
#include <vector>

namespace quillpost {

struct ConnectionPool::Entries {
    struct Entry {
        PoolKey key;
        std::unique_ptr<Session> session;
        double deadline = 0;  // on the steady clock, in seconds
    };
    std::mutex lock;
    std::vector<Entry> kept;  // the most recently given back last
    Trace idle;               // traces nothing: the trace of a kept session

    // Takes the entries past their deadline (or over the limit) out, for
    // the caller to close outside the lock.
    std::vector<std::unique_ptr<Session>> Expired(double now) {
        std::vector<std::unique_ptr<Session>> out;
        for (auto at = kept.begin(); at != kept.end();) {
            if (at->deadline > now) {
                ++at;
                continue;
            }
            out.push_back(std::move(at->session));
            at = kept.erase(at);
        }
        while (kept.size() > kLimit) {
            out.push_back(std::move(kept.front().session));
            kept.erase(kept.begin());
        }
        return out;
    }
};

namespace {

// RFC 5321 4.1.1.10: a kept connection ends with QUIT like any other.
void Quit(std::vector<std::unique_ptr<Session>> sessions) noexcept {
    for (auto& session : sessions) {
        if (!session) continue;
        session->QuitIfInStep();
        session->Close();
    }
}

}  // namespace

PoolKey PoolKeyOf(const Snapshot& server, const Submission& s, bool extended) {
    return PoolKey{server.server,    server.port,      s.security,      s.userName,
                   s.password,       s.oauthToken,     s.oauth.tokenUrl, s.oauth.clientId,
                   s.oauth.scope,    s.caFile,         s.verifyCertificate, s.allowPlainTextAuth,
                   extended};
}

ConnectionPool& ConnectionPool::Instance() {
    // Destroyed at the end of the process (or when the library is unloaded),
    // after everything made after it; the TLS library is started before it
    // (see the constructor), so its connections still close cleanly.
    static ConnectionPool pool;
    return pool;
}

ConnectionPool::ConnectionPool() : entries_(std::make_unique<Entries>()) { StartTlsLibrary(); }

ConnectionPool::~ConnectionPool() { CloseAll(); }

std::unique_ptr<Session> ConnectionPool::Take(const PoolKey& key) {
    std::unique_ptr<Session> taken;
    std::vector<std::unique_ptr<Session>> expired;
    {
        const std::lock_guard guard(entries_->lock);
        expired = entries_->Expired(SteadyClock().Seconds());
        auto& kept = entries_->kept;
        const auto found =
            std::find_if(kept.rbegin(), kept.rend(), [&](const Entries::Entry& e) { return e.key == key; });
        if (found != kept.rend()) {
            taken = std::move(found->session);
            kept.erase(std::next(found).base());
        }
    }
    Quit(std::move(expired));
    return taken;
}

void ConnectionPool::GiveBack(const PoolKey& key, std::unique_ptr<Session> session, std::int32_t seconds) {
    std::vector<std::unique_ptr<Session>> expired;
    {
        const std::lock_guard guard(entries_->lock);
        session->Rebind(1, entries_->idle);
        const double now = SteadyClock().Seconds();
        entries_->kept.push_back({key, std::move(session), now + seconds});
        expired = entries_->Expired(now);
    }
    Quit(std::move(expired));
}

std::size_t ConnectionPool::Size() {
    const std::lock_guard guard(entries_->lock);
    return entries_->kept.size();
}

void ConnectionPool::CloseAll() noexcept {
    std::vector<std::unique_ptr<Session>> all;
    {
        const std::lock_guard guard(entries_->lock);
        for (auto& e : entries_->kept) all.push_back(std::move(e.session));
        entries_->kept.clear();
    }
    Quit(std::move(all));
}

}  // namespace quillpost
