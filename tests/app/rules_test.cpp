// The rules a package is read by: Stub.ini as the stub reads it, the package version in a
// caption and the comparison of versions; the names of payload items as the installer and
// klvpack take them; and the payload read by the real archive engine
// from real files, sound, damaged and cut off.
#include <gtest/gtest.h>

#include "app/payload.h"
#include "app/stubconf/item_names.h"
#include "app/stubconf/stub_ini.h"
#include "fixtures/archive.h"
#include "platform/text.h"
#include "zip/errors.h"
#include "zip/test_util.h"

using namespace klv;
using stubconf::CompareVersions;
using stubconf::PackageVersionFromCaption;
using stubconf::StubIni;

namespace {

// The payload's paths, or the first refusal as "index: reason".
std::string PathsOf(const std::vector<stubconf::PayloadName>& items) {
    const stubconf::PayloadPaths p = stubconf::CanonicalPayloadPaths(items, platform::UpperUnit);
    if (!p.refusals.empty())
        return std::to_string(p.refusals[0].index) + ": " +
               platform::Utf16ToUtf8(p.refusals[0].reason);
    std::string out;
    for (const auto& path : p.paths)
        out += (out.empty() ? "" : "|") + platform::Utf16ToUtf8(path);
    return out;
}

std::string PathOf(const std::string& stored, bool folder = false) {
    return PathsOf({{platform::Utf8ToUtf16(stored), folder}});
}

} // namespace

TEST(PayloadNames, InstalledPathOfANameTheInstallerTakes) {
    const std::pair<const char*, const char*> taken[] = {
        {"Data/voornamen.txt", "Data\\voornamen.txt"},
        {"Data\\./voornamen.txt", "Data\\voornamen.txt"},
        {"./kelvaro.exe", "kelvaro.exe"},
        {"Data/", "Data"},
        {"Caf\u00e9 \u00e9\u00e9n.txt", "Caf\u00e9 \u00e9\u00e9n.txt"},
        // Near device names and the reserved prefix, but neither.
        {"nullen.txt", "nullen.txt"},
        {"Data/com10.txt", "Data\\com10.txt"},
        {"console/lpt.txt", "console\\lpt.txt"},
        {"Data/~klvupgrade", "Data\\~klvupgrade"},
        {"a/.hidden", "a\\.hidden"},
    };
    for (const auto& [stored, path] : taken)
        EXPECT_EQ(PathOf(stored, std::string_view(stored).ends_with('/')), path) << stored;
}

TEST(PayloadNames, EveryNameWindowsCannotHoldOrTheRunKeepsIsRefused) {
    const std::pair<std::string, const char*> refused[] = {
        {"", "is empty"},
        {"/abs.txt", "absolute path"},
        {"\\\\server\\share\\x.txt", "absolute path"},
        {"C:x.txt", "contains ':'"},
        {"Data/a:b.txt", "contains ':'"},
        {std::string("a\x01") + "b.txt", "control character"},
        {"Data/tab\t.txt", "control character"},
        {"*.txt", "contains '*'"},
        {"Data/a?b", "contains '?'"},
        {"a<b", "contains '<'"},
        {"a>b", "contains '>'"},
        {"a\"b", "contains '\"'"},
        {"a|b", "contains '|'"},
        {"../x.txt", "\"..\" part"},
        {"Data/../../x.txt", "\"..\" part"},
        {"Data//x.txt", "doubled separator"},
        {"Data/.", "ends in a \".\" part"},
        {".", "only \".\" parts"},
        {"./", "only \".\" parts"},
        {"Data/voornamen.txt.", "ends in '.' or a blank"},
        {"Data/voornamen.txt ", "ends in '.' or a blank"},
        {"Data./x.txt", "ends in '.' or a blank"},
        {"CON", "device name"},
        {"nul.txt", "device name"},
        {"Data/Con.tar.gz", "device name"},
        {"Data/sub/LPT9", "device name"},
        {"Data/com1.log", "device name"},
        {"CONIN$", "device name"},
        {"a/conout$.txt", "device name"},
        {"aux .txt", "device name"},
        {"prn/x.txt", "device name"},
        {"COM\u00b9", "device name"},
        {"~klvupgrade.journal", "keeps for itself"},
        {"./~klvupgrade.journal", "keeps for itself"},
        {"Data/~KLVUPGRADE.backup/x.txt", "keeps for itself"},
    };
    for (const auto& [stored, reason] : refused) {
        const std::string got = PathOf(stored);
        EXPECT_TRUE(got.starts_with("0: ")) << stored << " -> " << got;
        EXPECT_NE(got.find(reason), std::string::npos) << stored << " -> " << got;
    }
}

TEST(PayloadNames, OnePathOnceAndNoPathThroughAFile) {
    auto u = [](const char* s) { return platform::Utf8ToUtf16(s); };
    // The aliases of one file, compared without case as Windows compares names.
    EXPECT_EQ(PathsOf({{u"Data/voornamen.txt"}, {u"data/VOORNAMEN.TXT"}}),
              "1: is the same path to Windows as \"Data/voornamen.txt\" (the names differ only "
              "in case, \".\" parts or separators)");
    EXPECT_EQ(PathsOf({{u"Data/voornamen.txt"}, {u"Data/./voornamen.txt"}}).substr(0, 3), "1: ");
    EXPECT_EQ(PathsOf({{u"Data\\x"}, {u"Data/x"}}).substr(0, 3), "1: ");
    EXPECT_EQ(PathsOf({{u("Caf\u00e9.txt")}, {u("CAF\u00c9.TXT")}}).substr(0, 3), "1: ");
    EXPECT_EQ(PathsOf({{u"a"}, {u"a/", true}}).substr(0, 3), "1: ");
    // A file is no folder, whichever comes first.
    EXPECT_EQ(PathsOf({{u"a"}, {u"A/b"}}), "1: runs through \"a\", which is a file of the payload");
    EXPECT_EQ(PathsOf({{u"a/b/c"}, {u"a/B"}}),
              "0: runs through \"a/B\", which is a file of the payload");
    // Folders named twice over, by entry and by the paths below them, are one folder.
    EXPECT_EQ(PathsOf({{u"a/", true}, {u"A/b"}, {u"a/c/d"}, {u"a/c/", true}}),
              "a|A\\b|a\\c\\d|a\\c");
}

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

// A package as built: an executable with a ZIP appended, by the package maker's writer (its
// offsets count from the package's start), or, for a payload that lies, record by record
// behind it (offsets from the archive's start).
class Package {
  public:
    explicit Package(test::Archive archive) {
        archive.prefix = test::FakeExecutable(40000);
        bytes_ = archive.build();
    }
    explicit Package(test::RawRecords& writer) {
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
    test::Archive w;
    w.add("stub.ini", "Caption=Kelvaro Schermhelp\r\n");
    w.add("Stub.jpg", std::string(3000, 'j'));
    w.add("kelvaro.exe", std::string(5000, 'k'));
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

    test::Archive plain;
    plain.add("kelvaro.exe", "new program");
    plain.add("Stub.bmp", "a picture without a Stub.ini");
    test::ScratchDir other;
    const std::string temp2 = Folder(other, "temp");
    EXPECT_FALSE(app::NewZipPayload(Package(plain).Write(other))->ExtractConfiguration(temp2));
    EXPECT_TRUE(FilesBelow(temp2).empty());
}

TEST(ZipPayload, ConfigurationFilesPastTheirBoundsAreRefusedBeforeAnyIsWritten) {
    // Stub.ini up to 1 MiB and a picture up to 64 MiB are read; a byte more is a damaged
    // package, refused before anything reaches the temporary folder.
    const std::string ini = "Caption=Bronnen\r\n";
    auto configured = [&](std::size_t iniBytes, std::size_t pictureBytes) {
        test::Archive w;
        w.add("Stub.ini", ini + std::string(iniBytes - ini.size(), ' '));
        w.add("Stub.bmp", std::string(pictureBytes, 'b'));
        w.add("kelvaro.exe", "new program");
        return Package(w);
    };
    const std::size_t iniLimit = 1 << 20, pictureLimit = 64 << 20;
    for (const auto& [iniBytes, pictureBytes] :
         {std::pair{iniLimit + 1, std::size_t{10}}, std::pair{iniLimit, pictureLimit + 1}}) {
        test::ScratchDir dir;
        const std::string temp = Folder(dir, "temp");
        try {
            app::NewZipPayload(configured(iniBytes, pictureBytes).Write(dir))
                ->ExtractConfiguration(temp);
            ADD_FAILURE() << iniBytes << " and " << pictureBytes << " bytes were taken";
        } catch (const zip::EZAException& e) {
            EXPECT_EQ(e.NativeError, zip::neNotIntact);
        }
        EXPECT_TRUE(FilesBelow(temp).empty());
    }
    test::ScratchDir dir;
    const std::string temp = Folder(dir, "temp");
    const auto payload = app::NewZipPayload(configured(iniLimit, pictureLimit).Write(dir));
    ASSERT_TRUE(payload->ExtractConfiguration(temp));
    EXPECT_EQ(payload->ReadConfiguration(temp + "Stub.ini").size(), iniLimit);
}

TEST(ZipPayload, SoundPayloadIsCheckedWithoutWritingThenInstalledFromTheSameOpening) {
    test::ScratchDir dir;
    test::Archive w;
    w.add("kelvaro.exe", std::string(70000, 'k'));
    w.add("Genealogie/Overzichten/Caf\xC3\xA9.txt", "koffie"); // flagged UTF-8
    w.add("Data/voornamen.txt", "Jan\r\nPiet\r\n");
    const auto payload = app::NewZipPayload(Package(w).Write(dir));
    const std::string target = Folder(dir, "Kelvaro");
    test::WriteBytes(dir / "Kelvaro" / "kelvaro.exe", "old program");

    EXPECT_EQ(payload->Check(target).kind, app::InstallOutcome::Ok);
    EXPECT_EQ(FilesBelow(target), (std::vector<std::string>{"kelvaro.exe"}));
    EXPECT_EQ(test::ReadBytes(dir / "Kelvaro" / "kelvaro.exe"), "old program");
    // The run stages from the archive it checked, held open from the check on: a package
    // replaced on disk meanwhile is not read again (on Linux, where an open file can be
    // replaced); on Windows the open package cannot be replaced at all.
    const std::filesystem::path package = dir / "klvupgradeStub.exe";
    test::WriteBytes(dir / "other.exe", test::FakeExecutable(5000));
    std::error_code replaced;
    std::filesystem::rename(dir / "other.exe", package, replaced);
#ifdef _WIN32
    EXPECT_TRUE(replaced);
#else
    EXPECT_FALSE(replaced) << replaced.message();
#endif

    ASSERT_EQ(payload->Install(target, "kelvaro.exe", {}).kind, app::InstallOutcome::Ok);
    EXPECT_EQ(test::ReadBytes(dir / "Kelvaro" / "kelvaro.exe"), std::string(70000, 'k'));
    EXPECT_EQ(test::ReadBytes(dir / "Kelvaro" / "Data" / "voornamen.txt"), "Jan\r\nPiet\r\n");
    payload->Settle(); // the old program's backup goes beside the rest of the run
    EXPECT_EQ(FilesBelow(target).size(), 3u);
}

TEST(ZipPayload, DamagedOrCutOffPayloadIsRefused) {
    test::Archive w;
    w.add("kelvaro.exe", std::string(70000, 'k')).store = true;
    w.add("Data/voornamen.txt", std::string(4000, 'v')).store = true;
    const Package sound(w);

    // Cut off by an interrupted download: the directory is rebuilt from local headers.
    test::ScratchDir cut;
    EXPECT_EQ(app::NewZipPayload(sound.Write(cut, 1000))->Check(Folder(cut, "Kelvaro")).kind,
              app::InstallOutcome::Damaged);
    EXPECT_TRUE(FilesBelow(cut / "Kelvaro").empty());

    // Only the end record missing: every item would still read, but the download is short.
    test::ScratchDir tail;
    EXPECT_EQ(app::NewZipPayload(sound.Write(tail, 10))->Check(Folder(tail, "Kelvaro")).kind,
              app::InstallOutcome::Damaged);

    // One item's data damaged: its check fails while it is staged, and nothing is installed.
    test::RawRecords bad;
    bad.add("kelvaro.exe", std::string(70000, 'k'), 8);
    auto& damaged = bad.add("Data/voornamen.txt", "Jan\r\nPiet\r\n", 0);
    damaged.packed = "Jan\r\nPiEt\r\n";
    test::ScratchDir crc;
    const auto payload = app::NewZipPayload(Package(bad).Write(crc));
    const std::string target = Folder(crc, "Kelvaro");
    ASSERT_EQ(payload->Check(target).kind, app::InstallOutcome::Ok);
    const app::InstallOutcome staged = payload->Install(target, "", {});
    EXPECT_EQ(staged.kind, app::InstallOutcome::Damaged);
    EXPECT_EQ(staged.engineCode, zip::neNotIntact);
    EXPECT_EQ(platform::Utf16ToAnsi(staged.file).find("voornamen.txt") != std::string::npos, true)
        << platform::Utf16ToAnsi(staged.file);
    EXPECT_TRUE(FilesBelow(crc / "Kelvaro").empty());

    // An encrypted item would ask for a password part-way: refused at the first look.
    test::RawRecords locked;
    locked.add("kelvaro.exe", std::string(700, 'k'), 0);
    locked.add("Data/geheim.txt", "x", 0).flags = 0x0001;
    test::ScratchDir enc;
    const app::InstallOutcome lockedCheck =
        app::NewZipPayload(Package(locked).Write(enc))->Check(Folder(enc, "Kelvaro"));
    EXPECT_EQ(lockedCheck.kind, app::InstallOutcome::Damaged);
    EXPECT_EQ(lockedCheck.file, u"Data\\geheim.txt");
    // Install without a sound check checks first, and refuses the same.
    EXPECT_EQ(app::NewZipPayload(Package(locked).Write(enc))
                  ->Install(Folder(enc, "Kelvaro"), "", {})
                  .kind,
              app::InstallOutcome::Damaged);
    EXPECT_TRUE(FilesBelow(enc / "Kelvaro").empty());

    // Not an archive at all.
    test::ScratchDir none;
    test::WriteBytes(none / "klvupgradeStub.exe", test::FakeExecutable(5000));
    const app::InstallOutcome noArchive =
        app::NewZipPayload((none / "klvupgradeStub.exe").string())->Check(Folder(none, "Kelvaro"));
    EXPECT_EQ(noArchive.kind, app::InstallOutcome::Damaged);
    EXPECT_NE(noArchive.engineCode, 0);
    EXPECT_FALSE(noArchive.message.empty());
}
