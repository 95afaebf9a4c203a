#include "tests/support/error_of.hpp"

#include <quillpost/collections.hpp>
#include <quillpost/detail/date.hpp>
#include <quillpost/detail/text.hpp>
#include <quillpost/variant.hpp>

#include <gtest/gtest.h>

#include <functional>

using namespace quillpost;
using quillpost::test::ErrorNumberOf;

TEST(VariantConversion, IntegersAndBooleansFollowAutomationRules) {
    EXPECT_EQ(Variant(42).ToText(), "42");
    EXPECT_EQ(Variant(std::int16_t{-7}).ToText(), "-7");
    EXPECT_EQ(Variant(true).ToText(), "True");
    EXPECT_EQ(Variant(false).ToText(), "False");
    EXPECT_EQ(Variant().ToText(), "");
    EXPECT_EQ(Variant(42L).type(), VarType::Int32);
    EXPECT_EQ(Variant(5000000000LL).type(), VarType::Float64);
    EXPECT_EQ(Variant(5000000000LL).ToText(), "5000000000");
}

TEST(VariantConversion, FloatsUseTheirShortestForm) {
    EXPECT_EQ(Variant(2.5).ToText(), "2.5");
    EXPECT_EQ(Variant(0.1).ToText(), "0.1");
    EXPECT_EQ(Variant(50.0f).ToText(), "50");
    EXPECT_EQ(Variant(0.1f).ToText(), "0.1");
    EXPECT_EQ(Variant(1000000.0).ToText(), "1000000");
    EXPECT_EQ(Variant(-0.00125).ToText(), "-0.00125");
    EXPECT_EQ(Variant(1e20).ToText(), "1E+20");
    EXPECT_EQ(Variant(1.5e-7).ToText(), "1.5E-07");
    EXPECT_EQ(Variant(12345678.0f).ToText(), "1.2345678E+07");
}

TEST(VariantConversion, NullRaisesInvalidUseOfNull) {
    try {
        (void)Variant::null().ToText();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 94);
        EXPECT_EQ(e.description(), "Invalid use of Null");
    }
}

TEST(VariantConversion, ObjectsConvertThroughTheirDefaultMember) {
    auto r = std::make_shared<Recipient>();
    r->Address("a@example.com");
    EXPECT_EQ(Variant(r).ToText(), "a@example.com");
    auto plain = std::make_shared<Dispatch>();
    EXPECT_EQ(ErrorNumberOf([&] { (void)Variant(plain).ToText(); }), 13);
    EXPECT_EQ(ErrorNumberOf([&] { (void)Variant(std::shared_ptr<Dispatch>()).ToText(); }), 424);
}

// An object whose default member gives `next` (itself when null).
struct DefaultIs : Dispatch {
    Variant next;
    Variant DefaultValue() override { return next.is_empty() ? Variant(shared_from_this()) : next; }
};

TEST(VariantConversion, ADefaultMemberThatGivesAnObjectIsReadOnceAndRefused) {
    auto self = std::make_shared<DefaultIs>();
    auto text = std::make_shared<DefaultIs>();
    text->next = "7";
    auto chain = std::make_shared<DefaultIs>();
    chain->next = Variant(text);
    const std::function<void(const Variant&)> conversions[] = {
        [](const Variant& v) { (void)v.ToText(); }, [](const Variant& v) { (void)v.ToDouble(); },
        [](const Variant& v) { (void)v.ToBool(); }, [](const Variant& v) { (void)v.ToDate(); }};
    for (const auto& convert : conversions) {
        EXPECT_EQ(ErrorNumberOf([&] { convert(Variant(self)); }), 13);
        EXPECT_EQ(ErrorNumberOf([&] { convert(Variant(chain)); }), 13);
        EXPECT_EQ(ErrorNumberOf([&] { convert(Variant(text)); }), 0);
    }
}

TEST(VariantConversion, DateTextInTheFormsThePlatformReads) {
    struct Case {
        const char* text;
        DateParts expected;
    };
    const Case cases[] = {
        {"2024-03-01 10:00:00", {2024, 3, 1, 10, 0, 0, 0}},
        {"2024-03-01", {2024, 3, 1, 0, 0, 0, 0}},
        {"2024/3/1 23:59", {2024, 3, 1, 23, 59, 0, 0}},
        {"3/1/2024 10:30:15 PM", {2024, 3, 1, 22, 30, 15, 0}},
        {"12/31/99", {1999, 12, 31, 0, 0, 0, 0}},
        {"1-2-29", {2029, 1, 2, 0, 0, 0, 0}},
        {"March 1, 2024", {2024, 3, 1, 0, 0, 0, 0}},
        {"1 mar 2024 12:00 am", {2024, 3, 1, 0, 0, 0, 0}},
        {"01-Sep-2023 7 pm", {2023, 9, 1, 19, 0, 0, 0}},
        {"10:00:00 2024-02-29", {2024, 2, 29, 10, 0, 0, 0}},
        {"14:05", {1899, 12, 30, 14, 5, 0, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(Variant(c.text).ToDate(), MakeDate(c.expected)) << c.text;
    EXPECT_EQ(Variant("45000.5").ToDate(), 45000.5);  // a number is a date's count of days
    for (const char* bad : {"2023-02-29", "13/1/2024", "25:00", "10:00 PM 13:00", "Smarch 1, 2024", "1/2", "12 PM x"})
        EXPECT_EQ(ErrorNumberOf([&] { (void)Variant(bad).ToDate(); }), 13) << bad;
}

TEST(VariantConversion, MissingParameterIsTheErrorCode80020004) {
    const Variant m = Variant::missing();
    EXPECT_EQ(m.type(), VarType::ErrorCode);
    EXPECT_TRUE(m.is_missing());
    EXPECT_EQ(static_cast<std::uint32_t>(m.error_code()), 0x80020004u);
    EXPECT_EQ(ErrorNumberOf([&] { (void)m.ToText(); }), 13);
}

TEST(VariantConversion, DatesGiveLocaleNeutralText) {
    EXPECT_EQ(Variant::date(0).ToText(), "1899-12-30");
    EXPECT_EQ(Variant::date(0.75).ToText(), "18:00:00");
    EXPECT_EQ(Variant::date(-1.25).ToText(), "1899-12-29 06:00:00");
    const double d = MakeDate({2026, 12, 6, 22, 20, 18, 0});
    EXPECT_EQ(Variant::date(d).ToText(), "2026-12-06 22:20:18");
    EXPECT_EQ(SplitDate(d).weekday, 0);  // a Sunday
    EXPECT_EQ(Variant::date(MakeDate({2000, 2, 29, 0, 0, 0, 0})).ToText(), "2000-02-29");
}

TEST(VariantConversion, DatesRoundToTheSecondAndCarryIntoTheNextDay) {
    const double almostMidnight = MakeDate({2024, 12, 31, 0, 0, 0, 0}) + 86399.7 / 86400.0;
    EXPECT_EQ(Variant::date(almostMidnight).ToText(), "2025-01-01");
}

TEST(VariantConversion, NumbersRoundHalvesToEvenAndOverflowPast32Bits) {
    EXPECT_EQ(Variant(2.5).ToInt32(), 2);
    EXPECT_EQ(Variant(3.5).ToInt32(), 4);
    EXPECT_EQ(Variant("12").ToInt32(), 12);
    EXPECT_EQ(ErrorNumberOf([] { (void)Variant(3e9).ToInt32(); }), 6);
    EXPECT_EQ(ErrorNumberOf([] { (void)Variant("twelve").ToInt32(); }), 13);
}

TEST(CaseFolding, FoldsAsciiLettersOnly) {
    EXPECT_EQ(FoldCase("X-Tag Ä"), "x-tag Ä");
    EXPECT_TRUE(EqualsFolded("Subject", "SUBJECT"));
    EXPECT_FALSE(EqualsFolded("Subject", "Subjects"));
}
