#include "platform/local_time.hpp"

#include <quillpost/detail/date.hpp>

#include <windows.h>

namespace quillpost {

namespace {

std::int64_t Ticks(const SYSTEMTIME& time) {
    FILETIME file{};
    if (!::SystemTimeToFileTime(&time, &file)) return 0;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime);
}

}  // namespace

double LocalNow() {
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    return MakeDate(DateParts{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                              local.wDayOfWeek});
}

LocalMoment LocalNowWithOffset() {
    SYSTEMTIME universal{};
    ::GetSystemTime(&universal);
    universal.wMilliseconds = 0;
    SYSTEMTIME local{};
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
        const double now = LocalNow();
        return {now, TimeZoneOffset(now)};
    }
    constexpr std::int64_t kTicksPerMinute = 600000000;
    return {MakeDate(DateParts{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                               local.wDayOfWeek}),
            static_cast<std::int32_t>((Ticks(local) - Ticks(universal)) / kTicksPerMinute)};
}

double SecondsSinceLocalMidnight() {
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    return local.wHour * 3600.0 + local.wMinute * 60.0 + local.wSecond + local.wMilliseconds / 1000.0;
}

std::int32_t TimeZoneOffset(double dateTime) {
    const DateParts p = SplitDate(dateTime);
    SYSTEMTIME local{};
    local.wYear = static_cast<WORD>(p.year);
    local.wMonth = static_cast<WORD>(p.month);
    local.wDay = static_cast<WORD>(p.day);
    local.wHour = static_cast<WORD>(p.hour);
    local.wMinute = static_cast<WORD>(p.minute);
    local.wSecond = static_cast<WORD>(p.second);
    // The zone's rules for that year decide whether summer time is in force
    // at that local moment; the offset is the distance to universal time.
    TIME_ZONE_INFORMATION zone{};
    if (::GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return 0;
    SYSTEMTIME universal{};
    if (!::TzSpecificLocalTimeToSystemTime(&zone, &local, &universal)) return 0;
    constexpr std::int64_t kTicksPerMinute = 600000000;
    return static_cast<std::int32_t>((Ticks(local) - Ticks(universal)) / kTicksPerMinute);
}

}  // namespace quillpost
