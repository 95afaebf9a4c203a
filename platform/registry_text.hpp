// The registry stand-in's file (registry-export text) as sections that can be
// looked up, taken away and added while every other line stays as written.
// The activation of the runtime reads it; registration edits it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillpost {

struct RegSection {
    std::string key;                 // full path, lower case, root spelled out
    bool removal = false;            // a [-...] section
    std::vector<std::string> lines;  // the header line and everything up to the next one
};

struct RegText {
    std::vector<std::string> preamble;  // the export header and what precedes the first section
    std::vector<RegSection> sections;
};

// UTF-8 text (a byte order mark is dropped). Nothing fails: lines that are
// not sections belong to the section before them.
RegText ParseRegText(std::string_view text);
std::string WriteRegText(const RegText& file);
// Whether the text starts, after blank lines, with an export header.
bool HasExportHeader(const RegText& file);

// A path normalised as sections store it ("HKCR\X" -> "hkey_classes_root\x").
std::string NormalKey(std::string_view path);

// The string value `name` ("" for the default value) of `key`, as an import
// of the file would leave it; nothing when the key or value is absent.
std::optional<std::string> FindString(const RegText& file, std::string_view key, std::string_view name);

// Takes away every section of these keys and the keys below them.
void RemoveKeys(RegText& file, const std::vector<std::string>& keys);

// Takes away the sections of `key` itself when they hold no values and no
// section below it is left: the parent key that a removal emptied.
void RemoveEmptyKey(RegText& file, std::string_view key);

// Sets the string value `name` of `key` where the file last gives it, else
// in the key's last section; false, and the file unchanged, when the file
// does not hold the key.
bool SetString(RegText& file, std::string_view key, std::string_view name, std::string_view value);

// Appends a section for `key` (as spelled) with string values.
void AddKey(RegText& file, std::string_view key,
            const std::vector<std::pair<std::string, std::string>>& values);

}  // namespace quillpost
