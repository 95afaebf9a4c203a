#include "platform/media_types.hpp"

#include <quillpost/detail/text.hpp>

#include <cstddef>

namespace quillpost {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

std::optional<std::string> MediaTypeInTable(std::string_view table, std::string_view extension) {
    if (extension.empty()) return std::nullopt;
    std::string_view rest = table;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);

        line = line.substr(0, line.find('#'));
        std::string_view type;
        while (true) {
            while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
            if (line.empty()) break;
            std::size_t length = 0;
            while (length < line.size() && !IsBlank(line[length])) ++length;
            const std::string_view word = line.substr(0, length);
            line.remove_prefix(length);
            if (type.empty()) {
                if (word.find('/') == std::string_view::npos) break;  // not a type: skip the line
                type = word;
            } else if (EqualsFolded(word, extension)) {
                return std::string(type);
            }
        }
    }
    return std::nullopt;
}

}  // namespace quillpost
