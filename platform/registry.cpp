#include <quillpost/detail/text.hpp>
#include "platform/registry.hpp"

#include <quillpost/variant.hpp>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillpost {

namespace {

constexpr const char* kRegistryVariable = "QUILLPOST_REGISTRY";
constexpr const char* kRegistryDefault = "/etc/quillpost/registry.reg";
constexpr const char* kMediaTypesVariable = "QUILLPOST_MIME_TYPES";
constexpr const char* kMediaTypesDefault = "/etc/mime.types";
constexpr std::string_view kContentType = "Content Type";

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

std::string PathFrom(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? std::string(value) : std::string(fallback);
}

// The whole file, or nothing when it is missing, cannot be read or is not a
// plain file (a pipe in its place must not hold up the sender).
std::string ReadWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return {};
    std::string text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        // Read straight into the text, sized by the file; a file that grows
        // meanwhile is read to its end all the same.
        std::size_t used = 0;
        text.resize(static_cast<std::size_t>(st.st_size) + 1);
        while (true) {
            if (used == text.size()) text.resize(text.size() * 2);
            const ssize_t got = ::read(fd, text.data() + used, text.size() - used);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                text.resize(got < 0 ? 0 : used);
                break;
            }
            used += static_cast<std::size_t>(got);
        }
    }
    ::close(fd);
    return text;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Registry Editor writes its version 5 exports in UTF-16 (little-endian, with
// a byte order mark); the rest of the component works on 8-bit text, so such
// a file is taken as UTF-8. Unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::uint32_t code = unit(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (code >= 0xD800 && code < 0xE000) code = 0xFFFD;
        AppendUtf8(out, code);
    }
    return out;
}

// The text of a registry file with any byte order mark dealt with.
std::string DecodeRegistryText(std::string bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return bytes.substr(3);
    if (bytes.starts_with("\xFF\xFE")) return Utf16LeToUtf8(std::string_view(bytes).substr(2));
    return bytes;
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

// A path of key names, lower case, without empty parts.
struct KeyPath {
    RegistryRoot root = RegistryRoot::LocalMachine;
    std::vector<std::string> parts;
};

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

std::optional<RegistryRoot> RootNamed(std::string_view name) {
    for (const RootName& entry : kRootNames)
        if (EqualsFolded(entry.name, name)) return entry.root;
    return std::nullopt;
}

// True when `prefix` is `path` itself or one of its ancestors.
bool Covers(const KeyPath& prefix, const KeyPath& path) {
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

enum class Presence { Unknown, Present, Removed };

// What the registry file says about one key.
struct KeyInFile {
    Presence presence = Presence::Unknown;
    std::map<std::string, RegistryKey::Value> values;
};

// Reads the registry file through once and keeps what concerns `target`.
// Sections are applied in order, as an import would apply them: a key
// exists when a section names it or a key below it; a [-...] section takes
// away its key and everything below; a section given twice adds to the
// values of the first, later values replacing earlier ones.
KeyInFile ScanRegistryFile(const KeyPath& target) {
    KeyInFile found;
    const std::string text = DecodeRegistryText(ReadWholeFile(RegistryFilePath()));
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
            KeyPath section{*root, {}};
            if (rootEnd != std::string_view::npos) section.parts = SplitKeyNames(inside.substr(rootEnd + 1));

            if (removal) {
                if (Covers(section, target)) {
                    found.presence = Presence::Removed;
                    found.values.clear();
                }
            } else if (Covers(target, section)) {
                found.presence = Presence::Present;
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

// The media type registered for an extension (without its period) in the
// system's table: lines of a type followed by its extensions, '#' comments.
// The first line that lists the extension wins; the type is returned as the
// table writes it.
std::optional<std::string> MediaTypeOf(std::string_view extension) {
    if (extension.empty()) return std::nullopt;
    const std::string table = ReadWholeFile(MediaTypesFilePath());
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

}  // namespace

std::string RegistryFilePath() { return PathFrom(kRegistryVariable, kRegistryDefault); }

std::string MediaTypesFilePath() { return PathFrom(kMediaTypesVariable, kMediaTypesDefault); }

RegistryKey::RegistryKey(RegistryKey&& other) noexcept
    : open_(std::exchange(other.open_, false)), values_(std::move(other.values_)) {
    other.values_.clear();
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        open_ = std::exchange(other.open_, false);
        values_ = std::move(other.values_);
        other.values_.clear();
    }
    return *this;
}

std::int32_t RegistryKey::Open(RegistryRoot root, std::string_view subKey) {
    Close();
    const KeyPath target{root, SplitKeyNames(subKey)};
    KeyInFile inFile = ScanRegistryFile(target);

    if (target.parts.empty() || inFile.presence == Presence::Present) {
        values_ = std::move(inFile.values);
        open_ = true;
        return kRegSuccess;
    }
    // File types the registry file does not mention come from the system's
    // table of media types; a key the file takes away stays away.
    if (root == RegistryRoot::ClassesRoot && inFile.presence == Presence::Unknown &&
        target.parts.size() == 1 && target.parts.front().starts_with('.')) {
        if (auto type = MediaTypeOf(std::string_view(target.parts.front()).substr(1))) {
            Value& value = values_[FoldCase(kContentType)];
            value.type = kRegSz;
            value.data = std::move(*type);
            value.data += '\0';
            open_ = true;
            return kRegSuccess;
        }
    }
    return kRegFileNotFound;
}

std::int32_t RegistryKey::Close() {
    if (!open_) return kRegInvalidHandle;
    open_ = false;
    values_.clear();
    return kRegSuccess;
}

const RegistryKey::Value* RegistryKey::Find(std::string_view valueName) const {
    const std::string name = valueName == "@" ? std::string() : FoldCase(valueName);
    const auto it = values_.find(name);
    return it == values_.end() ? nullptr : &it->second;
}

std::int32_t RegistryKey::QueryValue(std::string_view valueName, std::uint32_t& type,
                                     std::uint32_t& size) const {
    if (!open_) return kRegInvalidHandle;
    const Value* value = Find(valueName);
    if (value == nullptr) return kRegFileNotFound;
    type = value->type;
    size = static_cast<std::uint32_t>(value->data.size());
    return kRegSuccess;
}

std::int32_t RegistryKey::ReadValue(std::string_view valueName, std::uint32_t size,
                                    std::string& data) const {
    data.clear();
    if (!open_) return kRegInvalidHandle;
    const Value* value = Find(valueName);
    if (value == nullptr) return kRegFileNotFound;
    if (value->data.size() > size) return kRegMoreData;
    data = value->data;
    return kRegSuccess;
}

std::int32_t RegistryKey::ReadDword(std::string_view valueName, std::uint32_t& value) const {
    std::string bytes;
    const std::int32_t status = ReadValue(valueName, 4, bytes);
    if (status != kRegSuccess) return status;
    value = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return kRegSuccess;
}

}  // namespace quillpost
