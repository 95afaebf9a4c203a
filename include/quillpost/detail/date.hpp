// Automation dates: days since 30 December 1899, the fraction being the time
// of day. Not part of the interface.
#pragma once

namespace quillpost {

struct DateParts {
    int year, month, day, hour, minute, second;
    int weekday;  // 0 Sunday to 6 Saturday
};

// Splits an automation date into its calendar parts, rounded to the second.
DateParts SplitDate(double days);
// The automation date of the given calendar parts (weekday ignored).
double MakeDate(const DateParts& parts);

}  // namespace quillpost
