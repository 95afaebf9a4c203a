#include "smtp/data_stream.hpp"

namespace quillpost {

namespace {

// Where a line that begins with a period follows a line feed in `text`,
// looking from `from` on: the position of that line feed.
std::size_t FindPeriodLine(std::string_view text, std::size_t from) {
    for (;;) {
        const std::size_t feed = text.find('\n', from);
        if (feed == std::string_view::npos || feed + 1 >= text.size()) return std::string_view::npos;
        if (text[feed + 1] == '.') return feed;
        from = feed + 1;
    }
}

}  // namespace

void DataStream::Write(std::string_view text) {
    const bool leading = atLineStart_ && text.starts_with('.');
    if (!text.empty()) atLineStart_ = text.back() == '\n';
    // Most pieces hold no line that begins with a period and go as they are.
    std::size_t inner = FindPeriodLine(text, 0);
    if (!leading && inner == std::string_view::npos) {
        session_.SendText(text);
        return;
    }
    stuffed_.clear();
    if (leading) stuffed_ += '.';
    while (inner != std::string_view::npos) {
        stuffed_.append(text.substr(0, inner + 1));
        stuffed_ += '.';
        text.remove_prefix(inner + 1);
        inner = FindPeriodLine(text, 0);
    }
    stuffed_.append(text);
    session_.SendText(stuffed_);
}

void DataStream::End() { session_.EndOfData(); }

}  // namespace quillpost
