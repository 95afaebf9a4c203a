#include "smtp/trace.hpp"

namespace quillpost {

void Trace::Open(const std::string& path) {
    if (path.empty()) return;
    file_ = std::make_unique<AppendFile>(path);
}

void Trace::Close() {
    if (!file_) return;
    const std::unique_ptr<AppendFile> file = std::move(file_);
    file->Close();
}

void Trace::Write(std::string_view text) {
    if (file_) file_->WriteLine(text);
}

void Trace::Write(std::string_view prefix, std::string_view text) {
    if (!file_) return;
    line_.assign(prefix);
    line_.append(text);
    file_->WriteLine(line_);
}

void Trace::Flush() {
    if (file_) file_->Flush();
}

}  // namespace quillpost
