// The operations of the removal run, one at a time, against a store in memory.
#include "tests/uninstall/in_memory_directory.hpp"
#include "uninstall/directory_operations.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

namespace quillpost::uninst::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::string_view kService = "IIS://localhost/W3SVC";

// A store with sites "1" and "2", and the first child of the service in hand.
struct ChildInHand : ::testing::Test {
    ChildInHand() {
        site = &dir.AddSite("1");
        dir.AddSite("2");
        EXPECT_EQ(OpenChildEnumerator(dir, kService, enumerator), 0);
        EXPECT_EQ(NextChild(dir, enumerator, child), 0);
    }
    ~ChildInHand() override {
        ReleaseObject(dir, child);
        FreeEnumerator(dir, enumerator);
        EXPECT_THAT(dir.Outstanding(), IsEmpty());
        EXPECT_THAT(dir.Faults(), IsEmpty());
    }

    InMemoryDirectory dir;
    Node* site = nullptr;
    EnumeratorRef enumerator{};
    ChildRef child{};
    TextBuffer buffer{};
};

// --- OpenChildEnumerator ---------------------------------------------------

TEST(OpenChildEnumerator, KeepsOnlyTheEnumerator) {
    InMemoryDirectory dir;
    dir.AddSite("1");
    EnumeratorRef enumerator{};

    EXPECT_EQ(OpenChildEnumerator(dir, kService, enumerator), 0);

    EXPECT_NE(enumerator, EnumeratorRef{});
    EXPECT_THAT(dir.Outstanding(), ElementsAre("enumerator IIS://localhost/W3SVC"));
    EXPECT_EQ(FreeEnumerator(dir, enumerator), 0);
    EXPECT_THAT(dir.Outstanding(), IsEmpty());
}

TEST(OpenChildEnumerator, FailsWithoutLeavingAnythingOpen) {
    struct Case {
        const char* what;
        bool coInitializeFails, buildFails;
        std::string_view path;
    };
    for (const Case& c : {Case{"object library", true, false, kService},
                          Case{"unknown path", false, false, "IIS://localhost/W3SVC/9"},
                          Case{"enumerator", false, true, kService}}) {
        SCOPED_TRACE(c.what);
        InMemoryDirectory dir;
        dir.coInitializeFails = c.coInitializeFails;
        dir.buildEnumeratorFails = c.buildFails;
        EnumeratorRef enumerator{};

        EXPECT_EQ(OpenChildEnumerator(dir, c.path, enumerator), -1);

        EXPECT_EQ(enumerator, EnumeratorRef{});
        EXPECT_THAT(dir.Outstanding(), IsEmpty());
        EXPECT_THAT(dir.Faults(), IsEmpty());
    }
}

TEST(OpenChildEnumerator, BindsNothingBeforeTheObjectLibraryStarts) {
    InMemoryDirectory dir;
    dir.coInitializeFails = true;
    EnumeratorRef enumerator{};

    OpenChildEnumerator(dir, kService, enumerator);

    EXPECT_THAT(dir.Calls(), ElementsAre("CoInitialize"));
}

// --- NextChild --------------------------------------------------------------

TEST(NextChild, GivesEachChildThenReportsNoneLeft) {
    InMemoryDirectory dir;
    dir.AddSite("1");
    dir.Add(dir.Service(), "Filters", "IIsFilters");
    EnumeratorRef enumerator{};
    ASSERT_EQ(OpenChildEnumerator(dir, kService, enumerator), 0);

    ChildRef first{}, second{}, none{};
    EXPECT_EQ(NextChild(dir, enumerator, first), 0);
    EXPECT_EQ(NextChild(dir, enumerator, second), 0);
    EXPECT_EQ(NextChild(dir, enumerator, none), -2);

    EXPECT_NE(first, second);
    EXPECT_EQ(none, ChildRef{});
    EXPECT_THAT(dir.ChildrenHandedOut(), ElementsAre("1", "Filters"));
    ReleaseObject(dir, first);
    ReleaseObject(dir, second);
    FreeEnumerator(dir, enumerator);
    EXPECT_THAT(dir.Outstanding(), IsEmpty());
}

TEST(NextChild, FailedStepGivesMinusOne) {
    InMemoryDirectory dir;
    dir.AddSite("1");
    dir.failEnumerationAtStep = 0;
    EnumeratorRef enumerator{};
    ASSERT_EQ(OpenChildEnumerator(dir, kService, enumerator), 0);
    ChildRef child{};

    EXPECT_EQ(NextChild(dir, enumerator, child), -1);

    EXPECT_EQ(child, ChildRef{});
    FreeEnumerator(dir, enumerator);
}

TEST(NextChild, EmptyEnumeratorGivesMinusOneWithoutAsking) {
    InMemoryDirectory dir;
    ChildRef child{};

    EXPECT_EQ(NextChild(dir, EnumeratorRef{}, child), -1);

    EXPECT_EQ(dir.CountCalls("ADsEnumerateNext"), 0u);
}

// --- ReadPropertyText ---------------------------------------------------------

TEST_F(ChildInHand, ReadsTextPropertiesOfBothKinds) {
    site->properties["Comment"] = TextByReference("by reference");

    EXPECT_EQ(ReadPropertyText(dir, child, "KeyType", buffer), 0);
    EXPECT_EQ(BufferText(buffer), "IIsWebServer");
    EXPECT_EQ(ReadPropertyText(dir, child, "Comment", buffer), 0);
    EXPECT_EQ(BufferText(buffer), "by reference");
}

TEST_F(ChildInHand, NameGivesTheRelativeNameNotAProperty) {
    site->properties["Name"] = TextValue("not the name");

    EXPECT_EQ(ReadPropertyText(dir, child, "Name", buffer), 0);

    EXPECT_EQ(BufferText(buffer), "1");
    EXPECT_EQ(dir.CountCalls("GetName"), 1u);
    EXPECT_EQ(dir.CountCalls("Get"), 0u);
}

TEST_F(ChildInHand, OnlyTheExactNameStandsForTheRelativeName) {
    site->properties["name"] = TextValue("a property");

    EXPECT_EQ(ReadPropertyText(dir, child, "name", buffer), 0);

    EXPECT_EQ(BufferText(buffer), "a property");
}

TEST_F(ChildInHand, ValuesThatAreNotTextGiveMinusOneAndAnEmptyBuffer) {
    site->properties["Port"] = NumberValue();
    const std::string stale = "stale";
    std::copy(stale.begin(), stale.end(), buffer.begin());

    EXPECT_EQ(ReadPropertyText(dir, child, "Port", buffer), -1);
    EXPECT_EQ(BufferText(buffer), "");
    EXPECT_EQ(ReadPropertyText(dir, child, "Missing", buffer), -1);
    site->nameUnreadable = true;
    EXPECT_EQ(ReadPropertyText(dir, child, "Name", buffer), -1);
}

TEST_F(ChildInHand, ObjectWithoutDirectoryInterfaceGivesMinusOne) {
    site->noDirectoryInterface = true;

    EXPECT_EQ(ReadPropertyText(dir, child, "KeyType", buffer), -1);

    EXPECT_EQ(dir.CountCalls("Get"), 0u);
}

TEST_F(ChildInHand, EveryReadGivesItsInterfaceBack) {
    const std::size_t before = dir.CountCalls("Release");
    ReadPropertyText(dir, child, "KeyType", buffer);
    ReadPropertyText(dir, child, "Name", buffer);
    ReadPropertyText(dir, child, "Missing", buffer);

    // Three interfaces obtained and three given back; the child stays in hand.
    EXPECT_EQ(dir.CountCalls("Release") - before, 3u);
    EXPECT_THAT(dir.Outstanding(), ElementsAre("enumerator IIS://localhost/W3SVC",
                                               "child IIS://localhost/W3SVC/1"));
}

TEST(ReadPropertyText, EmptyObjectGivesMinusOneWithoutAsking) {
    InMemoryDirectory dir;
    TextBuffer buffer{};

    EXPECT_EQ(ReadPropertyText(dir, ChildRef{}, "KeyType", buffer), -1);

    EXPECT_THAT(dir.Calls(), IsEmpty());
}

// The buffer, with bytes after it that must survive every read.
struct GuardedBuffer {
    TextBuffer buffer{};
    std::array<char, 64> guard{};
};

TEST_F(ChildInHand, TextUpTo1023BytesFitsAndLongerNeverOverflows) {
    GuardedBuffer guarded;
    guarded.guard.fill('G');

    site->properties["Long"] = TextValue(std::string(1023, 'x'));
    EXPECT_EQ(ReadPropertyText(dir, child, "Long", guarded.buffer), 0);
    EXPECT_EQ(BufferText(guarded.buffer), std::string(1023, 'x'));

    site->properties["Long"] = TextValue(std::string(1024, 'y'));
    EXPECT_EQ(ReadPropertyText(dir, child, "Long", guarded.buffer), -1);
    EXPECT_EQ(BufferText(guarded.buffer), "");

    site->properties["Long"] = TextValue(std::string(5000, 'z'));
    EXPECT_EQ(ReadPropertyText(dir, child, "Long", guarded.buffer), -1);

    EXPECT_EQ(std::string(guarded.guard.begin(), guarded.guard.end()), std::string(64, 'G'));
}

TEST_F(ChildInHand, TextEndsAtItsFirstZeroByte) {
    site->properties["Comment"] = TextValue(std::string("short\0", 6) + std::string(2000, 'x'));

    EXPECT_EQ(ReadPropertyText(dir, child, "Comment", buffer), 0);

    EXPECT_EQ(BufferText(buffer), "short");
}

// --- DeleteChildObject ------------------------------------------------------

TEST(DeleteChildObject, DeletesTheChildOfThatClassAndName) {
    InMemoryDirectory dir;
    Node& site = dir.AddSite("1");
    dir.Add(InMemoryDirectory::RootOf(site), "Quillpost", InMemoryDirectory::kVirtualDirType);

    EXPECT_EQ(DeleteChildObject(dir, "IIS://localhost/W3SVC/1/Root", "IIsWebVirtualDir",
                                "Quillpost"),
              0);

    EXPECT_EQ(dir.Find("IIS://localhost/W3SVC/1/Root/Quillpost"), nullptr);
    EXPECT_THAT(dir.Outstanding(), IsEmpty());
}

TEST(DeleteChildObject, FailuresGiveMinusOneAndLeaveTheStoreAlone) {
    struct Case {
        const char* what;
        std::string_view path, className, name;
        bool refuse, coInitializeFails;
    };
    const std::string_view root = "IIS://localhost/W3SVC/1/Root";
    for (const Case& c : {Case{"no such child", root, "IIsWebVirtualDir", "Other", false, false},
                          Case{"other class", root, "IIsWebDirectory", "Quillpost", false, false},
                          Case{"no such container", "IIS://localhost/W3SVC/2/Root",
                               "IIsWebVirtualDir", "Quillpost", false, false},
                          Case{"refused", root, "IIsWebVirtualDir", "Quillpost", true, false},
                          Case{"object library", root, "IIsWebVirtualDir", "Quillpost", false,
                               true}}) {
        SCOPED_TRACE(c.what);
        InMemoryDirectory dir;
        Node& site = dir.AddSite("1");
        dir.Add(InMemoryDirectory::RootOf(site), "Quillpost", InMemoryDirectory::kVirtualDirType)
            .refuseDelete = c.refuse;
        dir.coInitializeFails = c.coInitializeFails;

        EXPECT_EQ(DeleteChildObject(dir, c.path, c.className, c.name), -1);

        EXPECT_NE(dir.Find("IIS://localhost/W3SVC/1/Root/Quillpost"), nullptr);
        EXPECT_THAT(dir.Outstanding(), IsEmpty());
        EXPECT_THAT(dir.Faults(), IsEmpty());
    }
}

// --- Release and free ---------------------------------------------------------

TEST_F(ChildInHand, ReleaseEmptiesTheHandleAndLeavesAnEmptyOneAlone) {
    const std::size_t before = dir.CountCalls("Release");
    EXPECT_EQ(ReleaseObject(dir, child), 0);
    EXPECT_EQ(child, ChildRef{});
    EXPECT_EQ(ReleaseObject(dir, child), -1);
    EXPECT_EQ(dir.CountCalls("Release") - before, 1u);

    EXPECT_EQ(FreeEnumerator(dir, enumerator), 0);
    EXPECT_EQ(enumerator, EnumeratorRef{});
    EXPECT_EQ(FreeEnumerator(dir, enumerator), -1);
    EXPECT_EQ(dir.CountCalls("ADsFreeEnumerator"), 1u);
}

TEST(ReleaseObject, EmptyHandlesOfEveryKindGiveMinusOne) {
    InMemoryDirectory dir;
    ContainerRef container{};
    DirObjectRef object{};

    EXPECT_EQ(ReleaseObject(dir, container), -1);
    EXPECT_EQ(ReleaseObject(dir, object), -1);

    EXPECT_THAT(dir.Calls(), IsEmpty());
}

}  // namespace
}  // namespace quillpost::uninst::test
