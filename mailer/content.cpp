#include "mailer/content.hpp"

#include "mailer/header_block.hpp"
#include "mailer/mime_writer.hpp"

namespace quillpost {

void WriteMessageContent(const Snapshot& m, DataSink& out, const std::function<void(std::string_view)>& step) {
    MimeWriter mime(out);
    WriteHeaderBlock(m, out);
    if (step) step("+ Sending message body");
    mime.WriteBodies(m.textBody, m.htmlBody, !m.attachments.empty());
    if (step) step("+ Sending attachments");
    for (const auto& a : m.attachments) mime.WriteAttachment(a);
    mime.Close();
}

}  // namespace quillpost
