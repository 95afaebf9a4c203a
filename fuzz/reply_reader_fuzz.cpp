// The reply reader against whatever a server might send: the bytes arrive in
// two reads split where the first byte says, and every reply is taken as
// soon as it is complete.
#include "fuzz_check.hpp"

#include "smtp/reply_reader.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsContinuation(std::string_view line) {
    return line.size() >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) && line[3] == '-';
}

// The complete lines of `text`, without their line feeds.
std::vector<std::string_view> CompleteLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t end; (end = text.find('\n')) != std::string_view::npos; text.remove_prefix(end + 1))
        lines.push_back(text.substr(0, end));
    return lines;
}

void CheckReply(const quillpost::Reply& reply) {
    QP_FUZZ_CHECK(!reply.text.empty() && reply.text.back() == '\n');
    // A reply is continuation lines up to one that is not, and ends there.
    const auto lines = CompleteLines(reply.text);
    for (std::size_t i = 0; i < lines.size(); ++i) QP_FUZZ_CHECK(IsContinuation(lines[i]) == (i + 1 < lines.size()));
    const auto parts = reply.Lines();
    QP_FUZZ_CHECK(parts.size() == lines.size());
    for (const auto part : parts) QP_FUZZ_CHECK(part.find('\n') == std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = std::min<std::size_t>(data[0], input.size());

    quillpost::ReplyReader reader;
    std::string taken;
    for (const std::string_view piece : {input.substr(0, split), input.substr(split)}) {
        reader.Buffer().append(piece);
        while (auto reply = reader.TakeReply()) {
            CheckReply(*reply);
            taken += reply->text;
        }
    }
    const std::size_t held = reader.Size();
    const quillpost::Reply rest = reader.TakeAll();
    QP_FUZZ_CHECK(rest.text.size() == held && reader.Empty());
    // What is left is no complete reply: its whole lines all continue.
    for (const auto line : CompleteLines(rest.text)) QP_FUZZ_CHECK(IsContinuation(line));
    (void)rest.Lines();
    QP_FUZZ_CHECK(taken + rest.text == input);
    return 0;
}
