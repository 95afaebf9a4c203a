#include "platform/registry_text.hpp"

#include <algorithm>

namespace quillpost {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// The text between quotes with \\ and \" resolved; nothing when unquoted.
std::optional<std::string> Unquote(std::string_view s, std::size_t& end) {
    if (s.empty() || s.front() != '"') return std::nullopt;
    std::string out;
    for (std::size_t i = 1; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            out.push_back(s[++i]);
        } else if (s[i] == '"') {
            end = i + 1;
            return out;
        } else {
            out.push_back(s[i]);
        }
    }
    return std::nullopt;
}

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

bool AtOrBelow(std::string_view key, std::string_view top) {
    return key == top || (key.size() > top.size() && key.starts_with(top) && key[top.size()] == '\\');
}

}  // namespace

std::string NormalKey(std::string_view path) {
    std::string key = Lower(Trim(path));
    const std::pair<std::string_view, std::string_view> roots[] = {
        {"hkcr", "hkey_classes_root"}, {"hkcu", "hkey_current_user"},
        {"hklm", "hkey_local_machine"}, {"hku", "hkey_users"}};
    for (const auto& [shortName, longName] : roots)
        if (AtOrBelow(key, shortName)) key = std::string(longName) + key.substr(shortName.size());
    while (!key.empty() && key.back() == '\\') key.pop_back();
    return key;
}

RegText ParseRegText(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    RegText file;
    std::vector<std::string>* current = &file.preamble;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        std::string line(text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string_view t = Trim(line);
        if (t.size() > 2 && t.front() == '[' && t.back() == ']') {
            RegSection section;
            std::string_view inside = t.substr(1, t.size() - 2);
            section.removal = inside.starts_with('-');
            if (section.removal) inside.remove_prefix(1);
            section.key = NormalKey(inside);
            file.sections.push_back(std::move(section));
            current = &file.sections.back().lines;
        }
        current->push_back(std::move(line));
    }
    return file;
}

std::string WriteRegText(const RegText& file) {
    std::string out;
    for (const auto& line : file.preamble) out += line + "\n";
    for (const auto& section : file.sections)
        for (const auto& line : section.lines) out += line + "\n";
    return out;
}

bool HasExportHeader(const RegText& file) {
    for (const auto& line : file.preamble) {
        const std::string_view t = Trim(line);
        if (t.empty()) continue;
        return t == "REGEDIT4" || t == "Windows Registry Editor Version 5.00";
    }
    return false;
}

std::optional<std::string> FindString(const RegText& file, std::string_view key, std::string_view name) {
    const std::string target = NormalKey(key);
    const std::string wanted = Lower(name);
    std::optional<std::string> found;
    for (const auto& section : file.sections) {
        if (section.removal) {
            if (AtOrBelow(target, section.key)) found.reset();
            continue;
        }
        if (section.key != target) continue;
        for (std::size_t i = 1; i < section.lines.size(); ++i) {
            const std::string_view line = Trim(section.lines[i]);
            std::string valueName;
            std::size_t end = 0;
            if (line.starts_with('@')) {
                end = 1;
            } else if (auto quoted = Unquote(line, end)) {
                valueName = Lower(*quoted);
            } else {
                continue;
            }
            if (valueName != wanted) continue;
            std::string_view rest = Trim(line.substr(end));
            if (!rest.starts_with('=')) continue;
            rest = Trim(rest.substr(1));
            std::size_t valueEnd = 0;
            if (rest == "-") found.reset();
            else if (auto value = Unquote(rest, valueEnd)) found = std::move(*value);
        }
    }
    return found;
}

void RemoveKeys(RegText& file, const std::vector<std::string>& keys) {
    std::vector<std::string> normal;
    for (const auto& key : keys) normal.push_back(NormalKey(key));
    std::erase_if(file.sections, [&](const RegSection& section) {
        return std::any_of(normal.begin(), normal.end(),
                           [&](const std::string& top) { return AtOrBelow(section.key, top); });
    });
}

void RemoveEmptyKey(RegText& file, std::string_view key) {
    const std::string top = NormalKey(key);
    for (const auto& section : file.sections) {
        if (section.key != top) {
            if (AtOrBelow(section.key, top)) return;
            continue;
        }
        for (std::size_t i = 1; i < section.lines.size(); ++i) {
            const std::string_view line = Trim(section.lines[i]);
            if (!line.empty() && !line.starts_with(';')) return;
        }
    }
    std::erase_if(file.sections, [&](const RegSection& section) { return section.key == top; });
}

bool SetString(RegText& file, std::string_view key, std::string_view name, std::string_view value) {
    const std::string target = NormalKey(key), wanted = Lower(name);
    const std::string line = (name.empty() ? std::string("@") : Quote(name)) + "=" + Quote(value);
    RegSection* last = nullptr;
    for (auto& section : file.sections) {
        if (section.removal && AtOrBelow(target, section.key)) last = nullptr;
        if (section.removal || section.key != target) continue;
        last = &section;
    }
    if (last == nullptr) return false;
    // Written in the last section, the value wins over any earlier one.
    for (std::size_t i = 1; i < last->lines.size(); ++i) {
        const std::string_view t = Trim(last->lines[i]);
        std::size_t end = 0;
        const auto quoted = t.starts_with('@') ? std::optional<std::string>("") : Unquote(t, end);
        if (quoted && Lower(*quoted) == wanted) {
            last->lines[i] = line;
            return true;
        }
    }
    // Before the blank lines that end the section.
    std::size_t at = last->lines.size();
    while (at > 1 && Trim(last->lines[at - 1]).empty()) --at;
    last->lines.insert(last->lines.begin() + static_cast<std::ptrdiff_t>(at), line);
    return true;
}

void AddKey(RegText& file, std::string_view key,
            const std::vector<std::pair<std::string, std::string>>& values) {
    RegSection section;
    section.key = NormalKey(key);
    std::string header = "[";
    header.append(key).append("]");
    section.lines.push_back(std::move(header));
    for (const auto& [name, value] : values)
        section.lines.push_back((name.empty() ? std::string("@") : Quote(name)) + "=" + Quote(value));
    // A blank line keeps sections apart, as an export writes them; it goes
    // with the section when the key is taken away.
    section.lines.emplace_back();
    file.sections.push_back(std::move(section));
}

}  // namespace quillpost
