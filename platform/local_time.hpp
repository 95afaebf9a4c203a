// The local clock and the local time zone of the machine.
#pragma once

#include <cstdint>

namespace quillpost {

// The local date and time now, to the second, as an automation date.
double LocalNow();

// The local date and time now, with the offset from universal time in force
// at that instant (minutes east of Greenwich). The offset comes from the
// instant itself, so it is right in the hour that summer time's end repeats,
// where the local time alone could have either.
struct LocalMoment {
    double dateTime = 0;
    std::int32_t offsetMinutes = 0;
};
LocalMoment LocalNowWithOffset();

// Seconds since local midnight, with their fraction.
double SecondsSinceLocalMidnight();

// The local zone's offset from universal time, in minutes east of
// Greenwich, in force at the local moment `dateTime` (an automation date):
// a summer date carries the summer offset all year round. 0 when it cannot
// be had.
std::int32_t TimeZoneOffset(double dateTime);

}  // namespace quillpost
