#include "platform/clock.hpp"

#include <chrono>

namespace quillpost {

namespace {

class Steady final : public Clock {
public:
    double Seconds() const override {
        using Seconds = std::chrono::duration<double>;
        return std::chrono::duration_cast<Seconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

}  // namespace

const Clock& SteadyClock() {
    // Never destroyed: connections kept open for reuse are closed, with their
    // time limits, by destructors that run as the process ends, after a
    // function-local static made later would already be gone.
    static const Clock* clock = new Steady;
    return *clock;
}

}  // namespace quillpost
