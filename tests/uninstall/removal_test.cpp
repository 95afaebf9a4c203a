// The removal run against a web server's store held in memory.
#include "tests/uninstall/in_memory_directory.hpp"
#include "uninstall/removal.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace quillpost::uninst::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::string_view kService = "IIS://localhost/W3SVC";

std::string RootPath(std::string_view site) {
    return std::string(kService) + "/" + std::string(site) + "/Root";
}

Deletion DeletedFrom(std::string_view site, bool succeeded = true) {
    return {RootPath(site), "IIsWebVirtualDir", "Quillpost", succeeded};
}

// A site with the directory "Quillpost" directly under its root.
Node& AddSiteWithDirectory(InMemoryDirectory& dir, std::string_view name) {
    Node& site = dir.AddSite(name);
    dir.Add(InMemoryDirectory::RootOf(site), "Quillpost", InMemoryDirectory::kVirtualDirType);
    return site;
}

bool HasDirectory(const InMemoryDirectory& dir, std::string_view site) {
    return dir.Find(RootPath(site) + "/Quillpost") != nullptr;
}

// Every reference obtained was given back exactly once, under its own kind,
// and the enumerator was freed at most once.
void ExpectEverythingGivenBack(const InMemoryDirectory& dir) {
    EXPECT_THAT(dir.Faults(), IsEmpty());
    EXPECT_THAT(dir.Outstanding(), IsEmpty());
    EXPECT_LE(dir.CountCalls("ADsFreeEnumerator"), 1u);
}

// Nothing was asked of any object but the service, its children and the
// roots of its sites.
void ExpectOnlyRootsDeletedFrom(const InMemoryDirectory& dir) {
    for (const Deletion& deletion : dir.Deletions()) {
        EXPECT_TRUE(deletion.containerPath.starts_with(std::string(kService) + "/") &&
                    deletion.containerPath.ends_with("/Root"))
            << deletion.containerPath;
        EXPECT_EQ(deletion.className, "IIsWebVirtualDir");
        EXPECT_EQ(deletion.relativeName, "Quillpost");
    }
}

// --- Machines without a web server ---------------------------------------

TEST(RemovalWithoutWebServer, VisitsNothingAndFreesNoEnumerator) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    dir.webServerInstalled = false;

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.ChildrenHandedOut(), IsEmpty());
    EXPECT_THAT(dir.Deletions(), IsEmpty());
    EXPECT_EQ(dir.CountCalls("ADsBuildEnumerator"), 0u);
    EXPECT_EQ(dir.CountCalls("ADsFreeEnumerator"), 0u);
    EXPECT_TRUE(HasDirectory(dir, "1"));
    ExpectEverythingGivenBack(dir);
}

TEST(RemovalWithoutWebServer, ObjectLibraryThatCannotStartBindsNothing) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    dir.coInitializeFails = true;

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_EQ(dir.CountCalls("ADsGetObject"), 0u);
    EXPECT_EQ(dir.CountCalls("ADsFreeEnumerator"), 0u);
    EXPECT_TRUE(HasDirectory(dir, "1"));
}

TEST(RemovalWithoutWebServer, ServiceThatCannotBeEnumeratedIsLeftAlone) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    dir.buildEnumeratorFails = true;

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.Deletions(), IsEmpty());
    EXPECT_EQ(dir.CountCalls("ADsFreeEnumerator"), 0u);
    // The service's container was bound and given back.
    EXPECT_EQ(dir.CountCalls("Release"), 1u);
    ExpectEverythingGivenBack(dir);
}

// --- Sites and the service's other children ------------------------------

TEST(RemovalOfSites, DeletesFromEverySiteInTheOrderTheyAreEnumerated) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "3");
    AddSiteWithDirectory(dir, "1");
    AddSiteWithDirectory(dir, "2");

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.Deletions(), ElementsAre(DeletedFrom("3"), DeletedFrom("1"), DeletedFrom("2")));
    EXPECT_FALSE(HasDirectory(dir, "1"));
    EXPECT_FALSE(HasDirectory(dir, "2"));
    EXPECT_FALSE(HasDirectory(dir, "3"));
    EXPECT_THAT(dir.ChildrenHandedOut(), ElementsAre("3", "1", "2"));
    EXPECT_EQ(dir.CountCalls("ADsFreeEnumerator"), 1u);
    ExpectEverythingGivenBack(dir);
}

TEST(RemovalOfSites, SiteWithoutTheDirectoryDoesNotStopTheWalk) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    dir.AddSite("2");
    AddSiteWithDirectory(dir, "3");

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.Deletions(),
                ElementsAre(DeletedFrom("1"), DeletedFrom("2", false), DeletedFrom("3")));
    EXPECT_FALSE(HasDirectory(dir, "3"));
    // The root of the site without the directory is still there, untouched.
    EXPECT_NE(dir.Find(RootPath("2")), nullptr);
    ExpectEverythingGivenBack(dir);
}

TEST(RemovalOfSites, RefusedDeletionDoesNotStopTheWalk) {
    InMemoryDirectory dir;
    Node& first = AddSiteWithDirectory(dir, "1");
    InMemoryDirectory::RootOf(first).Child("Quillpost")->refuseDelete = true;
    AddSiteWithDirectory(dir, "2");

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.Deletions(), ElementsAre(DeletedFrom("1", false), DeletedFrom("2")));
    EXPECT_TRUE(HasDirectory(dir, "1"));
    EXPECT_FALSE(HasDirectory(dir, "2"));
    ExpectEverythingGivenBack(dir);
}

TEST(RemovalOfSites, OtherChildrenOfTheServiceArePassedOver) {
    InMemoryDirectory dir;
    // Objects of the service that are not sites, one of them shaped like a
    // site, with a root holding the directory.
    dir.Add(dir.Service(), "Filters", "IIsFilters");
    Node& info = dir.Add(dir.Service(), "Info", "IIsWebInfo");
    Node& infoRoot = dir.Add(info, "Root", InMemoryDirectory::kVirtualDirType);
    dir.Add(infoRoot, "Quillpost", InMemoryDirectory::kVirtualDirType);
    AddSiteWithDirectory(dir, "1");

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.Deletions(), ElementsAre(DeletedFrom("1")));
    EXPECT_NE(dir.Find(RootPath("Info") + "/Quillpost"), nullptr);
    // A non-site's name is never asked for.
    EXPECT_EQ(dir.CountCalls("GetName"), 1u);
    EXPECT_THAT(dir.ChildrenHandedOut(), ElementsAre("Filters", "Info", "1"));
    ExpectEverythingGivenBack(dir);
}

TEST(RemovalOfSites, TypeThatDiffersOnlyInLetterCaseIsNotASite) {
    InMemoryDirectory dir;
    for (const char* type : {"iisWebServer", "IISWEBSERVER", "IIsWebserver"}) {
        Node& lookalike = AddSiteWithDirectory(dir, type);
        lookalike.properties["KeyType"] = TextValue(type);
    }
    AddSiteWithDirectory(dir, "4");

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.Deletions(), ElementsAre(DeletedFrom("4")));
    EXPECT_TRUE(HasDirectory(dir, "iisWebServer"));
    EXPECT_TRUE(HasDirectory(dir, "IISWEBSERVER"));
    EXPECT_TRUE(HasDirectory(dir, "IIsWebserver"));
    ExpectEverythingGivenBack(dir);
}

TEST(RemovalOfSites, TypeGivenByReferenceIsText) {
    InMemoryDirectory dir;
    Node& site = AddSiteWithDirectory(dir, "1");
    site.properties["KeyType"] = TextByReference("IIsWebServer");

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.Deletions(), ElementsAre(DeletedFrom("1")));
}

TEST(RemovalOfSites, SiteIsFoundByItsRelativeNameNotANameProperty) {
    InMemoryDirectory dir;
    Node& site = AddSiteWithDirectory(dir, "1");
    site.properties["Name"] = TextValue("2");
    AddSiteWithDirectory(dir, "2");

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.Deletions(), ElementsAre(DeletedFrom("1"), DeletedFrom("2")));
}

// --- What ends the walk ---------------------------------------------------

// Runs over site "1", then `blocker`, then site "3", and checks that the walk
// ended at `blocker`: site "3" was never handed out and keeps its directory.
void ExpectWalkEndsAt(InMemoryDirectory& dir, std::string_view blocker) {
    EXPECT_EQ(RunRemoval(dir), 0);
    EXPECT_THAT(dir.Deletions(), ElementsAre(DeletedFrom("1")));
    EXPECT_THAT(dir.ChildrenHandedOut(), ElementsAre("1", std::string(blocker)));
    EXPECT_TRUE(HasDirectory(dir, "3"));
    EXPECT_EQ(dir.CountCalls("ADsFreeEnumerator"), 1u);
    ExpectEverythingGivenBack(dir);
}

TEST(RemovalEndsWalk, AtChildWithoutKeyType) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    AddSiteWithDirectory(dir, "2").properties.erase("KeyType");
    AddSiteWithDirectory(dir, "3");

    ExpectWalkEndsAt(dir, "2");
    EXPECT_TRUE(HasDirectory(dir, "2"));
}

TEST(RemovalEndsWalk, AtChildWhoseKeyTypeIsNotText) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    AddSiteWithDirectory(dir, "2").properties["KeyType"] = NumberValue();
    AddSiteWithDirectory(dir, "3");

    ExpectWalkEndsAt(dir, "2");
    EXPECT_TRUE(HasDirectory(dir, "2"));
}

TEST(RemovalEndsWalk, AtChildWithoutDirectoryObjectInterface) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    dir.Add(dir.Service(), "Odd", "IIsFilters").noDirectoryInterface = true;
    AddSiteWithDirectory(dir, "3");

    ExpectWalkEndsAt(dir, "Odd");
}

TEST(RemovalEndsWalk, AtSiteWhoseNameCannotBeRead) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    AddSiteWithDirectory(dir, "2").nameUnreadable = true;
    AddSiteWithDirectory(dir, "3");

    ExpectWalkEndsAt(dir, "2");
    EXPECT_TRUE(HasDirectory(dir, "2"));
}

TEST(RemovalEndsWalk, WhenTheEnumeratorFails) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    AddSiteWithDirectory(dir, "2");
    dir.failEnumerationAtStep = 1;

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.Deletions(), ElementsAre(DeletedFrom("1")));
    EXPECT_TRUE(HasDirectory(dir, "2"));
    EXPECT_EQ(dir.CountCalls("ADsFreeEnumerator"), 1u);
    ExpectEverythingGivenBack(dir);
}

TEST(RemovalEndsWalk, WhenTheDirectoryThrowsWithEverythingGivenBack) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    AddSiteWithDirectory(dir, "2").throwOnRead = true;
    AddSiteWithDirectory(dir, "3");

    ExpectWalkEndsAt(dir, "2");
}

// --- Only the directory directly under a root -----------------------------

TEST(RemovalLeavesAlone, DirectoriesOfTheSameNameElsewhereInTheSite) {
    InMemoryDirectory dir;
    Node& site = AddSiteWithDirectory(dir, "1");
    Node& root = InMemoryDirectory::RootOf(site);
    Node& app = dir.Add(root, "App", InMemoryDirectory::kVirtualDirType);
    dir.Add(app, "Quillpost", InMemoryDirectory::kVirtualDirType);
    dir.Add(site, "Quillpost", InMemoryDirectory::kVirtualDirType);
    Node& other = dir.Add(site, "Other", InMemoryDirectory::kVirtualDirType);
    dir.Add(other, "Quillpost", InMemoryDirectory::kVirtualDirType);

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_FALSE(HasDirectory(dir, "1"));
    EXPECT_NE(dir.Find(RootPath("1") + "/App/Quillpost"), nullptr);
    EXPECT_NE(dir.Find(std::string(kService) + "/1/Quillpost"), nullptr);
    EXPECT_NE(dir.Find(std::string(kService) + "/1/Other/Quillpost"), nullptr);
    ExpectOnlyRootsDeletedFrom(dir);
    ExpectEverythingGivenBack(dir);
}

TEST(RemovalLeavesAlone, ObjectNamedQuillpostOfAnotherClass) {
    InMemoryDirectory dir;
    Node& site = dir.AddSite("1");
    dir.Add(InMemoryDirectory::RootOf(site), "Quillpost", "IIsWebDirectory");

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.Deletions(), ElementsAre(DeletedFrom("1", false)));
    EXPECT_TRUE(HasDirectory(dir, "1"));
}

TEST(RemovalLeavesAlone, EverythingOnASecondRun) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    AddSiteWithDirectory(dir, "2");
    dir.Add(dir.Service(), "Filters", "IIsFilters");
    ASSERT_EQ(RunRemoval(dir), 0);
    ASSERT_THAT(dir.Deletions(), ElementsAre(DeletedFrom("1"), DeletedFrom("2")));

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.Deletions(), ElementsAre(DeletedFrom("1"), DeletedFrom("2"),
                                             DeletedFrom("1", false), DeletedFrom("2", false)));
    EXPECT_NE(dir.Find(RootPath("1")), nullptr);
    EXPECT_NE(dir.Find(RootPath("2")), nullptr);
    EXPECT_EQ(dir.CountCalls("ADsFreeEnumerator"), 2u);
    EXPECT_THAT(dir.Faults(), IsEmpty());
    EXPECT_THAT(dir.Outstanding(), IsEmpty());
}

// --- Texts too long for their 1024-byte buffers ---------------------------
// A type or site name that does not fit its buffer ends the walk, as one that
// cannot be read at all; a root path that does not fit passes its site over.

// The longest site name whose root path, "IIS://localhost/W3SVC/", the name
// and "/Root", still fits 1023 bytes and the terminator.
constexpr std::size_t kLongestSiteName = 1023 - 22 - 5;

TEST(RemovalOfLongNames, RootPathThatJustFitsIsUsed) {
    InMemoryDirectory dir;
    const std::string name(kLongestSiteName, 's');
    AddSiteWithDirectory(dir, name);

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.Deletions(), ElementsAre(DeletedFrom(name)));
    EXPECT_EQ(dir.Deletions()[0].containerPath.size(), 1023u);
    EXPECT_FALSE(HasDirectory(dir, name));
}

TEST(RemovalOfLongNames, SiteWhoseRootPathWouldNotFitIsPassedOver) {
    for (const std::size_t length : {kLongestSiteName + 1, std::size_t{1023}}) {
        SCOPED_TRACE(length);
        InMemoryDirectory dir;
        const std::string name(length, 's');
        AddSiteWithDirectory(dir, name);
        AddSiteWithDirectory(dir, "2");

        EXPECT_EQ(RunRemoval(dir), 0);

        EXPECT_THAT(dir.Deletions(), ElementsAre(DeletedFrom("2")));
        EXPECT_TRUE(HasDirectory(dir, name));
        EXPECT_EQ(dir.CountCalls("ADsGetObject"), 2u);  // the service and site "2"
        ExpectEverythingGivenBack(dir);
    }
}

TEST(RemovalOfLongNames, SiteNameThatWouldNotFitEndsTheWalk) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    AddSiteWithDirectory(dir, std::string(1024, 's'));
    AddSiteWithDirectory(dir, "3");

    ExpectWalkEndsAt(dir, std::string(1024, 's'));
}

TEST(RemovalOfLongNames, TypeThatWouldNotFitEndsTheWalk) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    dir.Add(dir.Service(), "2", std::string(1024, 't'));
    AddSiteWithDirectory(dir, "3");

    ExpectWalkEndsAt(dir, "2");
}

TEST(RemovalOfLongNames, TypeThatJustFitsIsReadAndPassedOver) {
    InMemoryDirectory dir;
    AddSiteWithDirectory(dir, "1");
    dir.Add(dir.Service(), "2", std::string(1023, 't'));
    AddSiteWithDirectory(dir, "3");

    EXPECT_EQ(RunRemoval(dir), 0);

    EXPECT_THAT(dir.Deletions(), ElementsAre(DeletedFrom("1"), DeletedFrom("3")));
    ExpectEverythingGivenBack(dir);
}

}  // namespace
}  // namespace quillpost::uninst::test
