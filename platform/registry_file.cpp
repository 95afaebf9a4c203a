#include "platform/registry_file.hpp"

#include <quillpost/detail/text.hpp>

#include "encoding/utf16.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

namespace quillpost {

namespace {

// Each root under its full and its short name, as export files write them.
struct RootName {
    std::string_view name;
    RegistryRoot root;
};
constexpr std::array<RootName, 8> kRootNames{{
    {"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot},
    {"HKCR", RegistryRoot::ClassesRoot},
    {"HKEY_CURRENT_USER", RegistryRoot::CurrentUser},
    {"HKCU", RegistryRoot::CurrentUser},
    {"HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine},
    {"HKLM", RegistryRoot::LocalMachine},
    {"HKEY_USERS", RegistryRoot::Users},
    {"HKU", RegistryRoot::Users},
}};

// Key and value names are compared as Windows compares them: letter case
// does not matter (FoldCase and EqualsFolded fold ASCII letters only).
bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsFolded(text.substr(0, prefix.size()), prefix);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// The text of a registry file with any byte order mark dealt with.
std::string DecodeRegistryText(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
    if (bytes.starts_with("\xFF\xFE")) return Utf16LeToUtf8(bytes.substr(2));
    return std::string(bytes);
}

// Splits text at line feeds; a carriage return before one is left for Trim.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::optional<RegistryRoot> RootNamed(std::string_view name) {
    for (const RootName& entry : kRootNames)
        if (EqualsFolded(entry.name, name)) return entry.root;
    return std::nullopt;
}

// True when `prefix` is `path` itself or one of its ancestors.
bool Covers(const RegistryKeyPath& prefix, const RegistryKeyPath& path) {
    if (prefix.root != path.root || prefix.parts.size() > path.parts.size()) return false;
    for (std::size_t i = 0; i < prefix.parts.size(); ++i)
        if (prefix.parts[i] != path.parts[i]) return false;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1 to `maxDigits` hex digits, nothing else.
std::optional<std::uint32_t> ParseHex(std::string_view digits, std::size_t maxDigits) {
    if (digits.empty() || digits.size() > maxDigits) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : digits) {
        const int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        value = value << 4 | static_cast<std::uint32_t>(d);
    }
    return value;
}

// What may follow a value on its line: blanks, or a comment.
bool OnlyCommentLeft(std::string_view rest) {
    rest = Trim(rest);
    return rest.empty() || rest.front() == ';';
}

// A quoted name or string at the start of `text`: the text between the
// quotes with \\ and \" resolved; `text` is left after the closing quote.
// A backslash before any other character stands for itself.
std::optional<std::string> TakeQuoted(std::string_view& text) {
    if (text.empty() || text.front() != '"') return std::nullopt;
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return out;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) ++i;
        out += text[i];
    }
    return std::nullopt;  // no closing quote
}

// The name at the start of a value line, "" for the default value (@); the
// line is left after the equals sign.
std::optional<std::string> TakeValueName(std::string_view& line) {
    std::optional<std::string> name;
    if (!line.empty() && line.front() == '@') {
        line.remove_prefix(1);
        name = std::string();
    } else {
        name = TakeQuoted(line);
        if (!name) return std::nullopt;
    }
    line = Trim(line);
    if (line.empty() || line.front() != '=') return std::nullopt;
    line = Trim(line.substr(1));
    return name;
}

// Comma-separated bytes of a hex: value, each one or two hex digits; a comma
// may end the list.
std::optional<std::string> ParseHexBytes(std::string_view list) {
    std::string bytes;
    list = Trim(list);
    while (!list.empty()) {
        const auto comma = list.find(',');
        const auto byte = ParseHex(Trim(list.substr(0, comma)), 2);
        if (!byte) return std::nullopt;
        bytes += static_cast<char>(*byte);
        if (comma == std::string_view::npos) break;
        list = Trim(list.substr(comma + 1));
    }
    return bytes;
}

std::string DwordBytes(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i) & 0xFF);
    return bytes;
}

// One value line, its continuation lines already joined.
struct ValueLine {
    std::string name;     // lower case; "" for the default value
    bool removal = false;  // "Name"=- takes the value away
    RegistryKey::Value value;
};

std::optional<ValueLine> ParseValueLine(std::string_view line) {
    ValueLine parsed;
    auto name = TakeValueName(line);
    if (!name) return std::nullopt;
    parsed.name = FoldCase(*name);

    if (line == "-") {
        parsed.removal = true;
        return parsed;
    }
    if (!line.empty() && line.front() == '"') {
        auto text = TakeQuoted(line);
        if (!text || !OnlyCommentLeft(line)) return std::nullopt;
        parsed.value.type = kRegSz;
        parsed.value.data = std::move(*text);
        parsed.value.data += '\0';
        return parsed;
    }
    if (StartsWithNoCase(line, "dword:")) {
        line.remove_prefix(6);
        const auto end = line.find(';');
        const auto number = ParseHex(Trim(line.substr(0, end)), 8);
        if (!number) return std::nullopt;
        parsed.value.type = kRegDword;
        parsed.value.data = DwordBytes(*number);
        return parsed;
    }
    if (StartsWithNoCase(line, "hex")) {
        line.remove_prefix(3);
        std::uint32_t type = kRegBinary;
        if (!line.empty() && line.front() == '(') {
            const auto close = line.find(')');
            if (close == std::string_view::npos) return std::nullopt;
            const auto number = ParseHex(line.substr(1, close - 1), 8);
            if (!number) return std::nullopt;
            type = *number;
            line.remove_prefix(close + 1);
        }
        if (line.empty() || line.front() != ':') return std::nullopt;
        line.remove_prefix(1);
        const auto end = line.find(';');
        auto bytes = ParseHexBytes(line.substr(0, end));
        if (!bytes) return std::nullopt;
        parsed.value.type = type;
        parsed.value.data = std::move(*bytes);
        return parsed;
    }
    return std::nullopt;
}

// A line of hex data that ends in a backslash goes on on the next line.
bool ContinuesOnNextLine(std::string_view line) {
    if (line.empty() || line.back() != '\\') return false;
    if (!TakeValueName(line)) return false;
    return StartsWithNoCase(line, "hex");
}

}  // namespace

std::vector<std::string> SplitKeyNames(std::string_view path) {
    std::vector<std::string> parts;
    while (true) {
        const auto slash = path.find('\\');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty()) parts.push_back(FoldCase(part));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

KeyInFile FindKeyInExport(std::string_view bytes, const RegistryKeyPath& target) {
    KeyInFile found;
    const std::string text = DecodeRegistryText(bytes);
    const std::vector<std::string_view> lines = Lines(text);

    std::size_t i = 0;
    while (i < lines.size() && Trim(lines[i]).empty()) ++i;
    if (i == lines.size()) return found;
    const std::string_view header = Trim(lines[i]);
    if (header != "REGEDIT4" && header != "Windows Registry Editor Version 5.00") return found;

    bool inTarget = false;
    for (++i; i < lines.size(); ++i) {
        std::string_view line = Trim(lines[i]);
        if (line.empty() || line.front() == ';') continue;

        if (line.front() == '[') {
            inTarget = false;
            const auto close = line.rfind(']');
            if (close == std::string_view::npos) continue;
            std::string_view inside = line.substr(1, close - 1);
            const bool removal = !inside.empty() && inside.front() == '-';
            if (removal) inside.remove_prefix(1);
            const auto rootEnd = inside.find('\\');
            const auto root = RootNamed(inside.substr(0, rootEnd));
            if (!root) continue;
            RegistryKeyPath section{*root, {}};
            if (rootEnd != std::string_view::npos) section.parts = SplitKeyNames(inside.substr(rootEnd + 1));

            if (removal) {
                if (Covers(section, target)) {
                    found.presence = KeyPresence::Removed;
                    found.values.clear();
                }
            } else if (Covers(target, section)) {
                found.presence = KeyPresence::Present;
                inTarget = section.parts.size() == target.parts.size();
            }
            continue;
        }

        std::string joined;
        if (ContinuesOnNextLine(line)) {
            joined = line;
            while (!joined.empty() && joined.back() == '\\' && i + 1 < lines.size()) {
                joined.pop_back();
                joined += Trim(lines[++i]);
            }
            if (!joined.empty() && joined.back() == '\\') joined.pop_back();  // the file ended
            line = joined;
        }
        if (!inTarget) continue;
        auto parsed = ParseValueLine(line);
        if (!parsed) continue;  // a line that cannot be read is passed over
        if (parsed->removal)
            found.values.erase(parsed->name);
        else
            found.values[parsed->name] = std::move(parsed->value);
    }
    return found;
}

}  // namespace quillpost
