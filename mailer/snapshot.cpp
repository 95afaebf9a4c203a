#include "mailer/snapshot.hpp"

namespace quillpost {

namespace {

std::vector<Snapshot::Address> Addresses(const Recipients& list) {
    std::vector<Snapshot::Address> out;
    out.reserve(static_cast<std::size_t>(list.Count()));
    for (const auto& r : list) out.push_back({r->Name(), r->Address()});
    return out;
}

}  // namespace

Snapshot TakeServerSettings(const Message& message) {
    Snapshot s;
    s.server = message.Server();
    s.port = static_cast<std::int16_t>(message.Port());
    s.timeOut = message.TimeOut();
    s.traceFile = message.TraceFile();
    s.security = message.Security();
    s.userName = message.UserName();
    s.password = message.Password();
    s.oauthToken = message.OAuthToken();
    s.oauthTokenUrl = message.OAuthTokenUrl();
    s.oauthClientId = message.OAuthClientId();
    s.oauthClientSecret = message.OAuthClientSecret();
    s.oauthScope = message.OAuthScope();
    s.oauthRefreshToken = message.OAuthRefreshToken();
    s.caFile = message.CAFile();
    s.verifyCertificate = message.VerifyCertificate();
    s.allowPlainTextAuth = message.AllowPlainTextAuth();
    s.keepAlive = message.KeepAlive();
    return s;
}

Snapshot TakeSnapshot(Message& message) {
    Snapshot s = TakeServerSettings(message);
    s.fromAddress = message.FromAddress();
    s.fromName = message.FromName();
    s.subject = message.Subject();
    s.organization = message.Organization();
    s.application = message.Application();
    s.textBody = message.TextBody();
    s.htmlBody = message.HtmlBody();
    s.dateTime = message.DateTime();
    s.dateOffset = message.dateOffset_;
    s.priority = message.Priority();
    s.confirmReading = message.ConfirmReading();
    s.recipients = Addresses(*message.Recipients());
    s.ccs = Addresses(*message.CCs());
    s.bccs = Addresses(*message.BCCs());
    s.replyTos = Addresses(*message.ReplyTos());
    for (const auto& h : *message.ExtraHeaders()) s.extraHeaders.push_back({h->Name(), h->Value()});
    for (const auto& a : *message.Attachments()) s.attachments.push_back(a->FileName());
    s.dkimDomain = message.DkimDomain();
    s.dkimSelector = message.DkimSelector();
    s.dkimKeyFile = message.DkimKeyFile();
    return s;
}

}  // namespace quillpost
