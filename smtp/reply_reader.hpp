// The server's replies, cut out of the bytes as they arrive. A server may
// split one reply across several reads, or send several replies in one; the
// reader hands out one complete reply at a time and keeps every byte after
// it for the next.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillpost {

// One reply: its lines as received, line breaks included.
struct Reply {
    std::string text;

    // True when the reply carries `code` ("250"): the code, then a blank, a
    // hyphen, a line break or nothing more ("2500" is another code).
    bool Is(std::string_view code) const;
    // The text of each line after its code and the hyphen or blank that
    // follows it, without the line break ("250-SIZE 1000" gives "SIZE 1000").
    std::vector<std::string_view> Lines() const;
};

class ReplyReader {
public:
    // The bytes that have arrived are appended here.
    std::string& Buffer() { return buffer_; }
    bool Empty() const { return buffer_.empty(); }
    std::size_t Size() const { return buffer_.size(); }

    // The complete reply at the front, taken out: it ends with the first
    // whole line that is no continuation line (three digits and a hyphen).
    // Nothing while the reply is incomplete.
    std::optional<Reply> TakeReply();
    // Everything held, taken out: bytes that came unasked, or the part of a
    // reply that never became whole.
    Reply TakeAll();
    // Forgets everything held.
    void Clear();

private:
    std::string buffer_;
    std::size_t scanned_ = 0;  // where the first line not yet examined begins
};

}  // namespace quillpost
