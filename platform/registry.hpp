// The registry of a machine without one: a text file in the registry-export
// format, read afresh at every open, with the Windows calls RegOpenKeyExA,
// RegQueryValueExA and RegCloseKey on top and their status numbers.
//
// The file is named by the environment variable QUILLPOST_REGISTRY, else it
// is /etc/quillpost/registry.reg. A missing or unreadable file, or one whose
// first non-blank line is neither "REGEDIT4" nor "Windows Registry Editor
// Version 5.00", is an empty registry. Under HKEY_CLASSES_ROOT, an extension
// key (".txt") that the file does not hold is answered from the system's
// table of media types (QUILLPOST_MIME_TYPES, else /etc/mime.types), with the
// one string value "Content Type". Nothing here raises: every failure is a
// status.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace quillpost {

// The root keys a sub-key path is opened under.
enum class RegistryRoot { ClassesRoot, CurrentUser, LocalMachine, Users };

// Status numbers, as the Windows calls return them.
inline constexpr std::int32_t kRegSuccess = 0;         // ERROR_SUCCESS
inline constexpr std::int32_t kRegFileNotFound = 2;    // ERROR_FILE_NOT_FOUND: no such key or value
inline constexpr std::int32_t kRegInvalidHandle = 6;   // ERROR_INVALID_HANDLE: the key is not open
inline constexpr std::int32_t kRegMoreData = 234;      // ERROR_MORE_DATA: the buffer is too small

// The product's own key under HKEY_LOCAL_MACHINE.
inline constexpr std::string_view kProductKey = "SOFTWARE\\Brackenfold\\Quillpost";

// Value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

// Where the registry file and the media-type table are read from now: the
// environment variable when it is set and not empty, else the default path.
std::string RegistryFilePath();
std::string MediaTypesFilePath();

// An open registry key. Opening takes a snapshot of the key's values from the
// file, so the file is read once per open and never cached across opens.
// Closed by the destructor; movable, not copyable.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    RegistryKey(RegistryKey&& other) noexcept;
    RegistryKey& operator=(RegistryKey&& other) noexcept;

    // RegOpenKeyExA(root, subKey, KEY_READ): kRegSuccess and an open key, or
    // kRegFileNotFound and a closed key. The path is backslash-separated and
    // matched without regard to letter case; an empty path opens the root
    // itself. A key that was open is closed first.
    std::int32_t Open(RegistryRoot root, std::string_view subKey);
    bool IsOpen() const { return open_; }

    // RegQueryValueExA without a data buffer: the value's type and its size in
    // bytes (a string's size counts its terminating NUL; a dword's is 4). The
    // name "" or "@" stands for the key's default value. Value names are
    // matched without regard to letter case.
    std::int32_t QueryValue(std::string_view valueName, std::uint32_t& type,
                            std::uint32_t& size) const;
    // RegQueryValueExA with a buffer of `size` bytes: on success `data` holds
    // the stored bytes as they are (a string with its NUL). kRegMoreData, and
    // `data` empty, when the value does not fit.
    std::int32_t ReadValue(std::string_view valueName, std::uint32_t size,
                           std::string& data) const;
    // RegQueryValueExA into a 32-bit number: the stored bytes, least
    // significant first. kRegMoreData when the value is longer than 4 bytes.
    std::int32_t ReadDword(std::string_view valueName, std::uint32_t& value) const;

    // RegCloseKey: kRegSuccess, or kRegInvalidHandle for a key not open.
    std::int32_t Close();

    struct Value {
        std::uint32_t type = kRegNone;
        std::string data;
    };

private:
    const Value* Find(std::string_view valueName) const;

    bool open_ = false;
    std::map<std::string, Value> values_;  // by lower-case name; "" is the default value
};

class Variant;

// RegSetValueExA of a string value (REG_SZ) in `subKey` of `root`, which
// must exist: true, or false with the reason. Registry files are replaced in
// one step, never left half written.
bool WriteRegistryString(RegistryRoot root, std::string_view subKey, std::string_view valueName,
                         std::string_view value, std::string& reason);

// Reads a registry value as text or a 32-bit number: 0 on success, the
// platform's status when it cannot be read, -1 for a value of another type.
std::int32_t ReadRegistryValue(const RegistryKey& key, std::string_view valueName, Variant& value);

}  // namespace quillpost
