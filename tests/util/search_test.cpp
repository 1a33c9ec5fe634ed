// The drive search on the fake machine: which drives and folders are walked, in what order
// the finds appear, the filter after each drive, and stopping.
#include <gtest/gtest.h>

#include <algorithm>

#include "fakes/fake_machine.h"
#include "util/search.h"

using namespace klv;
using namespace klv::util;
using fakes::FakeMachine;
using Paths = std::vector<std::string>;

namespace {

class SearchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m.SetSpecialFolder(platform::sfProgramFiles, "C:\\Program Files (x86)");
        m.SetSpecialFolder(platform::sfProgramFilesCommon, "C:\\Program Files (x86)\\Common Files");
        m.SetSpecialFolder(platform::sfDesktopDirectory, "C:\\Users\\\xCBlise\\Desktop");
        m.SetSpecialFolder(platform::sfAppData, "C:\\Users\\\xCBlise\\AppData\\Roaming");
        m.SetSpecialFolder(platform::sfLocalAppData, "C:\\Users\\\xCBlise\\AppData\\Local");
        m.SetSpecialFolder(platform::sfInternetCache, "C:\\Users\\\xCBlise\\INetCache");
        m.SetTempPath("C:\\windows\\temp\\");
        m.SetWindowsDirectory("C:\\windows");
    }
    bool SearchStopFlag = false; // the run's flag: the search runs while it is false

    // Runs the search, recording every folder entered.
    Paths Search(const SearchFilter& filter = {}) {
        Paths found;
        std::string output = "stale";
        SearchInstallations(
            found, filter, [&](const std::string& folder) { entered.push_back(folder); }, output,
            SearchStopFlag);
        EXPECT_EQ(output, "");
        return found;
    }
    bool Entered(const std::string& folder) const {
        return std::find(entered.begin(), entered.end(), folder) != entered.end();
    }

    FakeMachine m;
    Paths entered;
};

} // namespace

TEST_F(SearchTest, WalksOnlyLocalDrivesOtherThanAAndBAndTellsNoEmptyDrive) {
    m.AddDrive('A', platform::dkFixed);
    m.AddDrive('B', platform::dkFixed);
    m.AddDrive('D', platform::dkRemote);
    m.AddDrive('E', platform::dkCdRom);
    m.AddDrive('F', platform::dkRemovable, false); // a card reader without a card
    m.AddDrive('G', platform::dkRamDisk);
    m.AddDrive('H', platform::dkRemovable);
    m.AddDrive('I', platform::dkUnknown);
    for (char d : std::string("ABCDEGHI"))
        m.AddFile(std::string(1, d) + ":\\KLV\\Kelvaro.exe");

    EXPECT_EQ(Search(),
              (Paths{"c:\\KLV\\Kelvaro.exe", "g:\\KLV\\Kelvaro.exe", "h:\\KLV\\Kelvaro.exe"}));
    EXPECT_EQ(m.systemErrorBoxes, 0);
    EXPECT_EQ(entered.front(), "c:\\");
    for (const char* root : {"a:\\", "b:\\", "d:\\", "e:\\", "f:\\", "i:\\"})
        EXPECT_FALSE(Entered(root)) << root;
}

TEST_F(SearchTest, SystemFoldersDotFoldersAndThumbnailsAreCutOffWhole) {
    const Paths hidden = {
        "C:\\Program Files (x86)\\Kelvaro\\kelvaro.exe",
        "C:\\PROGRAM FILES\\Kelvaro\\kelvaro.exe", // the 64-bit folder, in other letters
        "C:\\windows\\Kelvaro\\kelvaro.exe",
        "C:\\windows\\temp\\Kelvaro\\kelvaro.exe",
        "C:\\Users\\\xEBlise\\Desktop\\kelvaro.exe", // the profile in lower case (1252)
        "C:\\Users\\\xCBlise\\AppData\\Roaming\\Kelvaro\\kelvaro.exe",
        "C:\\Users\\\xCBlise\\AppData\\Local\\Kelvaro\\kelvaro.exe",
        "C:\\Users\\\xCBlise\\INetCache\\kelvaro.exe",
        "C:\\ProgramData\\Kelvaro\\kelvaro.exe",
        "C:\\Users\\All Users\\Kelvaro\\kelvaro.exe",
        "C:\\.git\\kelvaro.exe",
        "C:\\Pictures\\Thumbnails\\kelvaro.exe",
        "C:\\Pictures\\THUMBNAILS\\Old\\kelvaro.exe",
    };
    for (const std::string& path : hidden)
        m.AddFile(path);
    m.AddFile("C:\\Pictures\\Thumbnails2\\kelvaro.exe");
    m.AddFile("C:\\Users\\\xCBlise\\AppData\\LocalLow\\kelvaro.exe"); // not a skipped folder

    EXPECT_EQ(Search(), (Paths{"c:\\Pictures\\Thumbnails2\\kelvaro.exe",
                               "c:\\Users\\\xCBlise\\AppData\\LocalLow\\kelvaro.exe"}));
    EXPECT_FALSE(Entered("c:\\Program Files (x86)\\"));
    EXPECT_FALSE(Entered("c:\\windows\\"));
    EXPECT_FALSE(Entered("c:\\.git\\"));
    EXPECT_FALSE(Entered("c:\\Pictures\\Thumbnails\\"));
    EXPECT_TRUE(Entered("c:\\Pictures\\"));
    EXPECT_TRUE(Entered("c:\\Users\\"));
}

TEST_F(SearchTest, FindsAppearFolderByFolderDepthFirstPatternByPattern) {
    m.AddFile("C:\\B\\klvdemo.exe");
    m.AddFile("C:\\B\\kelvaro.exe");
    m.AddFile("C:\\B\\A\\kelvaro.exe");
    m.AddFile("C:\\B\\A\\Z\\kelvaro.exe");
    m.AddFile("C:\\C\\kelvaro.exe");
    m.AddFile("C:\\kelvaro.exe");
    m.AddDrive('D', platform::dkFixed);
    m.AddFile("D:\\kelvaro.exe");

    EXPECT_EQ(Search(), (Paths{"c:\\kelvaro.exe", "c:\\B\\kelvaro.exe", "c:\\B\\klvdemo.exe",
                               "c:\\B\\A\\kelvaro.exe", "c:\\B\\A\\Z\\kelvaro.exe",
                               "c:\\C\\kelvaro.exe", "d:\\kelvaro.exe"}));
    EXPECT_EQ(entered,
              (Paths{"c:\\", "c:\\B\\", "c:\\B\\A\\", "c:\\B\\A\\Z\\", "c:\\C\\", "d:\\"}));

    // The patterns' own order counts, not the folder's; names match in any letter case.
    for (bool recurse : {false, true}) {
        Paths found;
        FindFiles(&found, "C:\\B", "KLVDEMO.EXE;kelvaro.exe", {}, true, recurse, nullptr,
                  SearchStopFlag);
        Paths expected = {"C:\\B\\klvdemo.exe", "C:\\B\\kelvaro.exe"};
        if (recurse)
            expected.insert(expected.end(), {"C:\\B\\A\\kelvaro.exe", "C:\\B\\A\\Z\\kelvaro.exe"});
        EXPECT_EQ(found, expected);
    }
}

TEST_F(SearchTest, APatternWithoutAStarGivesOneFileAWildPatternEveryFileButNoFolder) {
    m.AddFile("C:\\Set\\kelvaro.exa");
    m.AddFile("C:\\Set\\kelvaro.exe", 0, platform::faHidden | platform::faReadOnly);
    m.AddFile("C:\\Set\\kelvaro.exs", 0, platform::faSysFile);
    m.AddFolder("C:\\Set\\kelvaro.exf"); // a folder is never a find
    m.AddFile("C:\\Set\\Sub\\kelvaro.exe");

    Paths found;
    FindFiles(&found, "C:\\Set", "kelvaro.ex?", {}, false, true, nullptr, SearchStopFlag);
    EXPECT_EQ(found, (Paths{"C:\\Set\\kelvaro.exa", "C:\\Set\\Sub\\kelvaro.exe"}));

    found.clear();
    FindFiles(&found, "C:\\Set", "kelvaro.exe;kelvaro.exf;KELVARO.EXS", {}, false, true, nullptr,
              SearchStopFlag);
    EXPECT_EQ(found,
              (Paths{"C:\\Set\\kelvaro.exe", "C:\\Set\\kelvaro.exs", "C:\\Set\\Sub\\kelvaro.exe"}));

    found.clear();
    FindFiles(&found, "C:\\Set\\", " kelvaro.ex*\r\n", {}, false, false, nullptr, SearchStopFlag);
    EXPECT_EQ(found,
              (Paths{"C:\\Set\\kelvaro.exa", "C:\\Set\\kelvaro.exe", "C:\\Set\\kelvaro.exs"}));
}

TEST_F(SearchTest, FilterRunsOverTheWholeListAfterEachDriveLastFirst) {
    m.AddDrive('D', platform::dkFixed);
    m.AddFile("C:\\Good\\kelvaro.exe");
    m.AddFile("C:\\Decoy\\kelvaro.exe");
    m.AddFile("D:\\Good\\kelvaro.exe");
    Paths found, tested, whenDEntered;
    SearchFilter filter = [&](const std::string& path) {
        tested.push_back(path);
        return path.find("Good") != std::string::npos;
    };
    std::string output;
    SearchInstallations(
        found, filter,
        [&](const std::string& folder) {
            if (folder == "d:\\") whenDEntered = found;
        },
        output, SearchStopFlag);

    EXPECT_EQ(whenDEntered, (Paths{"c:\\Good\\kelvaro.exe"}));
    EXPECT_EQ(found, (Paths{"c:\\Good\\kelvaro.exe", "d:\\Good\\kelvaro.exe"}));
    EXPECT_EQ(tested, (Paths{"c:\\Good\\kelvaro.exe", "c:\\Decoy\\kelvaro.exe",
                             "d:\\Good\\kelvaro.exe", "c:\\Good\\kelvaro.exe"}));
}

TEST_F(SearchTest, StopFlagEndsTheSearchAndKeepsWhatWasFound) {
    m.AddDrive('D', platform::dkFixed);
    m.AddFile("C:\\A\\kelvaro.exe");
    m.AddFile("C:\\B\\kelvaro.exe");
    m.AddFile("D:\\kelvaro.exe");

    // Set before the call: nothing is touched, not even a missing list.
    SearchStopFlag = true;
    Paths found = {"kept"};
    FindFiles(
        &found, "C:\\", ProgramNames, [&](const std::string& f) { entered.push_back(f); }, true,
        true, nullptr, SearchStopFlag);
    FindFiles(nullptr, "C:\\", ProgramNames, {}, true, true, nullptr, SearchStopFlag);
    EXPECT_EQ(found, Paths{"kept"});
    EXPECT_TRUE(entered.empty());

    // Set by the progress callback at the first find: the folder being searched ends, no
    // further folder or drive is entered.
    SearchStopFlag = false;
    found.clear();
    std::string output;
    SearchInstallations(
        found, {},
        [&](const std::string& folder) {
            entered.push_back(folder);
            if (folder == "c:\\A\\") SearchStopFlag = true;
        },
        output, SearchStopFlag);
    EXPECT_EQ(found, Paths{"c:\\A\\kelvaro.exe"});
    EXPECT_EQ(entered, (Paths{"c:\\", "c:\\A\\"}));

    SearchStopFlag = false;
    try {
        FindFiles(nullptr, "C:\\", ProgramNames, {}, true, true, nullptr, SearchStopFlag);
        FAIL() << "no error for a missing list";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "FindFiles met nil aangeroepen");
    }
}

TEST_F(SearchTest, DriveRootsListsEveryDriveInLetterOrder) {
    m.AddDrive('Z', platform::dkRemote);
    m.AddDrive('A', platform::dkRemovable, false);
    m.AddDrive('D', platform::dkCdRom);
    Paths roots = {"stale"};
    DriveRoots(roots);
    EXPECT_EQ(roots, (Paths{"A:\\", "C:\\", "D:\\", "Z:\\"}));
}

TEST_F(SearchTest, OnlyTheFirstHundredThousandEntriesOfAFolderGiveSubfolders) {
    for (int i = 0; i < 100000; ++i)
        m.AddFile("C:\\Big\\a" + std::to_string(100000 + i) + ".dat");
    m.AddFile("C:\\Big\\kelvaro.exe"); // the 100001st entry: still found
    m.AddFile("C:\\Big\\Sub\\kelvaro.exe");
    EXPECT_EQ(Search(), Paths{"c:\\Big\\kelvaro.exe"});
    EXPECT_FALSE(Entered("c:\\Big\\Sub\\"));

    m.Remove("C:\\Big\\a100000.dat");
    m.Remove("C:\\Big\\a100001.dat"); // now Sub is the 100000th
    EXPECT_EQ(Search(), (Paths{"c:\\Big\\kelvaro.exe", "c:\\Big\\Sub\\kelvaro.exe"}));
}
