// Folders, drives and files, on the fake machine: the quiet existence tests, making a file
// replaceable, probing whether a file can be written, short paths, the special folders with
// their registry fallbacks.
#include <gtest/gtest.h>

#include "fakes/fake_machine.h"
#include "util/assertion.h"
#include "util/filez.h"

using namespace klv;
using namespace klv::util;
using fakes::FakeMachine;
using platform::RootKey;

namespace {

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m.AddDrive('A', platform::dkRemovable, false); // floppy drive, no disk
        m.AddDrive('E', platform::dkCdRom, false);     // optical drive, no disc
        m.AddDrive('F', platform::dkCdRom, true);      // optical drive with a disc
        m.AddDrive('G', platform::dkRemovable, true);  // memory stick
        m.AddFile("F:\\setup\\kelvaro.exe", 1000);
        m.AddFile("G:\\backup\\kelvaro.exe", 1000);
        m.AddFile("C:\\Kelvaro\\kelvaro.exe", 3000);
        m.AddFolder("C:\\Kelvaro\\Data");
        m.SetCurrentFolder("C:\\Kelvaro");
    }
    FakeMachine m;
};

} // namespace

TEST_F(FilesTest, QuietTestsGiveFalseForADriveWithoutAMediumAndShowNoBox) {
    m.errorMode = 0x0004; // the caller's own mode is put back afterwards
    EXPECT_FALSE(FileExistsSafe("A:\\setup.exe"));
    EXPECT_FALSE(FolderExistsSafe("A:\\"));
    EXPECT_FALSE(FileExistsSafe("e:\\setup\\kelvaro.exe"));
    EXPECT_FALSE(FolderExistsSafe("E:\\setup"));
    EXPECT_EQ(m.systemErrorBoxes, 0);
    EXPECT_EQ(m.errorMode, 0x0004u);

    // The same drive asked without care shows the system's box: the fake notices.
    m.errorMode = 0;
    EXPECT_FALSE(m.FileExists("A:\\setup.exe"));
    EXPECT_EQ(m.systemErrorBoxes, 1);
}

TEST_F(FilesTest, QuietTestsFindWhatIsThere) {
    EXPECT_TRUE(FileExistsSafe("F:\\setup\\kelvaro.exe"));
    EXPECT_TRUE(FileExistsSafe("g:\\BACKUP\\kelvaro.exe"));
    EXPECT_TRUE(FileExistsSafe("C:\\Kelvaro\\kelvaro.exe"));
    EXPECT_TRUE(FileExistsSafe("kelvaro.exe")); // against the current folder
    EXPECT_TRUE(FileExistsSafe("..\\Kelvaro\\kelvaro.exe"));
    EXPECT_TRUE(FolderExistsSafe("\\Kelvaro\\Data")); // from the current drive's root
    EXPECT_FALSE(FileExistsSafe("C:\\Kelvaro"));      // a folder is not a file
    EXPECT_FALSE(FolderExistsSafe("C:\\Kelvaro\\kelvaro.exe"));
    EXPECT_FALSE(FileExistsSafe("C:\\Kelvaro\\missing.exe"));
    EXPECT_FALSE(FileExistsSafe("H:\\kelvaro.exe")); // no such drive
    EXPECT_FALSE(FileExistsSafe("C"));
    EXPECT_FALSE(FileExistsSafe(""));
    EXPECT_FALSE(FolderExistsSafe(""));
    EXPECT_EQ(m.systemErrorBoxes, 0);
    EXPECT_EQ(m.errorMode, 0u);
}

TEST_F(FilesTest, NetworkPathsAreNeverReportedAsExisting) {
    EXPECT_FALSE(FileExistsSafe("\\\\server\\share\\kelvaro.exe"));
    EXPECT_FALSE(FolderExistsSafe("\\\\server\\share"));
}

TEST_F(FilesTest, DriveKindsAndReadiness) {
    m.AddDrive('R', platform::dkRamDisk);
    m.AddDrive('N', platform::dkRemote);
    m.AddDrive('X', 9); // a kind the system does not define
    EXPECT_EQ(DriveKind("C"), 3u);
    EXPECT_EQ(DriveKind("c"), 3u);
    EXPECT_EQ(DriveKind("A"), 2u);
    EXPECT_EQ(DriveKind("E"), 5u);
    EXPECT_EQ(DriveKind("R"), 6u);
    EXPECT_EQ(DriveKind("N"), 4u);
    EXPECT_EQ(DriveKind("X"), 0u);
    EXPECT_EQ(DriveKind("Q"), 1u);

    EXPECT_TRUE(DriveReady('c'));
    EXPECT_TRUE(DriveReady('F'));
    EXPECT_FALSE(DriveReady('a'));
    EXPECT_FALSE(DriveReady('E'));
    EXPECT_FALSE(DriveReady('Q'));
    EXPECT_EQ(m.systemErrorBoxes, 0);
    EXPECT_EQ(m.errorMode, 0u);
    try {
        DriveReady('1');
        FAIL() << "no assertion";
    } catch (const AssertionFailure& e) {
        EXPECT_EQ(e.Module(), "filez");
    }
    EXPECT_EQ(m.errorMode, 0u);
}

TEST_F(FilesTest, FileSizeOfGivesTheFullSizeOfTheFirstMatch) {
    m.AddFile("C:\\data\\big.bin", std::int64_t{5} << 30);
    m.AddFile("C:\\data\\small.bin", 17);
    EXPECT_EQ(FileSizeOf("C:\\data\\big.bin"), std::int64_t{5} << 30);
    EXPECT_EQ(FileSizeOf("C:\\data\\s*.bin"), 17);
    EXPECT_EQ(FileSizeOf("C:\\data\\none.bin"), 0);
    EXPECT_EQ(FileSizeOf("A:\\big.bin"), 0);
    EXPECT_EQ(m.systemErrorBoxes, 0);
    EXPECT_EQ(m.errorMode, 0u);
}

TEST_F(FilesTest, MakeWritableClearsOnlyTheReadOnlyBit) {
    using namespace platform;
    m.AddFile("C:\\Kelvaro\\old.exe", 10, faReadOnly | faHidden | faArchive);
    EXPECT_TRUE(MakeWritable("C:\\Kelvaro\\old.exe"));
    EXPECT_EQ(m.AttributesOf("C:\\Kelvaro\\old.exe"), faHidden | faArchive);
    EXPECT_EQ(m.SizeOf("C:\\Kelvaro\\old.exe"), 10);

    EXPECT_TRUE(MakeWritable("kelvaro.exe")); // relative to the current folder
    EXPECT_EQ(m.AttributesOf("C:\\Kelvaro\\kelvaro.exe"), faArchive);
}

TEST_F(FilesTest, MakeWritableOnMissingFilesFoldersAndOpticalDrives) {
    EXPECT_TRUE(MakeWritable("C:\\Kelvaro\\new.exe")); // nothing to clear
    EXPECT_FALSE(m.HasFile("C:\\Kelvaro\\new.exe"));
    EXPECT_FALSE(MakeWritable("C:\\Missing\\kelvaro.exe"));
    EXPECT_FALSE(MakeWritable("F:\\setup\\kelvaro.exe")); // read-only medium
    EXPECT_FALSE(MakeWritable("E:\\setup\\kelvaro.exe")); // no disc
    EXPECT_FALSE(MakeWritable("A:\\kelvaro.exe"));
    EXPECT_EQ(m.systemErrorBoxes, 0);
    for (const std::string& call : m.journal)
        EXPECT_TRUE(call.rfind("attributes", 0) != 0) << call;
}

TEST_F(FilesTest, CanCreateFileProbesWithoutLeavingOrEmptyingAFile) {
    EXPECT_TRUE(CanCreateFile("C:\\Kelvaro\\probe.txt"));
    EXPECT_FALSE(m.HasFile("C:\\Kelvaro\\probe.txt"));
    EXPECT_EQ(m.journal, (std::vector<std::string>{"create C:\\Kelvaro\\probe.txt",
                                                   "remove C:\\Kelvaro\\probe.txt"}));

    // An existing file is only opened, never emptied.
    EXPECT_TRUE(CanCreateFile("C:\\Kelvaro\\kelvaro.exe"));
    EXPECT_EQ(m.SizeOf("C:\\Kelvaro\\kelvaro.exe"), 3000);
    EXPECT_TRUE(CanCreateFile("kelvaro.exe"));
    EXPECT_EQ(m.SizeOf("C:\\Kelvaro\\kelvaro.exe"), 3000);

    m.LockFile("C:\\Kelvaro\\kelvaro.exe"); // the program is running
    EXPECT_FALSE(CanCreateFile("C:\\Kelvaro\\kelvaro.exe"));
    m.AddFile("C:\\Kelvaro\\ro.txt", 5, platform::faReadOnly);
    EXPECT_FALSE(CanCreateFile("C:\\Kelvaro\\ro.txt"));
    EXPECT_EQ(m.SizeOf("C:\\Kelvaro\\ro.txt"), 5);
    EXPECT_FALSE(CanCreateFile("C:\\Missing\\probe.txt"));
    EXPECT_FALSE(CanCreateFile("F:\\setup\\probe.txt"));
    EXPECT_FALSE(CanCreateFile("G:\\"));
    EXPECT_FALSE(CanCreateFile(""));
}

TEST_F(FilesTest, ShortPathOfExistingAndMissingFiles) {
    m.AddFile("C:\\Program Files\\Web Browser\\browser.exe");
    m.SetShortName("C:\\Program Files\\Web Browser\\browser.exe",
                   "C:\\PROGRA~1\\WEBBRO~1\\browser.exe");
    m.SetShortName("C:\\Program Files\\Web Browser", "C:\\PROGRA~1\\WEBBRO~1");
    EXPECT_EQ(ShortPath("C:\\Program Files\\Web Browser\\browser.exe"),
              "C:\\PROGRA~1\\WEBBRO~1\\browser.exe");
    EXPECT_EQ(ShortPath("C:\\Program Files\\Web Browser"), "C:\\PROGRA~1\\WEBBRO~1");
    // A missing file: the short folder and the name as it is.
    EXPECT_EQ(ShortPath("C:\\Program Files\\Web Browser\\Nieuwe pagina.htm"),
              "C:\\PROGRA~1\\WEBBRO~1\\Nieuwe pagina.htm");
    EXPECT_EQ(ShortPath("C:\\Missing\\folder"), "");
    EXPECT_EQ(ShortPath(""), "");
}

TEST_F(FilesTest, FoldersComeFromTheShell) {
    using namespace platform;
    m.SetTempPath("C:\\users\\anna\\Temp\\");
    m.SetWindowsDirectory("C:\\windows");
    m.SetSpecialFolder(sfDesktopDirectory, "C:\\users\\anna\\Desktop");
    m.SetSpecialFolder(sfStartMenu, "C:\\users\\anna\\Start Menu");
    m.SetSpecialFolder(sfAppData, "C:\\users\\anna\\AppData\\Roaming");
    m.SetSpecialFolder(sfLocalAppData, "C:\\users\\anna\\AppData\\Local");
    m.SetSpecialFolder(sfInternetCache, "C:\\users\\anna\\INetCache");
    m.SetSpecialFolder(sfProgramFiles, "C:\\Program Files");
    m.SetSpecialFolder(sfProgramFilesCommon, "C:\\Program Files\\Common Files");
    m.SetSpecialFolder(sfCommonPrograms, "C:\\ProgramData\\Programs");
    m.SetRegistryText(RootKey::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                      "ProgramFilesDir", "D:\\Programs");
    EXPECT_EQ(TempFolder(), "C:\\users\\anna\\Temp\\");
    EXPECT_EQ(WindowsFolder(), "C:\\windows\\");
    EXPECT_EQ(DesktopFolder(), "C:\\users\\anna\\Desktop");
    EXPECT_EQ(StartMenuFolder(), "C:\\users\\anna\\Start Menu");
    EXPECT_EQ(AppDataFolder(), "C:\\users\\anna\\AppData\\Roaming");
    EXPECT_EQ(LocalAppDataFolder(), "C:\\users\\anna\\AppData\\Local");
    EXPECT_EQ(InternetCacheFolder(), "C:\\users\\anna\\INetCache");
    EXPECT_EQ(ProgramFilesFolder(), "C:\\Program Files");
    EXPECT_EQ(CommonFilesFolder(), "C:\\Program Files\\Common Files");
    m.SetSpecialFolder(sfProgramFilesCommon, "");
    EXPECT_EQ(CommonFilesFolder(), "C:\\ProgramData\\Programs");

    m.SetSpecialFolder(sfDesktopDirectory, "");
    EXPECT_EQ(DesktopFolder(), "");
    m.SetWindowsDirectory("C:\\windows\\");
    EXPECT_EQ(WindowsFolder(), "C:\\windows\\");
}

TEST_F(FilesTest, ProgramFoldersFallBackToTheRegistry) {
    const char* current = "\\software\\microsoft\\windows\\currentversion\\";
    const char* sfc = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\SFC";
    EXPECT_EQ(ProgramFilesFolder(), ""); // neither shell nor registry knows it

    m.SetRegistryText(RootKey::LocalMachine, sfc, "ProgramFilesDir", "E:\\Prog");
    m.SetRegistryText(RootKey::LocalMachine, sfc, "CommonFilesDir", "E:\\Prog\\Common");
    EXPECT_EQ(ProgramFilesFolder(), "E:\\Prog");
    EXPECT_EQ(CommonFilesFolder(), "E:\\Prog\\Common");

    // The first key wins when it opens, even without the value.
    m.AddRegistryKey(RootKey::LocalMachine, current);
    EXPECT_EQ(ProgramFilesFolder(), "");
    m.SetRegistryText(RootKey::LocalMachine, current, "ProgramFilesDir", "D:\\Programma's");
    m.SetRegistryText(RootKey::LocalMachine, current, "CommonFilesDir", "D:\\Gedeeld");
    EXPECT_EQ(ProgramFilesFolder(), "D:\\Programma's");
    EXPECT_EQ(CommonFilesFolder(), "D:\\Gedeeld");

    // The keys are opened for reading only: a standard user, without write rights, reads them.
    m.DenyFullAccess(RootKey::LocalMachine);
    EXPECT_EQ(ProgramFilesFolder(), "D:\\Programma's");
    EXPECT_EQ(CommonFilesFolder(), "D:\\Gedeeld");
}

TEST_F(FilesTest, ARegistryValueOfTheWrongKindReachesTheCaller) {
    m.SetRegistryNumber(RootKey::LocalMachine, "software\\microsoft\\windows\\currentversion",
                        "ProgramFilesDir", 7);
    EXPECT_THROW(ProgramFilesFolder(), platform::RegistryError);
}

TEST_F(FilesTest, EscapeCountsWhileTheKeyIsDown) {
    EXPECT_FALSE(EscapePressed());
    m.SetKeyState(platform::vkEscape, 1); // pressed since the last call, now up
    EXPECT_FALSE(EscapePressed());
    m.SetKeyState(platform::vkEscape, static_cast<std::int16_t>(0x8000));
    EXPECT_TRUE(EscapePressed());
    m.SetKeyState(platform::vkEscape, static_cast<std::int16_t>(0x8001));
    EXPECT_TRUE(EscapePressed());
}
