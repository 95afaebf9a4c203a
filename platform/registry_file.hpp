// The registry-export text format ("REGEDIT4" or "Windows Registry Editor
// Version 5.00"): what a file of that format says about one key. Pure text
// work; finding and reading the file is the key store's business.
#pragma once

#include "platform/registry.hpp"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quillpost {

// A key's place in the registry: its root and its key names, lower case,
// without empty parts.
struct RegistryKeyPath {
    RegistryRoot root = RegistryRoot::LocalMachine;
    std::vector<std::string> parts;
};

// The key names of a backslash-separated path, lower case, empty parts left out.
std::vector<std::string> SplitKeyNames(std::string_view path);

// Whether the file makes a key exist, takes it away, or does not mention it.
enum class KeyPresence { Unknown, Present, Removed };

// What an export file says about one key: whether it is there and, when it
// is, its values by lower-case name ("" for the default value).
struct KeyInFile {
    KeyPresence presence = KeyPresence::Unknown;
    std::map<std::string, RegistryKey::Value> values;
};

// Reads the bytes of an export file through once and keeps what concerns
// `target`. A byte order mark is dealt with (UTF-8, or UTF-16LE as Registry
// Editor writes version 5 exports); a file whose first non-blank line is no
// export header says nothing. Sections apply in order, as an import applies
// them: a key exists when a section names it or a key below it; a [-...]
// section takes away its key and everything below; a section given twice adds
// to the values of the first, later values replacing earlier ones. A line
// that cannot be read is passed over.
KeyInFile FindKeyInExport(std::string_view bytes, const RegistryKeyPath& target);

}  // namespace quillpost
