// DKIM signatures (RFC 6376, with ed25519-sha256 of RFC 8463): relaxed
// canonicalization of the body as a stream into a running hash and of the
// header lines as a pure function, the "DKIM-Signature" line, and the
// settings that turn signing on for a sender's domain.
#pragma once

#include "mailer/dkim_crypto.hpp"
#include "mailer/snapshot.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillpost {

// RFC 6376 3.4.4, relaxed body canonicalization, over a body that arrives in
// pieces of any size: blanks at the end of a line are dropped, every run of
// blanks inside a line becomes one blank, and empty lines are held back until
// text follows them, so the empty lines at the end of the body never count.
// A body that does not end with a line break gets one.
class RelaxedBody {
public:
    explicit RelaxedBody(Sha256& hash) : hash_(hash) {}
    void Write(std::string_view piece);
    // Ends the body and hands the rest to the hash; nothing may follow.
    void Finish();

private:
    void Text(std::string_view text);
    void Emit(std::string_view text);
    static constexpr std::size_t kHashBlock = 64 * 1024;
    Sha256& hash_;
    std::string out_;  // canonical text not yet hashed
    std::uint64_t heldLines_ = 0;  // empty lines not yet hashed
    bool blank_ = false;           // a run of blanks not yet hashed
    bool carriageReturn_ = false;  // a carriage return that may begin a line break
    bool lineHasText_ = false;
};

// RFC 6376 3.4.2, relaxed header canonicalization of one header field as it
// stands in the message (its continuation lines and final line break
// included): the name in lower case, the value unfolded, every run of blanks
// one blank, no blanks around the colon or at the end, then a line break.
std::string RelaxedHeader(std::string_view field);

// The header fields of a header section, each with its continuation lines
// and final line break.
std::vector<std::string_view> HeaderFields(std::string_view section);

// Who signs and with which key.
struct DkimSigner {
    std::string domain;    // d=
    std::string selector;  // s=
    DkimKey key;
};

// The signer for the message: from its DkimDomain, DkimSelector and
// DkimKeyFile when any is set (the domain defaults to the sender's), else from
// the values "Selector" and "KeyFile" of the registry key
// SOFTWARE\Brackenfold\Quillpost\Dkim\<sender's domain> under
// HKEY_LOCAL_MACHINE; nothing when neither asks for a signature. A key that
// cannot be read or used, or a setting left out, raises 9988 naming the file.
std::optional<DkimSigner> ResolveDkimSigner(const Snapshot& message);

// Reads the key file (at most 64 KiB of PEM); raises 9988 naming it.
DkimKey LoadDkimKey(const std::string& file);

// The registry key that holds a domain's signing settings.
std::string DkimKeyPath(std::string_view domain);

// The names that "h=" lists, in order: From twice (a From added on the way
// then breaks the signature), To, Cc, Reply-To, Subject, Date, Message-ID,
// MIME-Version, Content-Type, then the name of every extra header line.
std::vector<std::string> SignedHeaderNames(const Snapshot& message);
// The same names without extra header lines: for a message handed over whole.
std::vector<std::string> SignedHeaderNames();

// The whole "DKIM-Signature" header line (folded, with its line break) for a
// header section (the fields that precede the empty line) and the SHA-256 of
// the relaxed body, signed at `unixTime`.
std::string DkimSignatureLine(const DkimSigner& signer, const std::vector<std::string>& signedNames,
                              std::string_view headerSection, const Sha256Digest& bodyHash,
                              std::int64_t unixTime);

// The DNS TXT record that publishes the key: "v=DKIM1; k=rsa; p=..." (or
// k=ed25519), for <selector>._domainkey.<domain>.
std::string DkimRecord(const DkimKey& key);

}  // namespace quillpost
