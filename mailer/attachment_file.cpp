#include "mailer/attachment_file.hpp"

#include "platform/file.hpp"
#include "platform/registry.hpp"

#include <quillpost/base64.hpp>
#include <quillpost/host_events.hpp>
#include <quillpost/variant.hpp>

#include <array>
#include <vector>

namespace quillpost {

namespace {

constexpr std::string_view kUnknownType = "application/unknown";

// Blocks of 57 bytes make lines of 76 characters. The file is read many
// blocks at a time and encoded in bulk, and each line is then handed on by
// itself; the lines on the wire are the same as block by block.
constexpr std::size_t kBlocksPerRead = 1024;
constexpr std::size_t kReadSize = kBase64LineBytes * kBlocksPerRead;
constexpr std::size_t kLineSize = 78;  // 76 characters, carriage return, line feed

}  // namespace

std::string ShortName(std::string_view path) {
    auto cut = path.find_last_of('\\');
    if (cut == std::string_view::npos) cut = path.find_last_of('/');
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string ContentTypeOf(std::string_view path) {
    const auto period = path.find_last_of('.');
    if (period == std::string_view::npos) return std::string(kUnknownType);
    // Everything after the last period of the whole path, folders included.
    RegistryKey key;
    key.Open(RegistryRoot::ClassesRoot, path.substr(period));
    Variant value;
    const std::int32_t status = ReadRegistryValue(key, "Content Type", value);
    key.Close();
    if (status == kRegSuccess && value.is_text() && !value.text().empty()) return value.text();
    return std::string(kUnknownType);
}

void WriteFileAsBase64(DataSink& out, const std::string& path) {
    InputFile file(path);
    std::uint64_t remaining = file.Length();
    std::vector<std::uint8_t> block(kReadSize);
    std::string lines;
    lines.reserve(Base64LinesSize(kReadSize));
    while (remaining > 0) {
        const std::size_t size = remaining > kReadSize ? kReadSize : static_cast<std::size_t>(remaining);
        file.ReadExactly(std::span(block).first(size));
        lines.clear();
        Base64EncodeLines(std::span(block).first(size), lines);
        for (std::size_t at = 0; at < lines.size(); at += kLineSize)
            out.Write(std::string_view(lines).substr(at, kLineSize));
        remaining -= size;
        ReportAttachmentProgress(size);
    }
}

}  // namespace quillpost
