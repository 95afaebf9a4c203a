#include "platform/local_time.hpp"

#include <quillpost/detail/date.hpp>

#include <ctime>
#include <mutex>

namespace quillpost {

namespace {

// The C library reloads its zone data (TZ) inside these calls and guards it
// with a lock of its own that thread checkers cannot see; taking one lock of
// ours around every look at the zone keeps threads that send at once plainly
// ordered.
std::mutex zoneLock;

}  // namespace

LocalMoment LocalNowWithOffset() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    {
        const std::lock_guard lock(zoneLock);
        localtime_r(&now, &local);
    }
    return {MakeDate(DateParts{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                               local.tm_min, local.tm_sec, local.tm_wday}),
            static_cast<std::int32_t>(local.tm_gmtoff / 60)};
}

double LocalNow() { return LocalNowWithOffset().dateTime; }

double SecondsSinceLocalMidnight() {
    std::timespec now{};
    std::timespec_get(&now, TIME_UTC);
    std::tm local{};
    {
        const std::lock_guard lock(zoneLock);
        localtime_r(&now.tv_sec, &local);
    }
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + static_cast<double>(now.tv_nsec) / 1e9;
}

std::int32_t TimeZoneOffset(double dateTime) {
    const DateParts p = SplitDate(dateTime);
    std::tm local{};
    local.tm_year = p.year - 1900;
    local.tm_mon = p.month - 1;
    local.tm_mday = p.day;
    local.tm_hour = p.hour;
    local.tm_min = p.minute;
    local.tm_sec = p.second;
    local.tm_isdst = -1;
    const std::lock_guard lock(zoneLock);
    const std::time_t moment = std::mktime(&local);
    if (moment == static_cast<std::time_t>(-1)) return 0;
    std::tm resolved{};
    if (localtime_r(&moment, &resolved) == nullptr) return 0;
    return static_cast<std::int32_t>(resolved.tm_gmtoff / 60);
}

}  // namespace quillpost
