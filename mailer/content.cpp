#include "mailer/content.hpp"

#include "mailer/header_block.hpp"
#include "mailer/mime_writer.hpp"

namespace quillpost {

void WriteMessageContent(const Snapshot& m, DataSink& out, const std::function<void(std::string_view)>& step) {
    ContentPass pass{NewMimeBoundaries(), step, {}, {}};
    WriteMessageContent(m, out, pass);
}

void WriteMessageContent(const Snapshot& m, DataSink& out, const ContentPass& pass) {
    MimeWriter mime(out, pass.boundaries);
    WriteHeaderBlock(m, out);
    if (pass.step) pass.step("+ Sending message body");
    mime.WriteBodies(m.textBody, m.htmlBody, !m.attachments.empty());
    if (pass.step) pass.step("+ Sending attachments");
    for (const auto& a : m.attachments) {
        if (pass.attachmentBegins) pass.attachmentBegins(a);
        mime.WriteAttachment(a);
        if (pass.attachmentEnds) pass.attachmentEnds(a);
    }
    mime.Close();
}

}  // namespace quillpost
