#include "mailer/dkim.hpp"

#include <quillpost/detail/errors.hpp>
#include <quillpost/detail/text.hpp>

#include "platform/file.hpp"
#include "platform/registry.hpp"
#include "smtp/sasl.hpp"

#include <cstring>
#include <span>

namespace quillpost {

namespace {

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A PEM key is a few kilobytes; anything far larger is no key.
constexpr std::uint64_t kLargestKeyFile = 64 * 1024;

// Where a tag list's line is folded: RFC 5322 2.1.1 recommends 78.
constexpr std::size_t kFoldAt = 76;

std::string Base64Of(std::string_view bytes) { return Base64Text(bytes); }

std::string SenderDomain(std::string_view address) {
    const auto at = address.rfind('@');
    return at == std::string_view::npos ? std::string() : std::string(address.substr(at + 1));
}

// The key's bytes are wiped once they are no longer needed.
struct Wiped {
    std::string text;
    ~Wiped() {
        volatile char* p = text.data();
        for (std::size_t i = 0; i < text.size(); ++i) p[i] = 0;
    }
};

std::string RegistryText(const RegistryKey& key, std::string_view name) {
    Variant value;
    if (ReadRegistryValue(key, name, value) != kRegSuccess || !value.is_text()) return {};
    return value.text();
}

}  // namespace

void RelaxedBody::Text(std::string_view text) {
    static constexpr std::string_view kBreaks = "\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n";
    while (heldLines_ > 0) {
        const std::uint64_t n = std::min<std::uint64_t>(heldLines_, kBreaks.size() / 2);
        Emit(kBreaks.substr(0, static_cast<std::size_t>(n * 2)));
        heldLines_ -= n;
    }
    if (blank_) Emit(" ");
    blank_ = false;
    lineHasText_ = true;
    Emit(text);
}

void RelaxedBody::Write(std::string_view piece) {
    while (!piece.empty()) {
        if (carriageReturn_) {
            carriageReturn_ = false;
            if (piece.front() == '\n') {
                // The end of a line: its trailing blanks are dropped, and an
                // empty line waits until text follows it.
                piece.remove_prefix(1);
                blank_ = false;
                if (lineHasText_)
                    Emit("\r\n");
                else
                    ++heldLines_;
                lineHasText_ = false;
                continue;
            }
            Text("\r");  // a carriage return without its line feed is text
        }
        // The text up to the next blank or carriage return goes as it is.
        const char* start = piece.data();
        std::size_t end = piece.size();
        for (const char special : {'\r', ' ', '\t'})
            if (const void* at = std::memchr(start, special, end)) end = static_cast<std::size_t>(static_cast<const char*>(at) - start);
        if (end > 0) Text(piece.substr(0, end));
        if (end == piece.size()) return;
        if (piece[end] == '\r')
            carriageReturn_ = true;
        else
            blank_ = true;
        piece.remove_prefix(end + 1);
    }
}

void RelaxedBody::Emit(std::string_view text) {
    // The hash takes the canonical body in large blocks: a call per line
    // would cost more than the hashing.
    out_.append(text);
    if (out_.size() >= kHashBlock) {
        hash_.Update(out_);
        out_.clear();
    }
}

void RelaxedBody::Finish() {
    if (carriageReturn_) Text("\r");
    carriageReturn_ = false;
    // RFC 6376 3.4.4: a body with text gets a final line break; the empty
    // lines at its end do not count.
    if (lineHasText_) Emit("\r\n");
    lineHasText_ = false;
    heldLines_ = 0;
    blank_ = false;
    hash_.Update(out_);
    out_.clear();
}

std::string RelaxedHeader(std::string_view field) {
    const auto colon = field.find(':');
    std::string out;
    std::string_view name = field.substr(0, colon);
    while (!name.empty() && IsBlank(name.back())) name.remove_suffix(1);
    out = FoldCase(name);
    out += ':';
    if (colon == std::string_view::npos) return out + "\r\n";
    bool blank = false;
    bool started = false;
    for (const char c : field.substr(colon + 1)) {
        if (c == '\r' || c == '\n') continue;  // unfolded
        if (IsBlank(c)) {
            blank = true;
            continue;
        }
        // Blanks at the start of the value go; runs inside it become one.
        if (blank && started) out += ' ';
        blank = false;
        started = true;
        out += c;
    }
    return out + "\r\n";
}

std::vector<std::string_view> HeaderFields(std::string_view section) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (std::size_t at = section.find("\r\n"); at != std::string_view::npos; at = section.find("\r\n", at + 2)) {
        const std::size_t end = at + 2;
        // A line that begins with a blank continues the field before it.
        if (end < section.size() && IsBlank(section[end])) continue;
        fields.push_back(section.substr(start, end - start));
        start = end;
    }
    if (start < section.size()) fields.push_back(section.substr(start));
    return fields;
}

std::string DkimKeyPath(std::string_view domain) {
    return std::string(kProductKey) + "\\Dkim\\" + std::string(domain);
}

DkimKey LoadDkimKey(const std::string& file) {
    Wiped pem;
    try {
        InputFile in(file);
        const std::uint64_t length = in.Length();
        if (length > kLargestKeyFile) raise(Err::DkimKeyUnusable, file + " is too large to be a key");
        pem.text.resize(static_cast<std::size_t>(length));
        in.ReadExactly(std::span(reinterpret_cast<std::uint8_t*>(pem.text.data()), pem.text.size()));
    } catch (const Error& e) {
        if (e.number() == error_info(Err::DkimKeyUnusable).number) throw;
        raise(Err::DkimKeyUnusable, "cannot read " + file + ": " + e.description());
    }
    return DkimKey::FromPem(pem.text, file);
}

std::optional<DkimSigner> ResolveDkimSigner(const Snapshot& m) {
    std::string domain = m.dkimDomain;
    std::string selector = m.dkimSelector;
    std::string file = m.dkimKeyFile;
    const std::string sender = SenderDomain(m.fromAddress);
    if (domain.empty() && selector.empty() && file.empty()) {
        if (sender.empty()) return std::nullopt;
        RegistryKey key;
        if (key.Open(RegistryRoot::LocalMachine, DkimKeyPath(sender)) != kRegSuccess) return std::nullopt;
        const std::string where = "HKEY_LOCAL_MACHINE\\" + DkimKeyPath(sender);
        file = RegistryText(key, "KeyFile");
        selector = RegistryText(key, "Selector");
        if (file.empty()) raise(Err::DkimKeyUnusable, "no value \"KeyFile\" in " + where);
        if (selector.empty()) raise(Err::DkimKeyUnusable, "no value \"Selector\" in " + where + " for " + file);
        domain = sender;
    }
    if (file.empty()) raise(Err::DkimKeyUnusable, "DkimKeyFile is not set");
    if (selector.empty()) raise(Err::DkimKeyUnusable, "DkimSelector is not set for " + file);
    if (domain.empty()) domain = sender;
    if (domain.empty()) raise(Err::DkimKeyUnusable, "DkimDomain is not set for " + file);
    return DkimSigner{domain, selector, LoadDkimKey(file)};
}

std::vector<std::string> SignedHeaderNames() {
    return {"From", "From", "To", "Cc", "Reply-To", "Subject", "Date", "Message-ID", "MIME-Version", "Content-Type"};
}

std::vector<std::string> SignedHeaderNames(const Snapshot& m) {
    std::vector<std::string> names = SignedHeaderNames();
    for (const auto& h : m.extraHeaders) {
        std::string_view name = h.name;
        if (name.ends_with(':')) name.remove_suffix(1);
        names.emplace_back(name);
    }
    return names;
}

std::string DkimSignatureLine(const DkimSigner& signer, const std::vector<std::string>& signedNames,
                              std::string_view headerSection, const Sha256Digest& bodyHash, std::int64_t unixTime) {
    const bool ed25519 = signer.key.Algorithm() == DkimAlgorithm::Ed25519Sha256;
    std::string line = "DKIM-Signature: v=1; a=";
    line += ed25519 ? "ed25519-sha256" : "rsa-sha256";
    line += "; c=relaxed/relaxed; d=" + signer.domain + "; s=" + signer.selector + ";\r\n\tt=" +
            std::to_string(unixTime) + "; h=";
    std::size_t column = line.size() - line.rfind('\n') - 1;
    for (std::size_t i = 0; i < signedNames.size(); ++i) {
        const std::string& name = signedNames[i];
        const std::size_t width = name.size() + (i + 1 < signedNames.size() ? 1 : 0);
        if (i > 0 && column + width > kFoldAt) {
            line += "\r\n\t";
            column = 1;
        }
        line += name;
        if (i + 1 < signedNames.size()) line += ':';
        column += width;
    }
    line += ";\r\n\tbh=" + Base64Of(std::string_view(reinterpret_cast<const char*>(bodyHash.data()), bodyHash.size())) +
            ";\r\n\tb=";

    // RFC 6376 5.4.2: each listed name takes the last instance not yet
    // taken, from the bottom up; a name without one adds nothing.
    const std::vector<std::string_view> fields = HeaderFields(headerSection);
    std::vector<bool> used(fields.size(), false);
    std::string signedText;
    for (const std::string& name : signedNames) {
        for (std::size_t i = fields.size(); i-- > 0;) {
            if (used[i]) continue;
            const std::string_view field = fields[i];
            const auto colon = field.find(':');
            std::string_view fieldName = field.substr(0, colon == std::string_view::npos ? 0 : colon);
            while (!fieldName.empty() && IsBlank(fieldName.back())) fieldName.remove_suffix(1);
            if (!EqualsFolded(fieldName, name)) continue;
            used[i] = true;
            signedText += RelaxedHeader(field);
            break;
        }
    }
    // RFC 6376 3.7: the signature's own line comes last, with "b=" empty
    // and without its final line break.
    std::string own = RelaxedHeader(line);
    own.resize(own.size() - 2);
    signedText += own;

    const std::string signature = Base64Of(signer.key.Sign(signedText));
    // Blanks inside "b=" do not count (RFC 6376 3.5), so it is folded freely.
    column = 3;
    for (std::size_t at = 0; at < signature.size();) {
        const std::size_t take = std::min(signature.size() - at, kFoldAt - column);
        if (at > 0) line += "\r\n\t";
        line.append(signature, at, take);
        at += take;
        column = 1;
    }
    return line + "\r\n";
}

std::string DkimRecord(const DkimKey& key) {
    const bool ed25519 = key.Algorithm() == DkimAlgorithm::Ed25519Sha256;
    return std::string("v=DKIM1; k=") + (ed25519 ? "ed25519" : "rsa") + "; p=" + Base64Of(key.PublicKey());
}

}  // namespace quillpost
