#include "smtp/reply_reader.hpp"

#include <utility>

namespace quillpost {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// RFC 5321 4.2.1: every line but the last of a multi-line reply has a hyphen
// after its code ("250-SIZE 1000").
bool IsContinuationLine(std::string_view line) {
    return line.size() >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) && line[3] == '-';
}

}  // namespace

bool Reply::Is(std::string_view code) const {
    if (!text.starts_with(code)) return false;
    if (text.size() == code.size()) return true;
    const char next = text[code.size()];
    return next == ' ' || next == '-' || next == '\r' || next == '\n';
}

std::vector<std::string_view> Reply::Lines() const {
    std::vector<std::string_view> lines;
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        line.remove_prefix(line.size() < 4 ? line.size() : 4);
        lines.push_back(line);
    }
    return lines;
}

std::optional<Reply> ReplyReader::TakeReply() {
    for (;;) {
        const std::size_t end = buffer_.find('\n', scanned_);
        if (end == std::string::npos) return std::nullopt;
        const std::string_view line(buffer_.data() + scanned_, end - scanned_);
        scanned_ = end + 1;
        if (IsContinuationLine(line)) continue;
        Reply reply{buffer_.substr(0, scanned_)};
        buffer_.erase(0, scanned_);
        scanned_ = 0;
        return reply;
    }
}

Reply ReplyReader::TakeAll() {
    Reply reply{std::exchange(buffer_, {})};
    scanned_ = 0;
    return reply;
}

void ReplyReader::Clear() {
    buffer_.clear();
    scanned_ = 0;
}

}  // namespace quillpost
