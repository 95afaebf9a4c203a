#include "tests/support/error_of.hpp"

#include <quillpost/collections.hpp>

#include <gtest/gtest.h>

using namespace quillpost;
using quillpost::test::ErrorNumberOf;

namespace {

struct Parsed {
    bool found;
    std::string name, value;
};

Parsed ParseLine(const std::string& line, const std::string& nameBefore = "old") {
    Header h;
    h.Name(nameBefore);
    const bool found = h.Parse(line);
    return {found, h.Name(), h.Value()};
}

}  // namespace

TEST(HeaderParse, SplitsAtTheFirstColonBlank) {
    auto p = ParseLine("X-Tag: value");
    EXPECT_TRUE(p.found);
    EXPECT_EQ(p.name, "X-Tag");
    EXPECT_EQ(p.value, "value");
    p = ParseLine("A: b: c");
    EXPECT_EQ(p.name, "A");
    EXPECT_EQ(p.value, "b: c");
    p = ParseLine("http:x: y");
    EXPECT_EQ(p.name, "http:x");
    EXPECT_EQ(p.value, "y");
}

TEST(HeaderParse, NothingIsTrimmed) {
    auto p = ParseLine("Name :  two\r\n");
    EXPECT_EQ(p.name, "Name ");
    EXPECT_EQ(p.value, " two\r\n");
    p = ParseLine(": rest");
    EXPECT_TRUE(p.found);
    EXPECT_EQ(p.name, "");
    EXPECT_EQ(p.value, "rest");
    p = ParseLine("Name: ");
    EXPECT_TRUE(p.found);
    EXPECT_EQ(p.value, "");
}

TEST(HeaderParse, WithoutSeparatorValueTakesTheLineAndNameStays) {
    const auto p = ParseLine("Name:value", "kept");
    EXPECT_FALSE(p.found);
    EXPECT_EQ(p.name, "kept");
    EXPECT_EQ(p.value, "Name:value");
}

TEST(HeadersAdd, NameIsCheckedBeforeValue) {
    Headers h;
    try {
        h.Add("", "");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 9997);
        EXPECT_EQ(e.description(), "Message header name can not be blank");
    }
    try {
        h.Add("X-A", "");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 9996);
        EXPECT_EQ(e.description(), "Message header value can not be blank");
    }
    EXPECT_EQ(h.Count(), 0);
}

TEST(HeadersAdd, NamesDifferingOnlyInCaseAreDuplicates) {
    Headers h;
    h.Add("X-Tag", "a");
    try {
        h.Add("x-TAG", "b");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 457);
    }
    EXPECT_EQ(h.Count(), 1);
    EXPECT_EQ(h.Item("X-TAG")->Value(), "a");
}

TEST(HeadersLookup, ByNameInAnyCaseOrByPosition) {
    Headers h;
    h.Add("X-One", "1");
    h.Add("X-Two", "2");
    EXPECT_EQ(h.Item("x-two").get(), h.Item("X-TWO").get());
    EXPECT_EQ(h.Item("X-Two").get(), h.Item(2).get());
    EXPECT_EQ(ErrorNumberOf([&] { h.Item("X-Three"); }), 5);
    h.Remove("X-ONE");
    EXPECT_EQ(h.Count(), 1);
    EXPECT_EQ(h.Item(1)->Name(), "X-Two");
    EXPECT_EQ(ErrorNumberOf([&] { h.Item("x-one"); }), 5);
    h.Add("X-One", "again");  // the name is free again after removal
    EXPECT_EQ(h.Item(2)->Value(), "again");
}

TEST(HeadersLookup, RenamedItemIsFoundOnlyUnderItsOriginalName) {
    Headers h;
    h.Add("X-Old", "v");
    h.Item(1)->Name("X-New");
    EXPECT_EQ(h.Item("x-old")->Name(), "X-New");
    EXPECT_EQ(ErrorNumberOf([&] { h.Item("X-New"); }), 5);
}

TEST(HeadersLookup, RemoveByPositionFreesTheKey) {
    Headers h;
    h.Add("A", "1");
    h.Add("B", "2");
    h.Remove(1);
    EXPECT_EQ(ErrorNumberOf([&] { h.Item("a"); }), 5);
    h.Add("a", "3");
    EXPECT_EQ(h.Count(), 2);
    h.Clear();
    EXPECT_EQ(h.Count(), 0);
    h.Add("B", "again");  // Clear forgets the keys too
    EXPECT_EQ(h.Item("b")->Value(), "again");
}
