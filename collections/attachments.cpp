#include <quillpost/collections.hpp>
#include <quillpost/detail/errors.hpp>

#include "platform/file.hpp"

namespace quillpost {

void Attachments::Add(const Variant& vFileName) {
    if (vFileName.is_blank() || vFileName.is_missing()) raise(Err::BlankAttachmentName);
    std::string name = vFileName.ToText();
    // Opened and closed at once: only whether the file can be read matters
    // now; its contents are read when the message is sent.
    { InputFile check(name); }
    auto item = std::make_shared<Attachment>();
    item->FileName(std::move(name));
    list_.Add(std::move(item));
}

}  // namespace quillpost
