// The progress line of qpmail: how much of the attachments has gone to the
// server, so that a long send does not look like a hung one.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace quillpost::qpmail {

// "1.5 MiB": bytes in the largest binary unit that keeps a number of at
// least 1, with one decimal (whole bytes below 1 KiB).
std::string ByteCount(std::uint64_t bytes);

// "qpmail: attachments 12.0 MiB of 200.0 MiB (6%), 45.0 MiB/s"; the rate is
// left out before a measurable time has passed.
std::string ProgressText(std::uint64_t done, std::uint64_t total, double seconds);

// Shows the progress line on `out` (a terminal) while it exists: every
// attachment byte the component reports on this thread counts, the line is
// rewritten in place at most a few times a second, and the last state stays
// on its own line when the object goes.
class ProgressLine {
public:
    ProgressLine(std::FILE* out, std::uint64_t total);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

private:
    void Add(std::uint64_t bytes);
    void Show();

    std::FILE* out_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point shown_;
    bool anyShown_ = false;
    std::size_t width_ = 0;  // of the line shown last, to blank what is left of it
};

}  // namespace quillpost::qpmail
