// Many threads, each with messages of its own, sending at once: every
// message arrives whole, and the process-wide state they share (the socket
// start-up count, the registry stand-in, the time-zone lookups, the key and
// the thread that signs beside each conversation) holds up under a thread
// sanitizer build.
#include "tests/mailer/send_support.hpp"
#include "tests/support/smtp_sink.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_keys.hpp"

#include <quillpost/message.hpp>

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

using namespace quillpost;
using namespace quillpost::test;

TEST(Concurrency, EightThreadsSendTwoHundredMessagesEach) {
    constexpr int kThreads = 8;
    constexpr int kMessages = 200;
    SmtpSink sink;
    TempDir dir;
    const std::string attachment = dir.write("notes.txt", "an attachment read by every thread\n");
    // Every other thread signs its messages, all with the one key.
    const std::string keyFile = dir.write("key.pem", NewKeyPem("ED25519"));
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kMessages; ++i) {
                auto m = std::make_shared<Message>();
                m->Server("127.0.0.1");
                m->Port(sink.port());
                m->TimeOut(20);
                m->FromAddress("thread" + std::to_string(t) + "@example.com");
                m->Recipients()->Add("r" + std::to_string(i) + "@example.com");
                m->Subject("t" + std::to_string(t) + " m" + std::to_string(i));
                m->TextBody("from thread " + std::to_string(t) + ", message " + std::to_string(i) + "\r\n");
                m->Attachments()->Add(attachment);
                if (t % 2 == 1) {
                    m->DkimSelector("sel");
                    m->DkimKeyFile(keyFile);
                }
                failures[static_cast<std::size_t>(t)] += ErrorNumberOf([&] { m->send(); }) != 0;
            }
        });
    }
    for (auto& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[static_cast<std::size_t>(t)], 0) << "thread " << t;

    // Each message arrived once, with its own envelope and body.
    std::map<std::string, int> seen;
    for (const auto& d : sink.Deliveries()) {
        const std::string thread = d.from.substr(0, d.from.find('@'));
        ASSERT_EQ(d.recipients.size(), 1u);
        const std::string message = d.recipients[0].substr(1, d.recipients[0].find('@') - 1);
        const std::string body = "from " + thread.substr(0, 6) + " " + thread.substr(6) + ", message " + message;
        EXPECT_NE(d.data.find(body + "\r\n"), std::string::npos) << d.data;
        const bool odd = (thread.back() - '0') % 2 == 1;
        EXPECT_EQ(d.data.starts_with("DKIM-Signature: v=1; a=ed25519-sha256;"), odd) << d.data.substr(0, 80);
        ++seen[thread + "/" + message];
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kMessages));
    for (const auto& [key, count] : seen) EXPECT_EQ(count, 1) << key;
}
