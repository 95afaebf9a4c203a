#include <quillpost/detail/date.hpp>
#include <quillpost/detail/errors.hpp>
#include <quillpost/detail/text.hpp>
#include <quillpost/variant.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

namespace quillpost {

Variant Dispatch::DefaultValue() { raise(Err::TypeMismatch); }

Variant Dispatch::Invoke(std::string_view, CallKind, std::span<const Variant>) {
    raise(Err::NoSuchMember);
}

namespace {

// Shortest text that reads back as the same float, in fixed notation for
// moderate exponents and as d.dddE+XX beyond them (1E+20, 1.5E-07).
template <class F>
std::string FloatText(F value, int maxFixedExponent) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    if (value == 0) return "0";
    char sci[64];
    const auto res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
    std::string_view s(sci, static_cast<std::size_t>(res.ptr - sci));
    const auto epos = s.find('e');
    const int exponent = std::stoi(std::string(s.substr(epos + 1)));
    std::string out;
    std::string_view mantissa = s.substr(0, epos);
    if (!mantissa.empty() && mantissa.front() == '-') {
        out.push_back('-');
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (char c : mantissa)
        if (c != '.') digits.push_back(c);
    if (exponent >= -5 && exponent < maxFixedExponent) {
        if (exponent < 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        } else if (static_cast<std::size_t>(exponent) + 1 >= digits.size()) {
            out += digits;
            out.append(static_cast<std::size_t>(exponent) + 1 - digits.size(), '0');
        } else {
            out += digits.substr(0, static_cast<std::size_t>(exponent) + 1);
            out += '.';
            out += digits.substr(static_cast<std::size_t>(exponent) + 1);
        }
        return out;
    }
    out += digits.substr(0, 1);
    if (digits.size() > 1) {
        out += '.';
        out += digits.substr(1);
    }
    char exp[16];
    std::snprintf(exp, sizeof exp, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    out += exp;
    return out;
}

std::string TwoDigits(int n) {
    std::string s = std::to_string(n);
    return s.size() < 2 ? "0" + s : s;
}

std::string DateText(double days) {
    const DateParts p = SplitDate(days);
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", p.year, p.month, p.day);
    const std::string time = TwoDigits(p.hour) + ":" + TwoDigits(p.minute) + ":" + TwoDigits(p.second);
    const bool midnight = p.hour == 0 && p.minute == 0 && p.second == 0;
    const bool baseDay = p.year == 1899 && p.month == 12 && p.day == 30;
    if (baseDay && !midnight) return time;
    if (midnight) return date;
    return std::string(date) + " " + time;
}

constexpr std::chrono::sys_days kDateBase{std::chrono::year{1899} / 12 / 30};

// The value of an object's default member, read once. A default member that
// gives an object again is not followed further (the platform's conversion
// refuses it with 13): an object whose default value is itself would
// otherwise be asked for ever.
Variant DefaultOf(const std::shared_ptr<Dispatch>& object) {
    if (!object) raise(Err::ObjectRequired);
    Variant value = object->DefaultValue();
    if (value.is_object()) raise(Err::TypeMismatch);
    return value;
}

// ---- date text --------------------------------------------------------------
// The forms of date and time text that the platform's standard conversion
// reads under the English (United States) locale: "2024-03-01",
// "2024/3/1", "3/1/2024", "3-1-24", "March 1, 2024", "1 Mar 2024",
// "1-Mar-2024", each with or without a time "10:00", "10:00:00", "10 PM",
// "10:00:00 am" before or after it, and a time alone (on 30 December 1899).

struct DateToken {
    enum Kind { Number, Word, Colon } kind;
    int value = 0;       // a number, or a month (1-12), or 0 for AM / 12 for PM
    std::size_t digits = 0;  // of a number
    bool meridian = false;   // a word that is AM or PM
};

constexpr std::array<std::string_view, 12> kMonthNames{"january", "february", "march",     "april",
                                                       "may",     "june",     "july",      "august",
                                                       "september", "october", "november", "december"};

// A month by its full name or its first three letters; AM and PM.
std::optional<DateToken> DateWord(std::string_view word) {
    const std::string folded = FoldCase(word);
    if (folded == "am" || folded == "pm") return DateToken{DateToken::Word, folded == "pm" ? 12 : 0, 0, true};
    for (std::size_t m = 0; m < kMonthNames.size(); ++m)
        if (folded == kMonthNames[m] || (folded.size() == 3 && kMonthNames[m].starts_with(folded)) ||
            (folded == "sept" && m == 8))
            return DateToken{DateToken::Word, static_cast<int>(m) + 1};
    return std::nullopt;
}

std::optional<std::vector<DateToken>> DateTokens(std::string_view text) {
    std::vector<DateToken> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            DateToken t{DateToken::Number};
            for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
                if (++t.digits > 4) return std::nullopt;
                t.value = t.value * 10 + (text[i] - '0');
            }
            tokens.push_back(t);
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            const std::size_t begin = i;
            while (i < text.size() && ((text[i] >= 'A' && text[i] <= 'Z') || (text[i] >= 'a' && text[i] <= 'z'))) ++i;
            const auto word = DateWord(text.substr(begin, i - begin));
            if (!word) return std::nullopt;
            tokens.push_back(*word);
        } else if (c == ':') {
            tokens.push_back(DateToken{DateToken::Colon});
            ++i;
        } else if (c == ' ' || c == '/' || c == '-' || c == '.' || c == ',' || c == '\t') {
            ++i;
        } else {
            return std::nullopt;
        }
    }
    return tokens;
}

// The automation date of date text, or nothing when the text is no date.
std::optional<double> ParseDateText(std::string_view text) {
    const auto tokens = DateTokens(text);
    if (!tokens || tokens->empty()) return std::nullopt;
    const std::vector<DateToken>& t = *tokens;

    // The time: hours, a colon and minutes, perhaps seconds, perhaps AM or
    // PM; or hours with AM or PM.
    int hour = 0, minute = 0, second = 0;
    std::size_t timeBegin = t.size(), timeEnd = t.size();
    for (std::size_t k = 0; k + 1 < t.size(); ++k) {
        if (t[k].kind != DateToken::Number) continue;
        if (t[k + 1].kind == DateToken::Colon) {
            if (k + 2 >= t.size() || t[k + 2].kind != DateToken::Number) return std::nullopt;
            hour = t[k].value;
            minute = t[k + 2].value;
            timeBegin = k;
            timeEnd = k + 3;
            if (timeEnd + 1 < t.size() && t[timeEnd].kind == DateToken::Colon) {
                if (t[timeEnd + 1].kind != DateToken::Number) return std::nullopt;
                second = t[timeEnd + 1].value;
                timeEnd += 2;
            }
        } else if (t[k + 1].meridian) {
            hour = t[k].value;
            timeBegin = k;
            timeEnd = k + 1;
        } else {
            continue;
        }
        if (timeEnd < t.size() && t[timeEnd].meridian) {
            if (hour < 1 || hour > 12) return std::nullopt;
            hour = hour % 12 + t[timeEnd].value;
            ++timeEnd;
        }
        break;
    }
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;

    // The date: three numbers, or a month's name and two numbers.
    std::vector<DateToken> date;
    for (std::size_t k = 0; k < t.size(); ++k) {
        if (k >= timeBegin && k < timeEnd) continue;
        if (t[k].kind == DateToken::Colon || t[k].meridian) return std::nullopt;
        date.push_back(t[k]);
    }
    int year = 1899, month = 12, day = 30;
    std::size_t yearDigits = 4;
    if (!date.empty()) {
        if (date.size() != 3) return std::nullopt;
        const auto named = std::find_if(date.begin(), date.end(), [](const DateToken& d) { return d.kind == DateToken::Word; });
        if (named != date.end()) {
            if (std::count_if(date.begin(), date.end(), [](const DateToken& d) { return d.kind == DateToken::Word; }) != 1)
                return std::nullopt;
            month = named->value;
            date.erase(named);
            // "March 1, 2024", "1 March 2024", "2024 March 1": the year is the
            // number too large for a day, else the later one.
            const bool firstIsYear = date[0].digits > 2 || date[0].value > 31;
            day = firstIsYear ? date[1].value : date[0].value;
            year = firstIsYear ? date[0].value : date[1].value;
            yearDigits = firstIsYear ? date[0].digits : date[1].digits;
        } else if (date[0].digits > 2) {  // year first: 2024-03-01
            year = date[0].value;
            yearDigits = date[0].digits;
            month = date[1].value;
            day = date[2].value;
        } else {  // month first, as the locale writes it: 3/1/2024
            month = date[0].value;
            day = date[1].value;
            year = date[2].value;
            yearDigits = date[2].digits;
        }
        // A year in two digits: 00-29 are 2000-2029, 30-99 are 1930-1999.
        if (yearDigits <= 2) year += year < 30 ? 2000 : 1900;
    }
    const std::chrono::year_month_day ymd{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                          std::chrono::day{static_cast<unsigned>(day)}};
    if (year < 100 || year > 9999 || !ymd.ok()) return std::nullopt;
    return MakeDate(DateParts{year, month, day, hour, minute, second, 0});
}

}  // namespace

bool Variant::is_missing() const noexcept {
    const auto* e = std::get_if<ErrorValue>(&value_);
    return e && e->code == kMissingCode;
}

bool Variant::is_numeric() const noexcept {
    switch (type()) {
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Float32:
    case VarType::Float64:
    case VarType::Boolean:
    case VarType::Date:
        return true;
    default:
        return false;
    }
}

bool Variant::is_blank() const noexcept {
    if (is_empty()) return true;
    const auto* s = std::get_if<std::string>(&value_);
    return s && s->empty();
}

std::string Variant::ToText() const {
    switch (type()) {
    case VarType::Empty:
        return {};
    case VarType::Null:
        raise(Err::InvalidUseOfNull);
    case VarType::Int16:
        return std::to_string(std::get<std::int16_t>(value_));
    case VarType::Int32:
        return std::to_string(std::get<std::int32_t>(value_));
    case VarType::Float32:
        return FloatText(std::get<float>(value_), 7);
    case VarType::Float64:
        return FloatText(std::get<double>(value_), 15);
    case VarType::Boolean:
        return std::get<bool>(value_) ? "True" : "False";
    case VarType::Date:
        return DateText(std::get<DateValue>(value_).days);
    case VarType::Text:
        return std::get<std::string>(value_);
    case VarType::Object: {
        return DefaultOf(std::get<std::shared_ptr<Dispatch>>(value_)).ToText();
    }
    case VarType::ErrorCode:
        break;
    }
    raise(Err::TypeMismatch);
}

double Variant::ToDouble() const {
    switch (type()) {
    case VarType::Empty:
        return 0;
    case VarType::Null:
        raise(Err::InvalidUseOfNull);
    case VarType::Int16:
        return std::get<std::int16_t>(value_);
    case VarType::Int32:
        return std::get<std::int32_t>(value_);
    case VarType::Float32:
        return std::get<float>(value_);
    case VarType::Float64:
        return std::get<double>(value_);
    case VarType::Boolean:
        return std::get<bool>(value_) ? -1 : 0;
    case VarType::Date:
        return std::get<DateValue>(value_).days;
    case VarType::Text: {
        const std::string& s = std::get<std::string>(value_);
        std::size_t begin = s.find_first_not_of(' ');
        std::size_t end = s.find_last_not_of(' ');
        if (begin == std::string::npos) raise(Err::TypeMismatch);
        const char* first = s.data() + begin;
        if (*first == '+') ++first;
        double out = 0;
        const auto res = std::from_chars(first, s.data() + end + 1, out);
        if (res.ec != std::errc{} || res.ptr != s.data() + end + 1) raise(Err::TypeMismatch);
        return out;
    }
    case VarType::Object: {
        return DefaultOf(std::get<std::shared_ptr<Dispatch>>(value_)).ToDouble();
    }
    case VarType::ErrorCode:
        break;
    }
    raise(Err::TypeMismatch);
}

std::int32_t Variant::ToInt32() const {
    if (type() == VarType::Int32) return std::get<std::int32_t>(value_);
    if (type() == VarType::Int16) return std::get<std::int16_t>(value_);
    const double d = std::nearbyint(ToDouble());  // halves to even
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) raise(Err::Overflow);
    return static_cast<std::int32_t>(d);
}

double Variant::ToDate() const {
    switch (type()) {
    case VarType::Date:
        return std::get<DateValue>(value_).days;
    case VarType::Text:
        if (const auto days = ParseDateText(std::get<std::string>(value_))) return *days;
        return ToDouble();
    case VarType::Object:
        return DefaultOf(std::get<std::shared_ptr<Dispatch>>(value_)).ToDate();
    default:
        return ToDouble();
    }
}

bool Variant::ToBool() const {
    if (type() == VarType::Boolean) return std::get<bool>(value_);
    if (type() == VarType::Object) return DefaultOf(std::get<std::shared_ptr<Dispatch>>(value_)).ToBool();
    if (type() == VarType::Text) {
        const std::string folded = FoldCase(std::get<std::string>(value_));
        if (folded == "true") return true;
        if (folded == "false") return false;
    }
    return ToDouble() != 0;
}

std::shared_ptr<Dispatch> Variant::ToObject() const {
    const auto* object = std::get_if<std::shared_ptr<Dispatch>>(&value_);
    if (!object || !*object) raise(Err::ObjectRequired);
    return *object;
}

const std::string& Variant::text() const {
    const auto* s = std::get_if<std::string>(&value_);
    if (!s) raise(Err::TypeMismatch);
    return *s;
}

double Variant::date_value() const {
    const auto* d = std::get_if<DateValue>(&value_);
    if (!d) raise(Err::TypeMismatch);
    return d->days;
}

std::int32_t Variant::error_code() const {
    const auto* e = std::get_if<ErrorValue>(&value_);
    if (!e) raise(Err::TypeMismatch);
    return e->code;
}

std::string FoldCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool EqualsFolded(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool IsAutomationDate(double days) noexcept {
    // 1 January 100 is day -657434, 31 December 9999 day 2958465. The coarse
    // test keeps the rounding below in range (and fails NaN); the day after
    // rounding to the second catches 23:59:59.9 of the last day.
    if (!(days > -657436.0 && days < 2958467.0)) return false;
    double whole = std::trunc(days);
    if (std::llround(std::fabs(days - whole) * 86400.0) >= 86400) whole += days < 0 ? -1 : 1;
    return whole >= -657434.0 && whole <= 2958465.0;
}

DateParts SplitDate(double days) {
    if (!IsAutomationDate(days)) raise(Err::InvalidProcedureCall);
    // The whole part counts days from the base; the fraction is the time of
    // day, also for dates before the base (-1.25 is 29 December, 06:00).
    double whole = std::trunc(days);
    long long seconds = std::llround(std::fabs(days - whole) * 86400.0);
    if (seconds >= 86400) {
        seconds -= 86400;
        whole += days < 0 ? -1 : 1;
    }
    const auto day = kDateBase + std::chrono::days{static_cast<long long>(whole)};
    const std::chrono::year_month_day ymd{day};
    const std::chrono::weekday wd{day};
    DateParts p{};
    p.year = static_cast<int>(ymd.year());
    p.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    p.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    p.hour = static_cast<int>(seconds / 3600);
    p.minute = static_cast<int>(seconds / 60 % 60);
    p.second = static_cast<int>(seconds % 60);
    p.weekday = static_cast<int>(wd.c_encoding());
    return p;
}

double MakeDate(const DateParts& p) {
    const std::chrono::sys_days day{std::chrono::year{p.year} / p.month / p.day};
    const double whole = static_cast<double>((day - kDateBase).count());
    const double fraction = (p.hour * 3600.0 + p.minute * 60.0 + p.second) / 86400.0;
    return whole >= 0 ? whole + fraction : whole - fraction;
}


}  // namespace quillpost
