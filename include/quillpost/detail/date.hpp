// Automation dates: days since 30 December 1899, the fraction being the time
// of day. Not part of the interface.
#pragma once

namespace quillpost {

struct DateParts {
    int year, month, day, hour, minute, second;
    int weekday;  // 0 Sunday to 6 Saturday
};

// True for a finite date from 1 January 100 to 31 December 9999, to the
// second.
bool IsAutomationDate(double days) noexcept;
// Splits an automation date into its calendar parts, rounded to the second;
// any other value raises 5.
DateParts SplitDate(double days);
// The automation date of the given calendar parts (weekday ignored).
double MakeDate(const DateParts& parts);

}  // namespace quillpost
