#include "platform/registry.hpp"

#include <quillpost/detail/text.hpp>
#include <quillpost/variant.hpp>

#include <cstdlib>
#include <utility>

namespace quillpost {

namespace {

constexpr const char* kRegistryVariable = "QUILLPOST_REGISTRY";
constexpr const char* kRegistryDefault = "/etc/quillpost/registry.reg";
constexpr const char* kMediaTypesVariable = "QUILLPOST_MIME_TYPES";
constexpr const char* kMediaTypesDefault = "/etc/mime.types";

std::string PathFrom(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? std::string(value) : std::string(fallback);
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

std::int32_t ReadRegistryValue(const RegistryKey& key, std::string_view valueName, Variant& value) {
    std::uint32_t type = kRegNone;
    std::uint32_t size = 0;
    const std::int32_t status = key.QueryValue(valueName, type, size);
    if (status != kRegSuccess) return status;
    if (type == kRegSz) {
        std::string data;
        const std::int32_t read = key.ReadValue(valueName, size, data);
        if (read != kRegSuccess) {
            value = Variant();
            return read;
        }
        // The stored text ends at its terminating NUL.
        const auto nul = data.find('\0');
        if (nul != std::string::npos) data.resize(nul);
        value = std::move(data);
        return read;
    }
    if (type == kRegDword) {
        std::uint32_t number = 0;
        const std::int32_t read = key.ReadDword(valueName, number);
        if (read == kRegSuccess) value = static_cast<std::int32_t>(number);
        return read;
    }
    return -1;
}

}  // namespace quillpost
