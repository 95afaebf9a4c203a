// Where the transport writes its own trace lines (the readiness wait writes
// some). The conversation hands one down; the transport never sees the file.
#pragma once

#include <string_view>

namespace quillpost {

class TraceSink {
public:
    virtual ~TraceSink() = default;
    // Records one line; the sink adds the line break.
    virtual void TraceLine(std::string_view line) = 0;
};

}  // namespace quillpost
