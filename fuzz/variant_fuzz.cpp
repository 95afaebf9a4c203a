// The automation conversions on values a script could pass: the input as
// text, and its first bytes read as the numbers and dates a host hands in.
// A conversion may refuse with quillpost::Error; any other exception escapes
// and ends the run as a finding.
#include "fuzz_check.hpp"

#include <quillpost/detail/date.hpp>
#include <quillpost/error.hpp>
#include <quillpost/variant.hpp>

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace {

// Runs each conversion on its own, so one refusal does not hide the others.
template <class F>
void Try(F convert) {
    try {
        convert();
    } catch (const quillpost::Error&) {
    }
}

void ConvertAll(const quillpost::Variant& v) {
    Try([&] { (void)v.ToText(); });
    Try([&] { (void)v.ToDouble(); });
    Try([&] {
        const std::int32_t n = v.ToInt32();
        // Rounding moves a value by half at most.
        const double d = v.ToDouble();
        QP_FUZZ_CHECK(std::fabs(d - n) <= 0.5);
    });
    Try([&] { (void)v.ToBool(); });
    // Date text gives a date of the years 100 to 9999; other text is read
    // as a number.
    Try([&] {
        const double days = v.ToDate();
        if (v.is_text() && !quillpost::IsAutomationDate(days)) {
            const double number = v.ToDouble();
            QP_FUZZ_CHECK(days == number || (std::isnan(days) && std::isnan(number)));
        }
    });
}

// The text of a number reads back as that number: a double through the
// text conversion, a float (whose shortest text may sit next to a rounding
// boundary of double) read as a float.
template <class F>
void CheckTextRoundTrip(F value) {
    const std::string text = quillpost::Variant(value).ToText();
    F back;
    if constexpr (std::is_same_v<F, double>) {
        back = quillpost::Variant(text).ToDouble();
    } else {
        const auto res = std::from_chars(text.data(), text.data() + text.size(), back);
        QP_FUZZ_CHECK(res.ec == std::errc{} && res.ptr == text.data() + text.size());
    }
    QP_FUZZ_CHECK(std::isnan(value) ? std::isnan(back) : back == value);
}

// A date's text is "YYYY-MM-DD", "hh:mm:ss" or both, with a year of four
// digits: automation dates run from the year 100 to 9999.
void CheckDateText(double days) {
    Try([&] {
        const std::string text = quillpost::Variant::date(days).ToText();
        const std::string_view shapes[] = {"dddd-dd-dd", "dd:dd:dd", "dddd-dd-dd dd:dd:dd"};
        bool matches = false;
        for (const auto shape : shapes) {
            bool same = shape.size() == text.size();
            for (std::size_t i = 0; same && i < text.size(); ++i)
                same = shape[i] == 'd' ? text[i] >= '0' && text[i] <= '9' : shape[i] == text[i];
            matches = matches || same;
        }
        QP_FUZZ_CHECK(matches);
    });
}

template <class T>
T Read(const std::uint8_t* data) {
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ConvertAll(quillpost::Variant(text));
    QP_FUZZ_CHECK(quillpost::Variant(text).ToText() == text);

    if (size >= sizeof(std::int16_t)) ConvertAll(quillpost::Variant(Read<std::int16_t>(data)));
    if (size >= sizeof(std::int32_t)) {
        ConvertAll(quillpost::Variant(Read<std::int32_t>(data)));
        const float f = Read<float>(data);
        ConvertAll(quillpost::Variant(f));
        CheckTextRoundTrip(f);
    }
    if (size >= sizeof(double)) {
        ConvertAll(quillpost::Variant(Read<std::int64_t>(data)));
        const double d = Read<double>(data);
        ConvertAll(quillpost::Variant(d));
        CheckTextRoundTrip(d);
        ConvertAll(quillpost::Variant::date(d));
        CheckDateText(d);
    }
    return 0;
}
