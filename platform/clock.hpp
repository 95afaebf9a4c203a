// The clock for elapsed times: it never jumps back, so a wait that spans
// local midnight or a change of the system time still ends when it should.
#pragma once

namespace quillpost {

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds since an arbitrary fixed origin.
    virtual double Seconds() const = 0;
};

// The platform's monotonic clock (std::chrono::steady_clock).
const Clock& SteadyClock();

}  // namespace quillpost
