// The rules a package is read by: Stub.ini as the stub reads it, the package version in a
// caption and the comparison of versions; and the payload read by the real archive engine
// from real files, sound, damaged and cut off.
#include <gtest/gtest.h>

#include "app/payload.h"
#include "app/stubconf/stub_ini.h"
#include "zip/test_util.h"

using namespace klv;
using stubconf::CompareVersions;
using stubconf::PackageVersionFromCaption;
using stubconf::StubIni;

TEST(StubIni, FirstLineOfAKeyWithoutRegardToCaseAndTheWholeValue) {
    const StubIni ini("caption=Kelvaro Update 3.2.0.1]\r\n"
                      "CAPTION=second\r\n"
                      "Header= Nieuwe versie \r\n"
                      "uitleg=a = b; c=d\n"
                      "no equals sign\r\n"
                      "folderkeuze=false");
    EXPECT_EQ(ini.Value("Caption"), "Kelvaro Update 3.2.0.1]");
    EXPECT_EQ(ini.Value("header"), " Nieuwe versie "); // untrimmed, CR removed
    EXPECT_EQ(ini.Value("UITLEG"), "a = b; c=d");      // LF alone ends a line too
    EXPECT_EQ(ini.Value("folderkeuze"), "false");      // last line without a line end
    EXPECT_EQ(ini.Value("missing"), "");
    EXPECT_EQ(ini.Value("no equals sign"), "");
    // A key with blanks around it is another key.
    EXPECT_EQ(StubIni("Header =x\r\n").Value("Header"), "");
    EXPECT_EQ(StubIni("").Value("Caption"), "");
}

TEST(StubIni, OnlyTheExactFalseHidesTheFolderChoice) {
    EXPECT_TRUE(stubconf::HidesFolderChoice("false"));
    for (const char* value : {"False", "FALSE", " false", "false ", "0", "no", ""})
        EXPECT_FALSE(stubconf::HidesFolderChoice(value)) << value;
}

TEST(StubIni, HelpInAnyCaseMakesAHelpPackage) {
    EXPECT_TRUE(stubconf::IsHelpCaption("Kelvaro Schermhelp"));
    EXPECT_TRUE(stubconf::IsHelpCaption("  HeLP  "));
    EXPECT_FALSE(stubconf::IsHelpCaption("Kwartierblad met plaats en datum    "));
    EXPECT_FALSE(stubconf::IsHelpCaption("hel p"));
}

TEST(PackageVersion, TextBetweenUpdateAndTheNextBracket) {
    EXPECT_EQ(PackageVersionFromCaption("Kelvaro Update 3.1.0.5]"), "3.1.0.5");
    EXPECT_EQ(PackageVersionFromCaption("Kelvaro Update 3.1.0.5] (Update 4])"), "3.1.0.5");
    EXPECT_EQ(PackageVersionFromCaption("Kelvaro Update 3.1.0.5"), "3.1.0.5"); // end counts
    EXPECT_EQ(PackageVersionFromCaption("Kelvaro Update 3.1.0.5   "), "3.1.0.5   ");
    EXPECT_EQ(PackageVersionFromCaption("Kelvaro update 3.1.0.5]"), ""); // case-sensitive
    EXPECT_EQ(PackageVersionFromCaption("Kelvaro Update ]"), "");
    EXPECT_EQ(PackageVersionFromCaption("Kwartierblad met plaats en datum          "), "");
}

TEST(VersionComparison, PartsCompareAsNumbers) {
    EXPECT_EQ(CompareVersions("10.0.0.0", "9.0.0.0"), 1);
    EXPECT_EQ(CompareVersions("9.0.0.0", "10.0.0.0"), -1);
    EXPECT_EQ(CompareVersions("3.1.0.5", "3.1.0.5"), 0);
    EXPECT_EQ(CompareVersions("3.1.0.6", "3.1.0.5"), 1);
    EXPECT_EQ(CompareVersions("3.1.0.10", "3.1.0.9"), 1);
    EXPECT_EQ(CompareVersions("3.2.0.0", "3.2"), 0);        // missing parts are 0
    EXPECT_EQ(CompareVersions("3.1.0.5", "3.1.0.5   "), 0); // caption padding
    EXPECT_EQ(CompareVersions("3.1.0.5", "003.01.0.5"), 0);
    EXPECT_EQ(CompareVersions("65535.0.0.0", "4294967295"), -1);
}

TEST(VersionComparison, AnythingButADottedNumberIsUnknown) {
    for (const char* text : {"", "   ", "3.1a", "v3.1", "3..1", "3.1.", ".3", "1.2.3.4.5",
                             "4294967296", "3,1", "3 .1", "-1"})
        EXPECT_EQ(CompareVersions("3.1.0.0", text), std::nullopt) << '"' << text << '"';
}

namespace {

// A package as built: an executable with a ZIP appended.
class Package {
  public:
    explicit Package(test::ZipWriter& writer) {
        bytes_ = test::FakeExecutable(40000) + writer.build();
    }
    std::string Write(const test::ScratchDir& dir, std::size_t cut = 0) const {
        test::WriteBytes(dir / "klvupgradeStub.exe", bytes_.substr(0, bytes_.size() - cut));
        return (dir / "klvupgradeStub.exe").string();
    }

  private:
    std::string bytes_;
};

std::string Folder(const test::ScratchDir& dir, const std::string& name) {
    std::filesystem::create_directories(dir / name);
    return (dir / name).string() + "/";
}

std::vector<std::string> FilesBelow(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
        if (e.is_regular_file())
            names.push_back(std::filesystem::relative(e.path(), folder).generic_string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(ZipPayload, ConfigurationFilesOnlyWhenThePayloadHoldsStubIni) {
    test::ScratchDir dir;
    test::ZipWriter w;
    w.add("stub.ini", "Caption=Kelvaro Schermhelp\r\n");
    w.add("Stub.jpg", std::string(3000, 'j'), 8);
    w.add("kelvaro.exe", std::string(5000, 'k'), 8);
    w.add("Data/voornamen.txt", "Jan\r\n");
    auto payload = app::NewZipPayload(Package(w).Write(dir));
    const std::string temp = Folder(dir, "temp");
    ASSERT_TRUE(payload->ExtractConfiguration(temp));
    EXPECT_EQ(FilesBelow(temp), (std::vector<std::string>{"Stub.jpg", "stub.ini"}));
    EXPECT_EQ(payload->ReadConfiguration(temp + "stub.ini"), "Caption=Kelvaro Schermhelp\r\n");
    EXPECT_EQ(payload->ReadConfiguration(temp + "absent.ini"), "");
    // What it extracted goes with the payload: nothing stays in the temporary folder.
    test::WriteBytes(dir / "temp" / "someone else's.txt", "x");
    payload.reset();
    EXPECT_EQ(FilesBelow(temp), (std::vector<std::string>{"someone else's.txt"}));

    test::ZipWriter plain;
    plain.add("kelvaro.exe", "new program");
    plain.add("Stub.bmp", "a picture without a Stub.ini");
    test::ScratchDir other;
    const std::string temp2 = Folder(other, "temp");
    EXPECT_FALSE(app::NewZipPayload(Package(plain).Write(other))->ExtractConfiguration(temp2));
    EXPECT_TRUE(FilesBelow(temp2).empty());
}

TEST(ZipPayload, SoundPayloadVerifiesWithoutWritingThenInstallsWhole) {
    test::ScratchDir dir;
    test::ZipWriter w;
    w.add("kelvaro.exe", std::string(70000, 'k'), 8);
    w.add("Genealogie/Overzichten/Caf\xC3\xA9.txt", "koffie", 0).flags = 0x800;
    w.add("Data/voornamen.txt", "Jan\r\nPiet\r\n", 8);
    const auto payload = app::NewZipPayload(Package(w).Write(dir));
    const std::string target = Folder(dir, "Kelvaro");
    test::WriteBytes(dir / "Kelvaro" / "kelvaro.exe", "old program");

    EXPECT_TRUE(payload->Verify(target));
    EXPECT_EQ(FilesBelow(target), (std::vector<std::string>{"kelvaro.exe"}));
    EXPECT_EQ(test::ReadBytes(dir / "Kelvaro" / "kelvaro.exe"), "old program");

    ASSERT_EQ(payload->Install(target, "kelvaro.exe").kind, app::InstallOutcome::Installed);
    EXPECT_EQ(test::ReadBytes(dir / "Kelvaro" / "kelvaro.exe"), std::string(70000, 'k'));
    EXPECT_EQ(test::ReadBytes(dir / "Kelvaro" / "Data" / "voornamen.txt"), "Jan\r\nPiet\r\n");
    EXPECT_EQ(FilesBelow(target).size(), 3u);
}

TEST(ZipPayload, DamagedOrCutOffPayloadIsRefused) {
    test::ZipWriter w;
    w.add("kelvaro.exe", std::string(70000, 'k'), 0);
    w.add("Data/voornamen.txt", std::string(4000, 'v'), 0);
    const Package sound(w);

    // Cut off by an interrupted download: the directory is rebuilt from local headers.
    test::ScratchDir cut;
    EXPECT_FALSE(app::NewZipPayload(sound.Write(cut, 1000))->Verify(Folder(cut, "Kelvaro")));
    EXPECT_TRUE(FilesBelow(cut / "Kelvaro").empty());

    // Only the end record missing: every item would still read, but the download is short.
    test::ScratchDir tail;
    EXPECT_FALSE(app::NewZipPayload(sound.Write(tail, 10))->Verify(Folder(tail, "Kelvaro")));

    // One item's data damaged: its check fails while it is staged, and nothing is installed.
    test::ZipWriter bad;
    bad.add("kelvaro.exe", std::string(70000, 'k'), 8);
    auto& damaged = bad.add("Data/voornamen.txt", "Jan\r\nPiet\r\n", 0);
    damaged.packed = "Jan\r\nPiEt\r\n";
    test::ScratchDir crc;
    const auto payload = app::NewZipPayload(Package(bad).Write(crc));
    const std::string target = Folder(crc, "Kelvaro");
    EXPECT_EQ(payload->Install(target, "").kind, app::InstallOutcome::Damaged);
    EXPECT_TRUE(FilesBelow(crc / "Kelvaro").empty());

    // An encrypted item would ask for a password part-way: refused at the first look.
    test::ZipWriter locked;
    locked.add("kelvaro.exe", std::string(700, 'k'), 0);
    locked.add("Data/geheim.txt", "x", 0).flags = 0x0001;
    test::ScratchDir enc;
    EXPECT_FALSE(app::NewZipPayload(Package(locked).Write(enc))->Verify(Folder(enc, "Kelvaro")));
    EXPECT_EQ(
        app::NewZipPayload(Package(locked).Write(enc))->Install(Folder(enc, "Kelvaro"), "").kind,
        app::InstallOutcome::Damaged);
    EXPECT_TRUE(FilesBelow(enc / "Kelvaro").empty());

    // Not an archive at all.
    test::ScratchDir none;
    test::WriteBytes(none / "klvupgradeStub.exe", test::FakeExecutable(5000));
    EXPECT_FALSE(app::NewZipPayload((none / "klvupgradeStub.exe").string())
                     ->Verify(Folder(none, "Kelvaro")));
}
