#include "tests/support/error_of.hpp"

#include <quillpost/collections.hpp>

#include <gtest/gtest.h>

#include <vector>

using namespace quillpost;
using quillpost::test::ErrorNumberOf;

namespace {

std::vector<std::string> Addresses(const Recipients& list) {
    std::vector<std::string> out;
    for (const auto& r : list) out.push_back(r->Address());
    return out;
}

}  // namespace

TEST(RecipientsAdd, BlankAddressIsRefusedAndNothingIsAdded) {
    auto list = std::make_shared<Recipients>();
    try {
        list->Add("");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 9995);
        EXPECT_EQ(e.description(), "Recipient address can not be blank");
    }
    EXPECT_EQ(ErrorNumberOf([&] { list->Add(Variant()); }), 9995);
    EXPECT_EQ(ErrorNumberOf([&] { list->Add(Variant::missing()); }), 9995);
    EXPECT_EQ(list->Count(), 0);
}

TEST(RecipientsAdd, StoresAddressAndNameUnchanged) {
    Recipients list;
    list.Add("  ");
    list.Add("a@example.com");
    list.Add("a@example.com", "");
    list.Add("b@example.com", "Bob");
    list.Add(42, 7.5);
    ASSERT_EQ(list.Count(), 5);
    EXPECT_EQ(list.Item(1)->Address(), "  ");
    EXPECT_EQ(list.Item(2)->Name(), "");
    EXPECT_EQ(list.Item(3)->Name(), "");
    EXPECT_EQ(list.Item(4)->Name(), "Bob");
    EXPECT_EQ(list.Item(5)->Address(), "42");
    EXPECT_EQ(list.Item(5)->Name(), "7.5");
    EXPECT_EQ(Addresses(list)[1], Addresses(list)[2]);  // duplicates allowed
}

TEST(RecipientsAdd, NameThatCannotBeConvertedLeavesTheListUnchanged) {
    Recipients list;
    EXPECT_EQ(ErrorNumberOf([&] { list.Add("a@example.com", Variant::null()); }), 94);
    EXPECT_EQ(list.Count(), 0);
}

TEST(RecipientsLookup, PositionsAreOneBasedAndShiftOnRemove) {
    Recipients list;
    list.Add("one");
    list.Add("two");
    list.Add("three");
    list.Remove(1);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Item(1)->Address(), "two");
    EXPECT_EQ(list.Item(2.0)->Address(), "three");
    EXPECT_EQ(ErrorNumberOf([&] { list.Item(0); }), 9);
    EXPECT_EQ(ErrorNumberOf([&] { list.Item(3); }), 9);
    EXPECT_EQ(ErrorNumberOf([&] { list.Remove(0); }), 9);
    EXPECT_EQ(ErrorNumberOf([&] { list.Item(1e12); }), 9);
    EXPECT_EQ(list.Count(), 2);
}

TEST(RecipientsLookup, TextIsAlwaysAKeyAndNeverMatches) {
    Recipients list;
    list.Add("one");
    try {
        list.Item("1");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 5);
        EXPECT_EQ(e.description(), "Invalid procedure call or argument");
    }
    EXPECT_EQ(ErrorNumberOf([&] { list.Item("one"); }), 5);
    EXPECT_EQ(ErrorNumberOf([&] { list.Remove("one"); }), 5);
    EXPECT_EQ(list.Count(), 1);
}

TEST(RecipientsLookup, ItemReturnsTheStoredObjectItself) {
    Recipients list;
    list.Add("a@example.com");
    list.Item(1)->Name("Ann");
    EXPECT_EQ(list.Item(1)->Name(), "Ann");
    EXPECT_EQ(list.Item(1).get(), list.Item(1).get());
    EXPECT_EQ(Variant(list.Item(1)).ToText(), "a@example.com");  // default member
}

TEST(RecipientsClear, HeldItemsOutliveTheList) {
    Recipients list;
    list.Add("a@example.com", "Ann");
    auto held = list.Item(1);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(held->Name(), "Ann");
    EXPECT_EQ(held->Address(), "a@example.com");
}

TEST(RecipientsEnumerate, NewEnumYieldsItemsInOrderFromASnapshot) {
    Recipients list;
    list.Add("one");
    list.Add("two");
    auto e = list.NewEnum();
    list.Add("three");  // added after the walk began: not part of it
    Variant item;
    std::vector<std::string> seen;
    while (e->Next(item)) seen.push_back(item.ToText());
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "two"}));
    e->Reset();
    EXPECT_TRUE(e->Skip(1));
    ASSERT_TRUE(e->Next(item));
    EXPECT_EQ(item.ToText(), "two");
    EXPECT_FALSE(e->Skip(1));
    EXPECT_EQ(Addresses(list), (std::vector<std::string>{"one", "two", "three"}));
}
