// Message: one mail to send. Its properties are plain stores with three
// exceptions (Priority accepts only QP_PRIORITY values, Port is narrowed to
// 16 bits, setting FromAddress fills an empty FromName); it hands out its six
// collections and carries `send`.
#pragma once

#include <quillpost/collections.hpp>
#include <quillpost/variant.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quillpost {

enum QP_PRIORITY : std::int32_t {
    QP_PRIORITY_NONE = 0,
    QP_PRIORITY_HIGHEST = 1,
    QP_PRIORITY_HIGH = 2,
    QP_PRIORITY_NORMAL = 3,
    QP_PRIORITY_LOW = 4,
    QP_PRIORITY_LOWEST = 5,
};

// How the connection to the server is protected.
enum class Security {
    None,      // plain text throughout (HELO, as ever)
    May,       // EHLO; STARTTLS when the server offers it, plain otherwise
    StartTls,  // STARTTLS required: nothing of the envelope goes in the clear
    Tls,       // TLS from the first byte (usually port 465)
};

// "none", "may", "starttls" or "tls" in any letter case; nothing for any
// other text.
std::optional<Security> SecurityNamed(std::string_view name);

class Message : public Dispatch {
public:
    // Every property starts from its default; DateTime is the local date and
    // time of this moment.
    Message();
    ~Message() override;

    const std::string& Subject() const noexcept { return subject_; }
    void Subject(std::string value) { subject_ = std::move(value); }
    const std::string& Server() const noexcept { return server_; }
    void Server(std::string value) { server_ = std::move(value); }
    const std::string& FromAddress() const noexcept { return fromAddress_; }
    // Stores the address, then copies it into FromName when FromName is empty.
    void FromAddress(std::string value);
    const std::string& FromName() const noexcept { return fromName_; }
    void FromName(std::string value) { fromName_ = std::move(value); }
    const std::string& TextBody() const noexcept { return textBody_; }
    void TextBody(std::string value) { textBody_ = std::move(value); }
    const std::string& HtmlBody() const noexcept { return htmlBody_; }
    void HtmlBody(std::string value) { htmlBody_ = std::move(value); }
    const std::string& Application() const noexcept { return application_; }
    void Application(std::string value) { application_ = std::move(value); }
    const std::string& Organization() const noexcept { return organization_; }
    void Organization(std::string value) { organization_ = std::move(value); }
    const std::string& TraceFile() const noexcept { return traceFile_; }
    void TraceFile(std::string value) { traceFile_ = std::move(value); }
    // Not an automation property: receives every trace line as `send` writes
    // it (passwords and tokens masked as in the trace file), with or without
    // a trace file. The line may end in its own line break.
    using TraceListener = std::function<void(std::string_view line)>;
    void ListenToTrace(TraceListener listener) { traceListener_ = std::move(listener); }
    // Not an automation property: a complete message (header block, empty
    // line, body; every line ending in CR LF) that `send` sends as it is in
    // place of the one the properties make. The envelope still comes from
    // FromAddress, Recipients, CCs and BCCs. An empty optional goes back to
    // the message of the properties.
    void PreparedContent(std::optional<std::string> content) { preparedContent_ = std::move(content); }

    // Seconds; no check (0 or less fails the first wait at once).
    float TimeOut() const noexcept { return timeOut_; }
    // Put raises 5 "Invalid procedure call or argument" for NaN.
    void TimeOut(float value);
    // Automation date (days since 30 December 1899, local time).
    double DateTime() const noexcept { return dateTime_; }
    // Put raises 5 "Invalid procedure call or argument" for a value that is
    // no date from the year 100 to 9999 (NaN, infinite, out of range).
    void DateTime(double value);
    bool ConfirmReading() const noexcept { return confirmReading_; }
    void ConfirmReading(bool value) noexcept { confirmReading_ = value; }

    // The stored 16-bit port, widened with its sign (a port held as -1 is TCP
    // port 65535 on the wire). Put raises 6 "Overflow" outside -32768..32767.
    std::int32_t Port() const noexcept { return port_; }
    void Port(std::int32_t value);
    // Put accepts QP_PRIORITY_NONE to QP_PRIORITY_LOWEST only; anything else
    // raises 9990 "Invalid Priority setting.".
    std::int16_t Priority() const noexcept { return static_cast<std::int16_t>(priority_); }
    void Priority(std::int32_t value);

    // Submission settings. Each one left unset is taken from the registry
    // values of the server's key ("Servers\<Server>" under the product's
    // key), else its default: Security None, no credentials, the system's
    // trust store, certificates verified, no credentials in plain text.
    std::optional<quillpost::Security> Security() const noexcept { return security_; }
    void Security(quillpost::Security value) noexcept { security_ = value; }
    const std::string& UserName() const noexcept { return userName_; }
    void UserName(std::string value) { userName_ = std::move(value); }
    const std::string& Password() const noexcept { return password_; }
    void Password(std::string value) { password_ = std::move(value); }
    // A bearer token for XOAUTH2, used instead of the password when set.
    const std::string& OAuthToken() const noexcept { return oauthToken_; }
    void OAuthToken(std::string value) { oauthToken_ = std::move(value); }
    // Where the component gets XOAUTH2 tokens itself when no OAuthToken is
    // set (RFC 6749): the endpoint's https:// URL, the application's client
    // id and secret, the scope, and a refresh token (none means the
    // client-credentials grant). UserName is the mailbox to log in as. When
    // the endpoint replaces the refresh token, a send stores the new one
    // here if it was set here.
    const std::string& OAuthTokenUrl() const noexcept { return oauthTokenUrl_; }
    void OAuthTokenUrl(std::string value) { oauthTokenUrl_ = std::move(value); }
    const std::string& OAuthClientId() const noexcept { return oauthClientId_; }
    void OAuthClientId(std::string value) { oauthClientId_ = std::move(value); }
    const std::string& OAuthClientSecret() const noexcept { return oauthClientSecret_; }
    void OAuthClientSecret(std::string value) { oauthClientSecret_ = std::move(value); }
    const std::string& OAuthScope() const noexcept { return oauthScope_; }
    void OAuthScope(std::string value) { oauthScope_ = std::move(value); }
    const std::string& OAuthRefreshToken() const noexcept { return oauthRefreshToken_; }
    void OAuthRefreshToken(std::string value) { oauthRefreshToken_ = std::move(value); }
    // A file of trusted certificates (PEM) in addition to the system's.
    const std::string& CAFile() const noexcept { return caFile_; }
    void CAFile(std::string value) { caFile_ = std::move(value); }
    // False skips every check of the server's certificate: for tests only.
    std::optional<bool> VerifyCertificate() const noexcept { return verifyCertificate_; }
    void VerifyCertificate(bool value) noexcept { verifyCertificate_ = value; }
    // True lets credentials go over a connection without TLS.
    std::optional<bool> AllowPlainTextAuth() const noexcept { return allowPlainTextAuth_; }
    void AllowPlainTextAuth(bool value) noexcept { allowPlainTextAuth_ = value; }

    // Seconds a connection stays open after a successful send, for the next
    // send to the same server, port, security, credentials and trust
    // settings in this process to take ("+ Reusing the connection to ..." in
    // its trace); 0 quits after each send. Unset: the registry value
    // "KeepAlive" (a dword) of the server's key, else 0. Put raises 5 for a
    // negative value.
    std::optional<std::int32_t> KeepAlive() const noexcept { return keepAlive_; }
    void KeepAlive(std::int32_t seconds);
    // DKIM signing (RFC 6376): the signing domain (d=, default the sender's
    // domain), the selector (s=) and a PEM file with the private key, RSA of
    // 1024 bits or more or Ed25519. With none of them set, a message is
    // signed when the registry key "Dkim\<sender's domain>" under the
    // product's key holds the values "Selector" and "KeyFile".
    const std::string& DkimDomain() const noexcept { return dkimDomain_; }
    void DkimDomain(std::string value) { dkimDomain_ = std::move(value); }
    const std::string& DkimSelector() const noexcept { return dkimSelector_; }
    void DkimSelector(std::string value) { dkimSelector_ = std::move(value); }
    const std::string& DkimKeyFile() const noexcept { return dkimKeyFile_; }
    void DkimKeyFile(std::string value) { dkimKeyFile_ = std::move(value); }

    // The collections, created on first use and the same object ever after.
    std::shared_ptr<quillpost::Recipients> Recipients();
    std::shared_ptr<quillpost::Recipients> CCs();
    std::shared_ptr<quillpost::Recipients> BCCs();
    std::shared_ptr<quillpost::Recipients> ReplyTos();
    std::shared_ptr<Headers> ExtraHeaders();
    std::shared_ptr<quillpost::Attachments> Attachments();

    // Sends the message: one SMTP conversation with Server at Port. Returns
    // when the server has accepted the message; raises the error that ended
    // the conversation otherwise, after closing the connection and the trace
    // file.
    void send();

    // Refuses an empty address (9991) and, when the registry value
    // "RequireLocalSender" asks for it and the message knows its page, an
    // address outside the web server's domain (9992).
    void CheckSender(const std::string& Address);

    // The page hook: keeps the page's Request object, read by name from the
    // scripting context. Returns the empty value.
    Variant OnStartPage(const Variant& ScriptingContext);

    // The default member is Subject.
    Variant DefaultValue() override { return subject_; }

private:
    friend class Connection;
    friend struct Snapshot TakeSnapshot(Message& message);

    std::string subject_ = "[no subject]";
    std::string server_ = "mail";
    std::string fromAddress_;
    std::string fromName_;
    std::shared_ptr<quillpost::Recipients> recipients_;
    std::shared_ptr<quillpost::Recipients> ccs_;
    std::shared_ptr<quillpost::Recipients> bccs_;
    std::shared_ptr<quillpost::Recipients> replyTos_;
    std::string textBody_;
    std::string htmlBody_;
    std::string application_ = "Quillpost 1.0";
    std::string organization_;
    float timeOut_ = 50;
    double dateTime_ = 0;
    // The zone's offset at the moment dateTime_ was taken from the clock;
    // none once the caller has set the date.
    std::optional<std::int32_t> dateOffset_;
    std::shared_ptr<quillpost::Attachments> attachments_;
    std::shared_ptr<Headers> extraHeaders_;
    std::int16_t port_ = 25;
    std::int32_t priority_ = QP_PRIORITY_NONE;
    bool confirmReading_ = false;
    std::string traceFile_;
    TraceListener traceListener_;
    std::optional<std::string> preparedContent_;
    Variant mvarRequest;
    std::optional<quillpost::Security> security_;
    std::string userName_;
    std::string password_;
    std::string oauthToken_;
    std::string oauthTokenUrl_;
    std::string oauthClientId_;
    std::string oauthClientSecret_;
    std::string oauthScope_;
    std::string oauthRefreshToken_;
    std::string caFile_;
    std::optional<bool> verifyCertificate_;
    std::optional<bool> allowPlainTextAuth_;
    std::optional<std::int32_t> keepAlive_;
    std::string dkimDomain_;
    std::string dkimSelector_;
    std::string dkimKeyFile_;
};

}  // namespace quillpost
