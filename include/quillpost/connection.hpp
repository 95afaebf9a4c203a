// Connection: many messages over one connection to the server. Open says
// everything up to the first MAIL FROM once (connect, greeting, EHLO, TLS,
// login); each Send is one transaction on it; Close says QUIT.
//
//     quillpost::Connection connection;
//     connection.Open(settings);     // Server, Port, Security, credentials...
//     for (auto& message : messages) connection.Send(*message);
//     connection.Close();
//
// One Connection is used by one thread at a time; Connections of their own
// may be used on as many threads at once as wanted.
#pragma once

#include <quillpost/message.hpp>

#include <memory>

namespace quillpost {

class Connection {
public:
    Connection();
    // Closes the connection as Close does, never raising.
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects to the server of `settings` and says everything up to MAIL
    // FROM, from its Server, Port, TimeOut, TraceFile (the connection's trace
    // for its whole life), Security, credentials and trust settings, and the
    // server's registry values for those left unset, as `send` would. EHLO is
    // always sent (HELO only when the server refuses it with 500 or 502).
    // Raises the errors `send` raises for them. An open connection is closed
    // first.
    void Open(const Message& settings);

    // Sends `message` in one transaction, with every check `send` makes and
    // the message `send` would write; its own server settings (Server, Port,
    // TraceFile, Security, credentials ...) are not consulted. A refusal of
    // the message (4xx or 5xx to MAIL FROM, RCPT TO, data or the end of the
    // data) raises its error and leaves the connection open for the next
    // message. A transport failure, a time-out or 421 (the server closing)
    // closes the connection and raises; a send on a closed connection raises
    // 9976. A connection the
    // server closed while it was idle (or ended with 421 before accepting MAIL
    // FROM) is opened again once: nothing of the message had been accepted.
    void Send(Message& message);

    // QUIT and close; nothing when closed. Never raises.
    void Close() noexcept;
    bool IsOpen() const noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace quillpost
