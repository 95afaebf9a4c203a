// Registration against the machine's registry. The change is worked out on
// the same sections as the stand-in's file: the keys that registration may
// own (every key directly below HKEY_CLASSES_ROOT, CLSID, Interface and
// TypeLib, and the versions below each type library) are given as one-line
// sections; those the change takes away are
// deleted with everything below them, and the sections it adds are created
// with their string values.
#include "platform/registry_store.hpp"

#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace quillpost {

namespace {

const char* const kCandidateParents[] = {"", "CLSID", "Interface", "TypeLib"};
const std::string kClassesRoot = "HKEY_CLASSES_ROOT";

std::string SystemReason(const std::string& what, LSTATUS status) {
    char text[256] = "";
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(status), 0,
                     text, sizeof text, nullptr);
    std::string reason = what + ": error " + std::to_string(status);
    std::string message(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    if (!message.empty()) reason += " (" + message + ")";
    return reason;
}

// The names of the keys directly below HKEY_CLASSES_ROOT\`parent`.
std::vector<std::string> SubKeys(const std::string& parent) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, parent.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        const LSTATUS status = ::RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_SUCCESS) names.emplace_back(name, size);
    }
    ::RegCloseKey(key);
    return names;
}

void AddCandidate(RegText& file, const std::string& path) {
    RegSection section;
    section.key = NormalKey(kClassesRoot + "\\" + path);
    section.lines.push_back("[" + kClassesRoot + "\\" + path + "]");
    file.sections.push_back(std::move(section));
}

RegText Candidates() {
    RegText file;
    file.preamble.push_back("REGEDIT4");
    for (const std::string parent : kCandidateParents) {
        const std::string prefix = parent.empty() ? std::string() : parent + "\\";
        for (const std::string& name : SubKeys(parent)) {
            AddCandidate(file, prefix + name);
            // A type library's versions are registered one by one.
            if (parent == "TypeLib")
                for (const std::string& version : SubKeys(prefix + name)) AddCandidate(file, prefix + name + "\\" + version);
        }
    }
    return file;
}

// "[HKEY_CLASSES_ROOT\X\Y]" -> "X\Y"; nothing for another root.
bool PathBelowClassesRoot(const std::string& header, std::string& path) {
    if (header.size() < 2 || header.front() != '[' || header.back() != ']') return false;
    const std::string inside = header.substr(1, header.size() - 2);
    if (NormalKey(inside).rfind("hkey_classes_root\\", 0) != 0) return false;
    path = inside.substr(inside.find('\\') + 1);
    return true;
}

// The value names of a section's lines ("" for the default value).
std::vector<std::string> ValueNames(const RegSection& section) {
    std::vector<std::string> names;
    for (std::size_t i = 1; i < section.lines.size(); ++i) {
        const std::string& line = section.lines[i];
        if (line.starts_with("@=")) {
            names.emplace_back();
        } else if (line.starts_with('"')) {
            const auto close = line.find('"', 1);
            if (close != std::string::npos) names.push_back(line.substr(1, close - 1));
        }
    }
    return names;
}

}  // namespace

std::string RegistryPath() { return "HKEY_CLASSES_ROOT"; }

RegText ReadRegistry() { return Candidates(); }

bool EditRegistry(const std::function<void(RegText&)>& change, std::string& reason) {
    RegText file = Candidates();
    const std::vector<RegSection> before = file.sections;
    change(file);

    std::set<std::string> kept;
    for (const RegSection& section : file.sections)
        if (section.lines.size() == 1) kept.insert(section.key);
    for (const RegSection& section : before) {
        if (kept.count(section.key)) continue;
        std::string path;
        if (!PathBelowClassesRoot(section.lines.front(), path)) continue;
        const LSTATUS status = ::RegDeleteTreeA(HKEY_CLASSES_ROOT, path.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            reason = SystemReason("cannot delete HKEY_CLASSES_ROOT\\" + path, status);
            return false;
        }
    }

    for (const RegSection& section : file.sections) {
        if (section.lines.size() == 1 || section.removal) continue;
        std::string path;
        if (!PathBelowClassesRoot(section.lines.front(), path)) continue;
        HKEY key = nullptr;
        LSTATUS status = ::RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_WRITE, nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) {
            reason = SystemReason("cannot create HKEY_CLASSES_ROOT\\" + path, status);
            return false;
        }
        for (const std::string& name : ValueNames(section)) {
            const auto value = FindString(file, section.key, name);
            if (!value) continue;
            status = ::RegSetValueExA(key, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(value->c_str()),
                                      static_cast<DWORD>(value->size() + 1));
            if (status != ERROR_SUCCESS) break;
        }
        ::RegCloseKey(key);
        if (status != ERROR_SUCCESS) {
            reason = SystemReason("cannot write HKEY_CLASSES_ROOT\\" + path, status);
            return false;
        }
    }
    return true;
}

}  // namespace quillpost
