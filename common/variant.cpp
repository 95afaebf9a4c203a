#include <quillpost/detail/date.hpp>
#include <quillpost/detail/errors.hpp>
#include <quillpost/detail/text.hpp>
#include <quillpost/variant.hpp>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

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
        const auto& object = std::get<std::shared_ptr<Dispatch>>(value_);
        if (!object) raise(Err::ObjectRequired);
        return object->DefaultValue().ToText();
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
        const auto& object = std::get<std::shared_ptr<Dispatch>>(value_);
        if (!object) raise(Err::ObjectRequired);
        return object->DefaultValue().ToDouble();
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

bool Variant::ToBool() const {
    if (type() == VarType::Boolean) return std::get<bool>(value_);
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
