// What one `send` sends, copied from the message when the send begins. A
// host's pending-events hook runs during every wait for the server and may
// change the message and its lists; the send goes on with what it began
// with, and nothing it walks can be freed under it.
#pragma once

#include <quillpost/message.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillpost {

struct Snapshot {
    struct Address {
        std::string name;
        std::string address;
    };
    struct HeaderField {
        std::string name;
        std::string value;
    };

    std::string server;
    std::int16_t port = 0;
    float timeOut = 0;
    std::string traceFile;
    std::string fromAddress;
    std::string fromName;
    std::string subject;
    std::string organization;
    std::string application;
    std::string textBody;
    std::string htmlBody;
    double dateTime = 0;
    std::optional<std::int32_t> dateOffset;  // the zone's offset, when the date came from the clock
    std::int32_t priority = QP_PRIORITY_NONE;
    bool confirmReading = false;
    std::vector<Address> recipients;
    std::vector<Address> ccs;
    std::vector<Address> bccs;
    std::vector<Address> replyTos;
    std::vector<HeaderField> extraHeaders;
    std::vector<std::string> attachments;  // file names
    // Submission settings as the caller set them (unset ones stay empty).
    std::optional<quillpost::Security> security;
    std::string userName;
    std::string password;
    std::string oauthToken;
    std::string oauthTokenUrl;
    std::string oauthClientId;
    std::string oauthClientSecret;
    std::string oauthScope;
    std::string oauthRefreshToken;
    std::string caFile;
    std::optional<bool> verifyCertificate;
    std::optional<bool> allowPlainTextAuth;
    std::optional<std::int32_t> keepAlive;
    // Signing settings as the caller set them.
    std::string dkimDomain;
    std::string dkimSelector;
    std::string dkimKeyFile;
};

Snapshot TakeSnapshot(Message& message);
// Only what reaches the server: Server, Port, TimeOut, TraceFile, the
// submission settings and KeepAlive.
Snapshot TakeServerSettings(const Message& message);

}  // namespace quillpost
