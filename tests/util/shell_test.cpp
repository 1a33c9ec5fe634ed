// The shell on the fake machine: opening documents, programs and web addresses, the
// program of a file type, the browser, shell links and the two shortcuts.
#include <gtest/gtest.h>

#include "fakes/fake_machine.h"
#include "util/KLVShortCutU.h"
#include "util/filez.h"

using namespace klv;
using namespace klv::util;
using fakes::FakeMachine;
using platform::RootKey;

namespace {

const char* const kBrowser = "C:\\Program Files\\Web Browser\\browser.exe";
const char* const kBrowserShort = "C:\\PROGRA~1\\WEBBRO~1\\browser.exe";

class ShellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m.AddFolder("C:\\windows\\temp");
        m.SetTempPath("C:\\windows\\temp\\");
        m.AddFile("C:\\Kelvaro\\Kelvaro.exe", 3000);
    }
    void InstallBrowser() {
        m.AddFile(kBrowser);
        m.SetShortName(kBrowser, kBrowserShort);
        m.SetExecutableFor(".htm", kBrowser);
    }
    int Count(const std::string& call) const {
        int n = 0;
        for (const std::string& c : m.journal)
            n += c == call;
        return n;
    }
    bool OpenDocument(platform::WindowHandle owner, std::string_view file,
                      std::string_view parameters, std::string_view verb) {
        return util::OpenDocument(owner, file, parameters, verb, browser);
    }
    FakeMachine m;
    std::string browser; // the run's CachedBrowserPath
};

} // namespace

TEST_F(ShellTest, OpenDocumentStartsAProgramWithQuotedParameters) {
    InstallBrowser();
    EXPECT_TRUE(OpenDocument(0x1234, "C:\\Kelvaro\\Kelvaro.exe", "", "open"));
    EXPECT_TRUE(OpenDocument(0, "C:\\Kelvaro\\Kelvaro.exe", "/stamboom anna.klv", "open"));
    ASSERT_EQ(m.executions.size(), 2u);
    const auto& first = m.executions[0];
    EXPECT_EQ(first.owner, 0x1234u);
    EXPECT_EQ(first.verb, "open");
    EXPECT_EQ(first.file, "C:\\Kelvaro\\Kelvaro.exe");
    EXPECT_EQ(first.parameters, "\"\"");
    EXPECT_EQ(first.folder, "");
    EXPECT_EQ(first.show, platform::swShow);
    EXPECT_EQ(m.executions[1].parameters, "\"/stamboom anna.klv\"");
}

TEST_F(ShellTest, WebDocumentsAndAddressesGoToTheBrowser) {
    InstallBrowser();
    const char* const web[] = {"C:\\Docs\\Handleiding.PDF", " https://www.kelvaro.nl/update",
                               "HTTP://kelvaro.nl", "C:\\Docs\\index.html",
                               "C:\\site\\page.php?id=3"};
    for (const char* name : web) {
        m.executions.clear();
        EXPECT_TRUE(OpenDocument(0, name, "ignored", "open")) << name;
        ASSERT_EQ(m.executions.size(), 1u) << name;
        EXPECT_EQ(m.executions[0].file, kBrowserShort) << name;
        EXPECT_EQ(m.executions[0].parameters, "\"" + std::string(name) + "\"") << name;
    }
    // The browser was looked up once and kept.
    EXPECT_EQ(Count("find executable C:\\windows\\temp\\testhtm.htm"), 1);

    m.executions.clear();
    OpenDocument(0, "C:\\Docs\\notes.txt", "", "open");
    EXPECT_EQ(m.executions.at(0).file, "C:\\Docs\\notes.txt");
    OpenDocument(0, "C:\\Docs\\http.txt", "", "open"); // not an address
    EXPECT_EQ(m.executions.at(1).file, "C:\\Docs\\http.txt");
}

TEST_F(ShellTest, WithoutABrowserWebDocumentsGoToTheShellAsTheyAre) {
    EXPECT_TRUE(OpenDocument(0, "https://www.kelvaro.nl", "", "open"));
    EXPECT_EQ(m.executions.at(0).file, "https://www.kelvaro.nl");
    EXPECT_EQ(m.executions.at(0).parameters, "\"\"");
    // A browser installed later is found on the next call.
    InstallBrowser();
    OpenDocument(0, "https://www.kelvaro.nl", "", "open");
    EXPECT_EQ(m.executions.at(1).file, kBrowserShort);
}

TEST_F(ShellTest, OpenDocumentResults) {
    EXPECT_FALSE(OpenDocument(0, "", "x", "open"));
    EXPECT_TRUE(m.executions.empty());
    EXPECT_EQ(m.cursors.back(), platform::Cursor::Normal);
    m.SetExecuteResult(32);
    EXPECT_FALSE(OpenDocument(0, "C:\\Kelvaro\\Kelvaro.exe", "", "open"));
    m.SetExecuteResult(33);
    EXPECT_TRUE(OpenDocument(0, "C:\\Kelvaro\\Kelvaro.exe", "", "open"));
    EXPECT_EQ(m.cursors.back(), platform::Cursor::Normal);
}

TEST_F(ShellTest, DefaultBrowserAsksAboutAnEmptyPageInTheTemporaryFolder) {
    InstallBrowser();
    m.AddFile("C:\\windows\\temp\\testhtm.htm", 99);
    EXPECT_EQ(DefaultBrowser(), kBrowser);
    EXPECT_FALSE(m.HasFile("C:\\windows\\temp\\testhtm.htm"));
    EXPECT_EQ(m.journal, (std::vector<std::string>{"create C:\\windows\\temp\\testhtm.htm",
                                                   "find executable C:\\windows\\temp\\testhtm.htm",
                                                   "remove C:\\windows\\temp\\testhtm.htm"}));
    m.SetExecutableFor(".htm", "");
    EXPECT_EQ(DefaultBrowser(), "");
}

TEST_F(ShellTest, AssociatedProgramReadsTheFileTypesCommand) {
    InstallBrowser();
    m.SetRegistryText(RootKey::ClassesRoot, ".txt", "", "txtfile");
    m.SetRegistryText(RootKey::ClassesRoot, "txtfile\\shell\\open\\command", "",
                      "\"C:\\Program Files\\Editor\\edit.exe\" \"%1\"");
    m.SetRegistryText(RootKey::ClassesRoot, ".wri", "", "wrifile");
    m.SetRegistryText(RootKey::ClassesRoot, "wrifile\\Shell\\Open\\Command", "",
                      "C:\\windows\\write.exe %1");
    m.SetRegistryText(RootKey::ClassesRoot, ".odd", "", "oddfile");
    m.SetRegistryText(RootKey::ClassesRoot, "oddfile\\Shell\\Open\\Command", "", "\"C:\\odd.exe");
    m.SetRegistryText(RootKey::ClassesRoot, ".none", "", "nonefile");
    m.AddRegistryKey(RootKey::ClassesRoot, ".empty");

    EXPECT_EQ(AssociatedProgram(".txt"), "C:\\Program Files\\Editor\\edit.exe");
    EXPECT_EQ(AssociatedProgram("  .TXT "), "C:\\Program Files\\Editor\\edit.exe");
    EXPECT_EQ(AssociatedProgram(".wri"), "C:\\windows\\write.exe %1");
    EXPECT_EQ(AssociatedProgram(".odd"), "C:\\odd.exe");
    EXPECT_EQ(AssociatedProgram(".none"), "");
    EXPECT_EQ(AssociatedProgram(".empty"), "");
    EXPECT_EQ(AssociatedProgram(".missing"), "");
    for (const char* web : {".htm", ".HTML", ".php", ".aspx"})
        EXPECT_EQ(AssociatedProgram(web), kBrowser) << web;
}

TEST_F(ShellTest, CreateShellLinkFillsTheLinkInOrderAndSavesIt) {
    m.AddFolder("C:\\links");
    CreateShellLink("C:\\Kelvaro\\Kelvaro.exe", "C:\\links\\K\xE9lvaro.lnk", "Stamboom", "/q");
    EXPECT_EQ(m.journal,
              (std::vector<std::string>{"link SetArguments /q", "link SetDescription Stamboom",
                                        "link SetPath C:\\Kelvaro\\Kelvaro.exe",
                                        "link Save C:\\links\\K\xE9lvaro.lnk"}));
    auto link = m.LinkAt("C:\\links\\K\xE9lvaro.lnk");
    ASSERT_TRUE(link);
    EXPECT_EQ(link->target, "C:\\Kelvaro\\Kelvaro.exe");

    m.FailNextShellLinks(1, static_cast<std::int32_t>(0x80040154)); // class not registered
    try {
        CreateShellLink("C:\\Kelvaro\\Kelvaro.exe", "C:\\links\\b.lnk", "", "");
        FAIL() << "no error";
    } catch (const platform::ShellLinkError& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.Result()), 0x80040154u);
    }
}

namespace {

const char* const kDesktop = "C:\\users\\anna\\Desktop";
const char* const kStartMenu = "C:\\users\\anna\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu";
const std::string kDesktopLink = std::string(kDesktop) + "\\Kelvaro.lnk";
const std::string kStartLink = std::string(kStartMenu) + "\\Kelvaro.lnk";
const char* const kTarget = "C:\\Kelvaro\\Kelvaro.exe";

class ShortcutsTest : public ShellTest {
  protected:
    void SetUp() override {
        ShellTest::SetUp();
        m.SetSpecialFolder(platform::sfDesktopDirectory, kDesktop);
        m.SetSpecialFolder(platform::sfStartMenu, kStartMenu);
        m.AddFolder(kDesktop);
        m.AddFolder(kStartMenu);
    }
    ReportCallback Collect() {
        return [this](const std::string& text) { reports.push_back(text); };
    }
    std::string TargetOf(const std::string& link) const {
        auto l = m.LinkAt(link);
        return l ? l->target : "(none)";
    }
    std::vector<std::string> reports;
};

} // namespace

TEST_F(ShortcutsTest, WithoutOnlyReplaceBothShortcutsAreMade) {
    CreateShortcuts("C:\\Kelvaro", "Kelvaro", "Kelvaro", false, Collect());
    EXPECT_EQ(TargetOf(kDesktopLink), kTarget);
    EXPECT_EQ(TargetOf(kStartLink), kTarget);
    auto link = m.LinkAt(kDesktopLink);
    EXPECT_EQ(link->arguments, "");
    EXPECT_EQ(link->description, "");
    EXPECT_TRUE(reports.empty());

    // Shortcuts that point elsewhere are replaced; a trailing backslash changes nothing.
    CreateShellLink("C:\\Oud\\Kelvaro.exe", kDesktopLink, "", "");
    CreateShortcuts("C:\\Kelvaro\\", "Kelvaro", "Kelvaro", false, Collect());
    EXPECT_EQ(TargetOf(kDesktopLink), kTarget);
    EXPECT_EQ(TargetOf(kStartLink), kTarget);
    EXPECT_TRUE(reports.empty());
}

TEST_F(ShortcutsTest, OnlyReplaceRewritesOnlyShortcutsThatExisted) {
    CreateShortcuts("C:\\Kelvaro", "Kelvaro", "Kelvaro", true, Collect());
    EXPECT_FALSE(m.HasFile(kDesktopLink));
    EXPECT_FALSE(m.HasFile(kStartLink));

    CreateShellLink("C:\\Oud\\Kelvaro.exe", kDesktopLink, "", "");
    CreateShortcuts("C:\\Kelvaro", "Kelvaro", "Kelvaro", true, Collect());
    EXPECT_EQ(TargetOf(kDesktopLink), kTarget);
    EXPECT_FALSE(m.HasFile(kStartLink)); // the user removed it: it stays removed
    EXPECT_TRUE(reports.empty());
}

TEST_F(ShortcutsTest, AMissingStartMenuIsReportedAndTheDesktopShortcutStillMade) {
    m.Remove(kStartMenu);
    CreateShortcuts("C:\\Kelvaro", "Kelvaro", "Kelvaro", false, Collect());
    EXPECT_EQ(TargetOf(kDesktopLink), kTarget);
    EXPECT_EQ(reports,
              (std::vector<std::string>{"[" + std::string(kStartMenu) + "] niet gevonden"}));
    // Without a callback the failure is silent.
    CreateShortcuts("C:\\Kelvaro", "Kelvaro", "Kelvaro", false, {});
}

TEST_F(ShortcutsTest, FailedLinksAreReportedAndTheOldShortcutsAreGone) {
    CreateShortcuts("C:\\Kelvaro", "Kelvaro", "Kelvaro", false, Collect());
    m.FailNextShellLinks(1);
    CreateShortcuts("C:\\Kelvaro", "Kelvaro", "Kelvaro", false, Collect());
    EXPECT_EQ(reports, (std::vector<std::string>{"Geen shortcut op desktop [" +
                                                 std::string(kDesktop) + "] geplaatst"}));
    EXPECT_FALSE(m.HasFile(kDesktopLink));
    EXPECT_EQ(TargetOf(kStartLink), kTarget); // the start menu is not held up

    reports.clear();
    m.FailNextShellLinks(2);
    CreateShortcuts("C:\\Kelvaro", "Kelvaro", "Kelvaro", false, Collect());
    EXPECT_EQ(reports,
              (std::vector<std::string>{
                  "Geen shortcut op desktop [" + std::string(kDesktop) + "] geplaatst",
                  "Geen shortcut in startmenu [" + std::string(kStartMenu) + "] geplaatst"}));
    EXPECT_FALSE(m.HasFile(kStartLink));
    m.FailNextShellLinks(2);
    CreateShortcuts("C:\\Kelvaro", "Kelvaro", "Kelvaro", false, {});
}

TEST_F(ShortcutsTest, UnnamedFoldersNeverPutALinkInTheCurrentFolder) {
    m.SetCurrentFolder("C:\\Kelvaro");
    m.SetSpecialFolder(platform::sfDesktopDirectory, "");
    m.SetSpecialFolder(platform::sfStartMenu, "");
    CreateShortcuts("C:\\Kelvaro", "Kelvaro", "Kelvaro", false, Collect());
    EXPECT_FALSE(m.HasFile("C:\\Kelvaro\\Kelvaro.lnk"));
    EXPECT_EQ(reports, (std::vector<std::string>{"Geen shortcut op desktop [] geplaatst",
                                                 "[] niet gevonden"}));
}
