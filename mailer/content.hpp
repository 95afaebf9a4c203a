// The content of the data section of one send: the header block, the MIME
// body and the attachment parts, in their order. `send` writes it through
// the data stream; a dry run writes it anywhere else.
#pragma once

#include "mailer/mime_writer.hpp"
#include "mailer/snapshot.hpp"
#include "smtp/data_stream.hpp"

#include <functional>
#include <string>
#include <string_view>

namespace quillpost {

// Writes the content of `message` to `out`. `step`, when given, is told as
// the body and then the attachments begin ("+ Sending message body",
// "+ Sending attachments"), so that send can trace them in their place.
void WriteMessageContent(const Snapshot& message, DataSink& out,
                         const std::function<void(std::string_view)>& step = {});

// What a writer of the same content twice needs: the boundaries made once,
// and word of where each attachment part begins and ends.
struct ContentPass {
    MimeBoundaries boundaries;
    std::function<void(std::string_view)> step;
    std::function<void(const std::string& path)> attachmentBegins;
    std::function<void(const std::string& path)> attachmentEnds;
};

void WriteMessageContent(const Snapshot& message, DataSink& out, const ContentPass& pass);

}  // namespace quillpost
