#include "mailer/content_passes.hpp"

#include <quillpost/detail/errors.hpp>
#include <quillpost/host_events.hpp>

#include <algorithm>
#include <cstring>
#include <chrono>

namespace quillpost {

namespace {

// The file layer's errors (see platform/file.hpp): an attachment that could
// be read in full on the first pass and fails now has changed.
bool IsFileError(std::int32_t number) {
    for (const Err e : {Err::FileNotFound, Err::DeviceIOError, Err::PermissionDenied, Err::PathFileAccessError,
                        Err::PathNotFound})
        if (error_info(e).number == number) return true;
    return false;
}

// Mixes `bytes` into a 64-bit checksum, sixteen octets at a time in two
// lanes. Multiplying by an odd number is a bijection, so a difference in
// any octet stays in the sum unless a later one cancels it exactly.
std::uint64_t Mix(std::uint64_t h, std::string_view bytes) {
    constexpr std::uint64_t kOdd1 = 0x9E3779B97F4A7C15u;
    constexpr std::uint64_t kOdd2 = 0xC2B2AE3D27D4EB4Fu;
    std::uint64_t other = h ^ bytes.size();
    std::size_t at = 0;
    for (; at + 16 <= bytes.size(); at += 16) {
        std::uint64_t a, b;
        std::memcpy(&a, bytes.data() + at, 8);
        std::memcpy(&b, bytes.data() + at + 8, 8);
        h = (h ^ a) * kOdd1;
        other = (other ^ b) * kOdd2;
    }
    for (; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + at, 8);
        h = (h ^ word) * kOdd1;
    }
    if (at < bytes.size() && bytes.size() >= 8) {
        // The last octets, in the eight that end the piece.
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + bytes.size() - 8, 8);
        h = (h ^ word) * kOdd2;
    } else {
        for (; at < bytes.size(); ++at) h = (h ^ static_cast<unsigned char>(bytes[at])) * kOdd1;
    }
    h ^= (other >> 32 | other << 32) * kOdd1;
    return h ^ (h >> 29);
}

class CountingSink final : public DataSink {
public:
    CountingSink(FirstPass& result, bool hashBody) : result_(result), tracker_(hashBody) {}
    void Write(std::string_view piece) override {
        octets_ += piece.size();
        const std::string_view header = tracker_.Follow(piece);
        if (!header.empty()) result_.headerPieces.emplace_back(header);
    }
    std::uint64_t Octets() const { return octets_; }
    SectionTracker& Tracker() { return tracker_; }

private:
    FirstPass& result_;
    SectionTracker tracker_;
    std::uint64_t octets_ = 0;
};

// The second pass: the header pieces replaced by the first pass's, the
// signature before them, and every attachment part checked.
class ReplaySink final : public DataSink {
public:
    ReplaySink(DataSink& wire, const FirstPass& first, std::string_view signatureLine)
        : wire_(wire), first_(first), signature_(signatureLine), tracker_(false) {}

    void Write(std::string_view piece) override {
        if (!tracker_.InHeader()) {
            tracker_.Follow(piece);
            wire_.Write(piece);
            return;
        }
        const std::string_view header = tracker_.Follow(piece);
        if (!signature_.empty()) {
            wire_.Write(signature_);
            signature_ = {};
        }
        if (!header.empty()) {
            if (next_ >= first_.headerPieces.size()) raise(Err::InternalError, "the header section grew");
            wire_.Write(first_.headerPieces[next_++]);
        }
        if (header.size() < piece.size()) {
            if (next_ != first_.headerPieces.size()) raise(Err::InternalError, "the header section shrank");
            wire_.Write(piece.substr(header.size()));
        }
    }

    void AttachmentEnds(const std::string& path) {
        const std::size_t index = ended_++;
        if (index >= first_.attachmentEnds.size() || !(tracker_.Here() == first_.attachmentEnds[index]))
            raise(Err::AttachmentChanged, path);
    }

    void Finish() {
        // The data section's final empty line comes from the end of the data.
        tracker_.Follow("\r\n");
        if (next_ != first_.headerPieces.size()) raise(Err::InternalError, "the header section shrank");
        if (!(tracker_.Here() == first_.end)) raise(Err::InternalError, "the content changed");
    }

private:
    DataSink& wire_;
    const FirstPass& first_;
    std::string_view signature_;
    SectionTracker tracker_;
    std::size_t next_ = 0;
    std::size_t ended_ = 0;
};

}  // namespace

SectionTracker::SectionTracker(bool hashBody) {
    if (!hashBody) return;
    hash_ = std::make_unique<Sha256>();
    body_ = std::make_unique<RelaxedBody>(*hash_);
}

SectionTracker::~SectionTracker() = default;

std::string_view SectionTracker::Follow(std::string_view piece) {
    std::string_view header;
    std::string_view body = piece;
    if (inHeader_) {
        std::size_t end = std::string_view::npos;  // where the empty line begins
        if (atLineStart_ && piece.starts_with("\r\n"))
            end = 0;
        else if (const auto at = piece.find("\r\n\r\n"); at != std::string_view::npos)
            end = at + 2;
        if (end == std::string_view::npos) {
            header = piece;
            body = {};
        } else {
            header = piece.substr(0, end);
            body = piece.substr(end + 2);
            inHeader_ = false;
        }
    }
    if (!piece.empty()) atLineStart_ = piece.back() == '\n';
    bodyOctets_ += body.size();
    checksum_ = Mix(checksum_, body);
    if (body_ && !body.empty()) body_->Write(body);
    return header;
}

SectionTracker::Mark SectionTracker::Here() const { return Mark{bodyOctets_, checksum_}; }

Sha256Digest SectionTracker::BodyHash() {
    body_->Finish();
    return hash_->Peek();
}

std::string FirstPass::HeaderSection() const {
    std::string section;
    for (const auto& piece : headerPieces) section += piece;
    return section;
}

FirstPass RunFirstPass(const Snapshot& m, const MimeBoundaries& boundaries, bool hashBody) {
    // The progress of attachments counts what goes to the server: nothing
    // of this pass.
    struct QuietProgress {
        AttachmentProgressHook saved = SetAttachmentProgressHook({});
        ~QuietProgress() { SetAttachmentProgressHook(std::move(saved)); }
    } quiet;
    FirstPass result;
    CountingSink sink(result, hashBody);
    ContentPass pass{boundaries, {}, {}, [&](const std::string&) {
                         result.attachmentEnds.push_back(sink.Tracker().Here());
                     }};
    WriteMessageContent(m, sink, pass);
    // The end of the data adds an empty line before the lone period, and the
    // server keeps it as part of the message.
    sink.Write("\r\n");
    result.octets = sink.Octets();
    result.end = sink.Tracker().Here();
    if (hashBody) result.bodyHash = sink.Tracker().BodyHash();
    return result;
}

namespace {

// t= of a signature made now.
std::int64_t UnixTimeNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::seconds>(now).count();
}

}  // namespace

std::string SignatureLine(const DkimSigner& signer, const Snapshot& m, const FirstPass& first) {
    return DkimSignatureLine(signer, SignedHeaderNames(m), first.HeaderSection(), first.bodyHash.value(),
                             UnixTimeNow());
}

void RunSecondPass(const Snapshot& m, DataSink& wire, const FirstPass& first, std::string_view signatureLine,
                   const MimeBoundaries& boundaries, const std::function<void(std::string_view)>& step) {
    ReplaySink sink(wire, first, signatureLine);
    const std::string* current = nullptr;
    ContentPass pass{boundaries, step, [&](const std::string& path) { current = &path; },
                     [&](const std::string& path) {
                         current = nullptr;
                         sink.AttachmentEnds(path);
                     }};
    try {
        WriteMessageContent(m, sink, pass);
    } catch (const Error& e) {
        if (current != nullptr && IsFileError(e.number())) raise(Err::AttachmentChanged, *current);
        throw;
    }
    sink.Finish();
}

std::uint64_t PreparedOctets(std::string_view content) {
    return content.size() + (content.ends_with("\r\n") ? 0 : 2);
}

std::string PreparedSignatureLine(const DkimSigner& signer, std::string_view content) {
    // RFC 5322 2.1: the header section ends at the first empty line.
    const std::size_t end = content.starts_with("\r\n") ? 0 : content.find("\r\n\r\n");
    const bool hasBody = end != std::string_view::npos;
    const std::string_view header = hasBody ? content.substr(0, end == 0 ? 0 : end + 2) : content;
    Sha256 hash;
    RelaxedBody body(hash);
    if (hasBody) body.Write(content.substr(end == 0 ? 2 : end + 4));
    body.Finish();
    return DkimSignatureLine(signer, SignedHeaderNames(), header, hash.Peek(), UnixTimeNow());
}

void WritePreparedContent(DataSink& wire, std::string_view signatureLine, std::string_view content) {
    if (!signatureLine.empty()) wire.Write(signatureLine);
    if (content.ends_with("\r\n")) content.remove_suffix(2);
    for (std::size_t start = 0; start < content.size();) {
        const std::size_t end = content.find('\n', start);
        const std::size_t next = end == std::string_view::npos ? content.size() : end + 1;
        wire.Write(content.substr(start, next - start));
        start = next;
    }
}

}  // namespace quillpost
