// A message's content written twice by the same writer: a first pass into a
// counter (and, for a signed message, into the body hash), a second onto
// the wire. The first pass tells SIZE (RFC 1870) and the body hash before the
// envelope is sent, and memory stays flat for attachments of any size. The
// header fields go out on the second pass exactly as the first pass wrote
// them, so the signed header section is the sent one; every attachment part
// must come out the same both times, or the send ends before the end of the
// data with 9989.
#pragma once

#include "mailer/content.hpp"
#include "mailer/dkim.hpp"
#include "mailer/snapshot.hpp"
#include "smtp/data_stream.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillpost {

// Follows the data section piece by piece: where the header section ends,
// the body's octets and checksum, and its relaxed hash when asked for.
class SectionTracker {
public:
    explicit SectionTracker(bool hashBody);
    ~SectionTracker();

    // What of `piece` belongs to the header section; the rest (after the
    // empty line that ends it) is the body, counted and hashed.
    std::string_view Follow(std::string_view piece);
    bool InHeader() const { return inHeader_; }

    // Where the body stands: its octets so far and a checksum of them.
    // The checksum only tells a changed file from the same one (it is no
    // defence against anyone, who could change the file before the first
    // pass as well), so a fast one does.
    struct Mark {
        std::uint64_t octets = 0;
        std::uint64_t checksum = 0;
        bool operator==(const Mark&) const = default;
    };
    Mark Here() const;
    // The body's hash, once it has ended.
    Sha256Digest BodyHash();

private:
    bool inHeader_ = true;
    bool atLineStart_ = true;
    std::uint64_t bodyOctets_ = 0;
    std::uint64_t checksum_ = 0;
    std::unique_ptr<Sha256> hash_;
    std::unique_ptr<RelaxedBody> body_;
};

// What the first pass learnt.
struct FirstPass {
    std::vector<std::string> headerPieces;  // as written, in order
    std::uint64_t octets = 0;               // the whole data section, its final empty line included
    std::vector<SectionTracker::Mark> attachmentEnds;
    SectionTracker::Mark end;
    std::optional<Sha256Digest> bodyHash;   // when signing

    std::string HeaderSection() const;
};

// Writes the content into the counter; hashes the body when `hashBody`.
FirstPass RunFirstPass(const Snapshot& message, const MimeBoundaries& boundaries, bool hashBody);

// The "DKIM-Signature" line for the content of the first pass, signed now.
std::string SignatureLine(const DkimSigner& signer, const Snapshot& message, const FirstPass& first);

// Writes the content onto `wire`, `signatureLine` (may be empty) first and
// the header pieces as the first pass wrote them; `step` as for
// WriteMessageContent. Raises 9989 with an attachment's path when the part
// differs from the first pass (or its file can no longer be read in full),
// before anything after that part is written.
void RunSecondPass(const Snapshot& message, DataSink& wire, const FirstPass& first, std::string_view signatureLine,
                   const MimeBoundaries& boundaries, const std::function<void(std::string_view)>& step);

// A message given whole, as a sendmail caller hands it over: the header
// section, the empty line and the body, with CRLF line ends.

// Its octets as the server keeps them (RFC 1870), the final line break
// included.
std::uint64_t PreparedOctets(std::string_view content);

// Its "DKIM-Signature" line, signed now: the fields that h= names as they
// stand in its header section, and its body through the relaxed
// canonicalization.
std::string PreparedSignatureLine(const DkimSigner& signer, std::string_view content);

// Writes `signatureLine` (may be empty), then the message, one piece per
// line so that the trace shows each; the end of the data brings the last
// line break itself.
void WritePreparedContent(DataSink& wire, std::string_view signatureLine, std::string_view content);

}  // namespace quillpost
