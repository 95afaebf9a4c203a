#include "dry_run.hpp"

#include "mailer/content.hpp"
#include "mailer/content_passes.hpp"
#include "mailer/dkim.hpp"
#include "mailer/header_block.hpp"
#include "mailer/snapshot.hpp"
#include "smtp/data_stream.hpp"

namespace quillpost::qpmail {

namespace {

// What the writers of the message write to, in place of a session.
class StreamSink final : public DataSink {
public:
    explicit StreamSink(std::ostream& out) : out_(out) {}
    void Write(std::string_view text) override {
        out_.write(text.data(), static_cast<std::streamsize>(text.size()));
    }

private:
    std::ostream& out_;
};

}  // namespace

void WriteDataSection(Message& message, std::ostream& out) {
    // The refusals that come before anything is opened, as in send, then the
    // content that send writes.
    message.CheckSender(message.FromAddress());
    Snapshot snapshot = TakeSnapshot(message);
    CheckLineBreaks(snapshot);
    PrepareHeaders(snapshot);
    StreamSink sink(out);
    const std::optional<DkimSigner> signer = ResolveDkimSigner(snapshot);
    if (signer) {
        // Signed as send signs it: the content counted and hashed first.
        const MimeBoundaries boundaries = NewMimeBoundaries();
        const FirstPass first = RunFirstPass(snapshot, boundaries, true);
        RunSecondPass(snapshot, sink, first, SignatureLine(*signer, snapshot, first), boundaries, {});
    } else {
        WriteMessageContent(snapshot, sink);
    }
    // The end of the data adds an empty line before the lone period, and the
    // server keeps it as part of the message.
    sink.Write("\r\n");
    out.flush();
}

}  // namespace quillpost::qpmail
