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
    if (listener_) listener_(text);
}

void Trace::Write(std::string_view prefix, std::string_view text) {
    if (!file_ && !listener_) return;
    line_.assign(prefix);
    line_.append(text);
    if (file_) file_->WriteLine(line_);
    if (listener_) listener_(line_);
}

void Trace::Flush() {
    if (file_) file_->Flush();
}

}  // namespace quillpost
