#include "progress.hpp"

#include <quillpost/host_events.hpp>

#include <array>
#include <cstdio>

namespace quillpost::qpmail {

namespace {

// Often enough to look alive, seldom enough not to cost anything.
constexpr auto kShowEvery = std::chrono::milliseconds(200);

std::string OneDecimal(double value) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.1f", value);
    return text.data();
}

}  // namespace

std::string ByteCount(std::uint64_t bytes) {
    static constexpr std::array<const char*, 4> kUnits{"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < kUnits.size()) {
        value /= 1024;
        ++unit;
    }
    return OneDecimal(value) + " " + kUnits[unit];
}

std::string ProgressText(std::uint64_t done, std::uint64_t total, double seconds) {
    const std::uint64_t percent = total == 0 ? 100 : (done >= total ? 100 : done * 100 / total);
    std::string text = "qpmail: attachments " + ByteCount(done) + " of " + ByteCount(total) + " (" +
                       std::to_string(percent) + "%)";
    if (seconds >= 0.01)
        text += ", " + ByteCount(static_cast<std::uint64_t>(static_cast<double>(done) / seconds)) + "/s";
    return text;
}

ProgressLine::ProgressLine(std::FILE* out, std::uint64_t total)
    : out_(out), total_(total), start_(std::chrono::steady_clock::now()), shown_(start_) {
    SetAttachmentProgressHook([this](std::uint64_t bytes) { Add(bytes); });
}

ProgressLine::~ProgressLine() {
    SetAttachmentProgressHook({});
    if (!anyShown_) return;
    Show();
    std::fputc('\n', out_);
    std::fflush(out_);
}

void ProgressLine::Add(std::uint64_t bytes) {
    done_ += bytes;
    const auto now = std::chrono::steady_clock::now();
    if (anyShown_ && now - shown_ < kShowEvery) return;
    shown_ = now;
    Show();
}

void ProgressLine::Show() {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
    std::string text = ProgressText(done_, total_, elapsed.count());
    const std::size_t width = text.size();
    // A shorter line than the last one must not leave the end of the last.
    if (width < width_) text.append(width_ - width, ' ');
    width_ = width;
    std::fprintf(out_, "\r%s", text.c_str());
    std::fflush(out_);
    anyShown_ = true;
}

}  // namespace quillpost::qpmail
