// Base64: the bulk encoder against the one-line encoder block by block, and
// the text decoded back to the input.
#include "fuzz_check.hpp"

#include <quillpost/base64.hpp>

#include <algorithm>
#include <span>
#include <string>
#include <string_view>

namespace {

int Sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Decodes one line (without its line break); stops the run on anything but
// whole groups of the alphabet with padding only at the end.
std::string DecodeLine(std::string_view line) {
    QP_FUZZ_CHECK(line.size() % 4 == 0);
    std::string out;
    for (std::size_t i = 0; i < line.size(); i += 4) {
        const bool last = i + 4 == line.size();
        const std::size_t padding = last ? static_cast<std::size_t>(std::count(line.end() - 2, line.end(), '=')) : 0;
        if (padding == 1) QP_FUZZ_CHECK(line[i + 3] == '=' && line[i + 2] != '=');
        unsigned group = 0;
        for (std::size_t k = 0; k < 4 - padding; ++k) {
            const int v = Sextet(line[i + k]);
            QP_FUZZ_CHECK(v >= 0);
            group |= static_cast<unsigned>(v) << (18 - 6 * k);
        }
        for (std::size_t k = 0; k < 3 - padding; ++k) out += static_cast<char>(group >> (16 - 8 * k) & 0xFF);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    // The bulk form appends: what was there before stays.
    const std::string before = "kept\r\n";
    std::string lines = before;
    quillpost::Base64EncodeLines(input, lines);
    QP_FUZZ_CHECK(lines.size() == before.size() + quillpost::Base64LinesSize(size));
    QP_FUZZ_CHECK(lines.starts_with(before));

    std::string_view text = std::string_view(lines).substr(before.size());
    std::string decoded;
    for (std::size_t at = 0; at < size; at += quillpost::kBase64LineBytes) {
        const auto block = input.subspan(at, std::min(quillpost::kBase64LineBytes, size - at));
        const std::string line = quillpost::Base64EncodeLine(block);
        QP_FUZZ_CHECK(text.starts_with(line));
        QP_FUZZ_CHECK(line.size() <= 78 && line.ends_with("\r\n"));
        decoded += DecodeLine(std::string_view(line).substr(0, line.size() - 2));
        text.remove_prefix(line.size());
    }
    QP_FUZZ_CHECK(text.empty());
    QP_FUZZ_CHECK(decoded == std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
