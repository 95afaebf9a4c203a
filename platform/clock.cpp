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
    static const Steady clock;
    return clock;
}

}  // namespace quillpost
