// A scripted SMTP peer for tests: it listens on 127.0.0.1 on a free port and,
// on its own thread, plays a script against the client that connects — send
// these bytes (whole, or in chunks with pauses), expect a line, read up to
// some text, stay silent, close. Everything it receives is kept for the test
// to look at, and every step that could not be played is reported as a
// problem instead of hanging the test.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillpost::test {

class ScriptedPeer {
public:
    using Ms = std::chrono::milliseconds;

    // Binds a free port of 127.0.0.1. `receiveBuffer`, when not 0, shrinks
    // the peer's receive buffer so that the client's sends are refused sooner;
    // `sendBuffer`, when not 0, shrinks its send buffer so that a large Send
    // waits for a client that reads nothing.
    explicit ScriptedPeer(int receiveBuffer = 0, int sendBuffer = 0);
    // Stops the script wherever it is and closes everything.
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // The script, built before Start and played in order.
    ScriptedPeer& Send(std::string bytes);
    // Sends `bytes` in chunks of the given sizes (the last size repeats for
    // the rest), pausing between chunks.
    ScriptedPeer& SendInChunks(std::string bytes, std::vector<std::size_t> sizes, Ms pause);
    // Reads one line (up to its line feed) and records it without its line
    // break; a line other than `expected` (when given) is a problem.
    ScriptedPeer& ExpectLine(std::string expected = {});
    // Reads until `marker` has arrived.
    ScriptedPeer& ReadUntil(std::string marker);
    // Reads `total` bytes, taking `chunk` bytes at a time with a pause after
    // each: a slow but steady server.
    ScriptedPeer& ReadSlowly(std::size_t total, std::size_t chunk, Ms pause);
    // Reads until the client closes the connection.
    ScriptedPeer& ReadToEnd();
    // Answers every line that arrives with `reply`, until the client closes.
    ScriptedPeer& AnswerEachLine(std::string reply);
    // Does nothing for a while: sends nothing and reads nothing.
    ScriptedPeer& StaySilent(Ms duration);
    // Stays connected, sending and reading nothing, until the peer is stopped.
    ScriptedPeer& Hold();
    // Waits, sending and reading nothing, until the test calls Release.
    ScriptedPeer& AwaitRelease();
    // Closes the connection; Reset closes it so that the client sees a reset.
    ScriptedPeer& Close();
    ScriptedPeer& Reset();
    // Closes the connection and accepts the next one.
    ScriptedPeer& NextConnection();
    // Forgets what has been received and the lines recorded: a script played
    // for thousands of connections must not keep them all.
    ScriptedPeer& Forget();

    // Plays the script again for each further connection, until stopped.
    void RepeatForEveryConnection() { repeat_ = true; }
    // How long a step may wait for the client before it counts as a problem.
    void SetStepLimit(Ms limit) { stepLimit_ = limit; }

    // Starts listening and playing the script.
    void Start();
    // Waits up to `limit` for the script to end; true when it has.
    bool Finished(Ms limit = Ms(10000));
    // Ends the script wherever it is.
    void Stop();
    // Lets an AwaitRelease step go on; safe from any thread.
    void Release();

    // The port as a message holds it: 16 bits, read as unsigned.
    std::int16_t port() const { return static_cast<std::int16_t>(port_); }
    std::uint16_t tcpPort() const { return port_; }

    std::string Received() const;
    std::size_t ReceivedSize() const;
    std::vector<std::string> Lines() const;
    std::vector<std::string> Problems() const;
    std::size_t Connections() const;

    // A port of 127.0.0.1 on which nothing listens (refuses connections).
    static std::int16_t UnusedPort();

private:
    enum class Kind {
        Send, ExpectLine, ReadUntil, ReadSlowly, ReadToEnd, Answer, Silent, Hold, Await, Close, Reset, Next, Forget
    };
    struct Step {
        Kind kind;
        std::string text;
        std::vector<std::size_t> sizes;
        Ms duration{0};
    };

    void Run();
    bool Accept(bool untilStopped);
    bool Play(const Step& step);
    bool SendAll(const char* data, std::size_t size);
    // Reads what comes within the step limit; false when the client closed,
    // the time ran out or the peer is stopping.
    bool ReadMore();
    bool Pause(Ms duration);
    void CloseConnection(bool reset);
    void Problem(std::string text);
    bool Stopping() const;

    int listener_ = -1;
    std::uint16_t port_ = 0;
    int receiveBuffer_ = 0;
    int sendBuffer_ = 0;
    bool repeat_ = false;
    Ms stepLimit_{10000};
    std::vector<Step> script_;
    std::thread thread_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int conn_ = -1;  // guarded: Stop shuts it down from another thread
    bool stopping_ = false;
    bool finished_ = false;
    bool released_ = false;
    bool clientClosed_ = false;
    std::string received_;
    std::size_t consumed_ = 0;  // read by the peer's thread only
    std::vector<std::string> lines_;
    std::vector<std::string> problems_;
    std::size_t connections_ = 0;
};

}  // namespace quillpost::test
