// Extraction and testing: the item loop's events, destinations, overwrite rules, time stamps,
// attributes, integrity failures and the names and sizes that must never be trusted.
#include <filesystem>
#include <random>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

#include "fixtures/archive.h"
#include "platform/files.h"
#include "platform/password_dialog.h"
#include "platform/prompts.h"
#include "platform/text.h"
#include "test_util.h"

using namespace klv::zip;
using klv::test::Archive;
using klv::test::RawRecords;
namespace fs = std::filesystem;

namespace {

std::string Utf8(const std::u16string& s) {
    return klv::platform::Utf16ToUtf8(s);
}

class Extract : public ::testing::Test {
  protected:
    template <class Builder>
    std::unique_ptr<TZipArchive> Open(Builder& w, const std::string& name = "a.zip") {
        auto a = klv::test::OpenBytes(dir, name, w.build());
        a->BaseDir = klv::test::U16(out);
        return a;
    }
    // Records every event as one line.
    void Record(TZABaseArchiver& a) {
        a.OnOverallProgress = [&](TZABaseArchiver&, double p, TZAProcessOperation,
                                  TZAProgressPhase phase, bool&) {
            if (phase != TZAProgressPhase::ppProcess)
                events.push_back("overall " + std::to_string(int(p)));
        };
        a.OnFileProgress = [&](TZABaseArchiver&, const std::u16string& n, double p,
                               TZAProcessOperation, TZAProgressPhase phase, bool&) {
            if (phase != TZAProgressPhase::ppProcess)
                events.push_back("file " + Utf8(n) + " " + std::to_string(int(p)));
        };
        a.OnConfirmProcessFile = [&](TZABaseArchiver&, const std::u16string& n, TZAProcessOperation,
                                     bool& confirm) {
            events.push_back("confirm " + Utf8(n));
            confirm = true;
        };
        a.OnProcessFileFailure = [&](TZABaseArchiver&, const std::u16string& n, TZAProcessOperation,
                                     int native, int, const std::u16string&, TZAAction& action) {
            events.push_back("failure " + Utf8(n) + " " + std::to_string(native));
            action = TZAAction::fxaIgnore;
        };
    }
    std::string Read(const std::string& rel) { return klv::test::ReadBytes(out / rel); }
    std::vector<std::string> Tree() {
        std::vector<std::string> names;
        if (!fs::exists(out)) return names;
        for (auto& e : fs::recursive_directory_iterator(out))
            names.push_back(fs::relative(e.path(), out).generic_string() +
                            (e.is_directory() ? "/" : ""));
        std::sort(names.begin(), names.end());
        return names;
    }

    klv::test::ScratchDir dir;
    fs::path out = dir / "out";
    std::vector<std::string> events;
};

using Strings = std::vector<std::string>;

// Counts what is written to it.
class Counting final : public TZAStream {
  public:
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void*, std::int64_t c) override {
        written += c;
        return c;
    }
    void Seek(std::int64_t) override {}
    std::int64_t Position() const override { return written; }
    std::int64_t Size() const override { return written; }
    void SetSize(std::int64_t) override {}
    std::int64_t written = 0;
};

TEST_F(Extract, WritesItemsWithFoldersAndEventsInOrder) {
    Archive w;
    w.add("a.txt", "alpha");
    w.addDir("sub/dir/");
    w.add("sub/b.txt", std::string(3 << 20, 'b')); // inflated in several output blocks
    w.add("empty.txt", "");
    auto a = Open(w);
    Record(*a);
    int blocks = 0;
    auto fileProgress = a->OnFileProgress;
    a->OnFileProgress = [&](TZABaseArchiver& s, const std::u16string& n, double p,
                            TZAProcessOperation op, TZAProgressPhase phase, bool& c) {
        if (phase == TZAProgressPhase::ppProcess) ++blocks;
        fileProgress(s, n, p, op, phase, c);
    };
    a->ExtractMatching();
    EXPECT_EQ(Tree(), (Strings{"a.txt", "empty.txt", "sub/", "sub/b.txt", "sub/dir/"}));
    EXPECT_EQ(Read("sub/b.txt"), std::string(3 << 20, 'b'));
    EXPECT_EQ(Read("empty.txt"), "");
    EXPECT_EQ(events, (Strings{"overall 0", "confirm a.txt", "file a.txt 0", "file a.txt 100",
                               "confirm sub\\dir\\", "file sub\\dir\\ 0", "file sub\\dir\\ 100",
                               "confirm sub\\b.txt", "file sub\\b.txt 0", "file sub\\b.txt 100",
                               "confirm empty.txt", "file empty.txt 0", "file empty.txt 100",
                               "overall 100"}));
    EXPECT_GE(blocks, 3);
    // Files get the item's time stamp.
    EXPECT_EQ(klv::platform::DosStampOf(klv::test::U16(out / "a.txt")),
              (std::uint32_t{klv::test::dosDate(2024, 5, 17)} << 16) |
                  klv::test::dosTime(12, 34, 56));
}

TEST_F(Extract, SelectionPathsAndNoMatch) {
    Archive w;
    w.add("x/readme.txt", "1");
    w.add("readme.txt", "2");
    auto a = Open(w);
    Record(*a);
    a->ExtractMatching(u"*.zip");
    EXPECT_EQ(events, (Strings{"overall 0", "overall 100"}));
    EXPECT_EQ(Tree(), Strings{});
    // Without recursion a plain name extracts its first match only; with it, every match.
    a->Options.Recurse = false;
    a->ExtractMatching(u"x\\readme.txt");
    EXPECT_EQ(Tree(), (Strings{"x/", "x/readme.txt"}));
    a->Options.Recurse = true;
    a->ExtractMatching(u"readme.txt");
    EXPECT_EQ(Tree(), (Strings{"readme.txt", "x/", "x/readme.txt"}));
}

TEST_F(Extract, WithoutCreateDirsAndWithHandlerNames) {
    Archive w;
    w.add("a/b.txt", "b");
    w.addDir("sub/dir/");
    auto a = Open(w);
    a->Options.CreateDirs = false;
    Record(*a);
    a->ExtractMatching(); // the destination does not exist and is not created
    EXPECT_EQ(events[3], "failure a\\b.txt " + std::to_string(neCannotCreateFile));
    fs::create_directories(out);
    a->ExtractMatching();
    EXPECT_EQ(Tree(), (Strings{"b.txt"}));

    // A handler's absolute name is used as it is.
    const fs::path elsewhere = dir / "elsewhere" / "y.txt";
    fs::create_directories(elsewhere.parent_path());
    a->Options.CreateDirs = true;
    a->OnExtractFile = [&](TZABaseArchiver&, std::u16string& name, std::uint32_t&,
                           const std::string&) {
        if (name == u"a\\b.txt") name = klv::test::U16(elsewhere);
    };
    a->ExtractMatching(u"a/b.txt");
    EXPECT_EQ(klv::test::ReadBytes(elsewhere), "b");
}

TEST_F(Extract, OverwriteModes) {
    Archive w;
    w.add("f.txt", "new");
    auto a = Open(w);
    fs::create_directories(out);
    const std::u16string target = klv::test::U16(out / "f.txt");
    auto reset = [&](std::uint32_t stamp) {
        klv::test::WriteBytes(out / "f.txt", "old");
        TZipArchive touch; // set the old file's time through the engine's own file service
        int error = 0;
        auto f = klv::platform::FileStream::Open(target, klv::platform::fmOpenReadWrite, error);
        ASSERT_TRUE(f);
        f->SetDosStamp(stamp);
    };
    const std::uint32_t item =
        (std::uint32_t{klv::test::dosDate(2024, 5, 17)} << 16) | klv::test::dosTime(12, 34, 56);
    const std::uint32_t older = (std::uint32_t{klv::test::dosDate(2020, 1, 1)} << 16);

    struct Case {
        TZAOverwriteMode mode;
        std::uint32_t existing;
        const char* expect;
    } cases[] = {
        {TZAOverwriteMode::omAlways, item, "new"},  {TZAOverwriteMode::omNever, older, "old"},
        {TZAOverwriteMode::omIfNewer, item, "old"}, {TZAOverwriteMode::omIfNewer, older, "new"},
        {TZAOverwriteMode::omIfOlder, item, "old"}, {TZAOverwriteMode::omIfOlder, older, "old"},
    };
    for (const auto& c : cases) {
        reset(c.existing);
        a->Options.OverwriteMode = c.mode;
        a->ExtractMatching();
        EXPECT_EQ(Read("f.txt"), c.expect) << "mode " << int(c.mode) << " existing " << c.existing;
    }

    // A read-only target is left alone without ReplaceReadOnly, replaced with it.
    reset(older);
    klv::platform::SetAttributesOf(target, kAttrReadOnly);
    a->Options.OverwriteMode = TZAOverwriteMode::omAlways;
    a->Options.ReplaceReadOnly = false;
    a->ExtractMatching();
    EXPECT_EQ(Read("f.txt"), "old");
    a->Options.ReplaceReadOnly = true;
    a->ExtractMatching();
    EXPECT_EQ(Read("f.txt"), "new");
}

TEST_F(Extract, DefaultOverwritePromptAndNoToAll) {
    Archive w;
    w.add("f.txt", "new");
    w.add("g.txt", "new");
    auto a = Open(w);
    fs::create_directories(out);
    klv::test::WriteBytes(out / "f.txt", "old");
    klv::test::WriteBytes(out / "g.txt", "old");
    std::vector<std::u16string> asked;
    klv::platform::SetPromptScript(
        [&](const std::u16string& text, const std::vector<klv::platform::PromptButton>& b) {
            asked.push_back(text);
            EXPECT_EQ(b.size(), 4u);
            return klv::platform::PromptButton::NoToAll;
        });
    a->Options.OverwriteMode = TZAOverwriteMode::omPrompt;
    a->ExtractMatching();
    klv::platform::SetPromptScript({});
    ASSERT_EQ(asked.size(), 1u); // the second target is skipped without asking
    EXPECT_EQ(Utf8(asked[0]),
              "Overwrite file \"" + Utf8(klv::test::U16(out)) + "\\f.txt\" with \"f.txt\"");
    EXPECT_EQ(a->Options.OverwriteMode, TZAOverwriteMode::omNever);
    EXPECT_EQ(Read("f.txt"), "old");
    EXPECT_EQ(Read("g.txt"), "old");
}

TEST_F(Extract, IntegrityFailuresKeepTheOldFileAndRetry) {
    RawRecords w;
    w.add("bad.txt", "payload").central.crc = 0x12345678;
    w.add("good.txt", "fine");
    auto a = Open(w);
    fs::create_directories(out);
    klv::test::WriteBytes(out / "bad.txt", "previous");
    Record(*a);
    a->ExtractMatching();
    EXPECT_EQ(Read("bad.txt"), "previous"); // the damaged item replaced nothing
    EXPECT_EQ(Read("good.txt"), "fine");
    EXPECT_NE(
        std::find(events.begin(), events.end(), "failure bad.txt " + std::to_string(neNotIntact)),
        events.end());
    EXPECT_EQ(Tree(), (Strings{"bad.txt", "good.txt"})); // no temporary file left

    // The default prompt: message, buttons, and Retry starting the item again.
    int shown = 0;
    klv::platform::SetPromptScript([&](const std::u16string& text,
                                       const std::vector<klv::platform::PromptButton>& b) {
        ++shown;
        EXPECT_NE(Utf8(text).find("Invalid size or check sum of file or unsupported compression "
                                  "format - Native error: 00008. File processing error, possibly "
                                  "disk is full"),
                  std::string::npos);
        EXPECT_EQ(b.size(), 3u);
        return shown < 3 ? klv::platform::PromptButton::Retry : klv::platform::PromptButton::Abort;
    });
    a->OnProcessFileFailure = nullptr;
    a->ExtractMatching(u"bad.txt");
    klv::platform::SetPromptScript({});
    EXPECT_EQ(shown, 3);

    // Kept on request, without any report.
    a->ExtractCorruptedFiles = true;
    Record(*a);
    events.clear();
    a->ExtractMatching(u"bad.txt");
    EXPECT_EQ(Read("bad.txt"), "payload");
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](auto& e) { return e.starts_with("failure"); }),
              0);
}

TEST_F(Extract, UnsafeStoredNamesAreRefused) {
    RawRecords w;
    for (const char* name : {"../x1", "a/../../x2", "/x3", "C:/x4", "C:\\x5",
                             "\\\\server\\share\\x6", "a//x7", "ok/../inside.txt"})
        w.add(name, "evil");
    w.add("fine.txt", "ok");
    auto a = Open(w);
    fs::create_directories(out);
    Record(*a);
    a->ExtractMatching();
    EXPECT_EQ(Tree(), (Strings{"fine.txt"}));
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](auto& e) {
                                return e.starts_with("failure") &&
                                       e.ends_with(" " + std::to_string(neCannotCreateFile));
                            }),
              8);
    for (auto& e : fs::directory_iterator(dir.Path()))
        EXPECT_TRUE(e.path().filename() == "out" || e.path().filename() == "a.zip") << e.path();
}

TEST_F(Extract, OutputNeverExceedsTheDeclaredSize) {
    RawRecords w;
    const std::string zeros(50 << 20, '\0');
    auto& bomb = w.add("bomb.bin", zeros, 8);
    bomb.central.uncompressedSize = 1000;
    bomb.central.crc = klv::test::crc32Of(zeros.substr(0, 1000));
    auto a = Open(w);
    Counting counting;
    klv::test::ExpectNative(neNotIntact, [&] { a->ExtractItemToStream(0, counting); });
    EXPECT_LE(counting.written, 1000);
    Record(*a);
    a->ExtractMatching();
    EXPECT_EQ(Tree(), Strings{});
}

// A Zip64 block may hold one size alone (7-Zip writes only the uncompressed one for a large
// file that packs small): each size follows its own marker, the output bound included.
TEST_F(Extract, Zip64SizesEachByTheirOwnMarker) {
    using klv::test::Z64CSize;
    using klv::test::Z64USize;
    std::string data;
    for (int i = 0; data.size() < 300000; ++i)
        data += "line " + std::to_string(i) + "\n";
    for (std::uint8_t marked :
         {std::uint8_t(Z64USize), std::uint8_t(Z64CSize), std::uint8_t(Z64USize | Z64CSize)}) {
        SCOPED_TRACE("Zip64 fields " + std::to_string(marked));
        klv::test::ScratchDir scratch;
        out = scratch / "out";
        events.clear();
        RawRecords w;
        w.add("big.txt", data, 8).zip64 = marked;
        auto a = Open(w, "z64-" + std::to_string(marked) + ".zip");
        Record(*a);
        a->TestMatching(u"*.*");
        a->ExtractMatching();
        EXPECT_EQ(events,
                  (Strings{"overall 0", "confirm big.txt", "file big.txt 0", "file big.txt 100",
                           "overall 100", "overall 0", "confirm big.txt", "file big.txt 0",
                           "file big.txt 100", "overall 100"}));
        EXPECT_TRUE(Read("big.txt") == data);
    }
    // The bound is the true size too: a Zip64 uncompressed size below what the data inflates to.
    RawRecords w;
    const std::string zeros(20 << 20, '\0');
    auto& bomb = w.add("bomb.bin", zeros, 8);
    bomb.zip64 = Z64USize;
    bomb.central.extra = klv::test::zip64Extra(1000);
    bomb.central.crc = klv::test::crc32Of(zeros.substr(0, 1000));
    auto a = Open(w, "z64-bomb.zip");
    Counting counting;
    klv::test::ExpectNative(neNotIntact, [&] { a->ExtractItemToStream(0, counting); });
    EXPECT_LE(counting.written, 1000);
}

// Cancelled at the start, a run raises no further event and touches nothing.
TEST_F(Extract, CancelAtTheStartEndsTheRun) {
    Archive w;
    w.add("a.txt", "alpha");
    auto a = Open(w);
    Record(*a);
    auto overall = a->OnOverallProgress;
    a->OnOverallProgress = [&](TZABaseArchiver& s, double p, TZAProcessOperation op,
                               TZAProgressPhase phase, bool& cancel) {
        overall(s, p, op, phase, cancel);
        cancel = phase == TZAProgressPhase::ppStart;
    };
    a->ExtractMatching();
    a->TestMatching(u"*.*");
    EXPECT_EQ(events, (Strings{"overall 0", "overall 0"}));
    EXPECT_EQ(Tree(), Strings{});
}

TEST_F(Extract, MethodsAndRecordQuirks) {
    RawRecords w;
    w.add("d64", "x", 9);
    w.add("m12", "x", 12);
    auto& alt = w.add("alt", "data");
    alt.versionNeeded = 0x4114;
    alt.central.crc = 1; // no CRC check for entries in the alternative layout
    w.add("sig", "data").local.signature = 0x01020304; // not checked
    w.add("desc", std::string(5000, 'q'), 8).descriptor = true;
    auto a = Open(w);
    TZANullStream nothing;
    try {
        a->ExtractItemToStream(0, nothing);
        ADD_FAILURE();
    } catch (const EZAException& e) {
        EXPECT_EQ(e.NativeError, neDeflate64);
        EXPECT_EQ(Utf8(e.Message()),
                  "Deflate64 compression method is not supported - Native error: 00055");
    }
    klv::test::ExpectNative(neNotIntact, [&] { a->ExtractItemToStream(1, nothing); });
    klv::test::ExpectNative(neIndexOutOfBounds, [&] { a->ExtractItemToStream(5, nothing); });
    Record(*a);
    a->TestMatching(u"*.*");
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](auto& e) { return e.starts_with("failure"); }),
              2);
    EXPECT_EQ(Tree(), Strings{}); // testing writes nothing
}

TEST_F(Extract, EmptyBaseDirUsesTheFirstCurrentFolder) {
    Archive w;
    w.add("c.txt", "c");
    auto a = Open(w);
    a->BaseDir.clear();
    const fs::path before = fs::current_path();
    fs::create_directories(dir / "first");
    fs::create_directories(dir / "second");
    fs::current_path(dir / "first");
    a->ExtractMatching();
    fs::current_path(dir / "second");
    fs::remove(dir / "first" / "c.txt");
    a->ExtractMatching();
    fs::current_path(before);
    EXPECT_TRUE(fs::exists(dir / "first" / "c.txt"));
    EXPECT_FALSE(fs::exists(dir / "second" / "c.txt"));
}

TEST_F(Extract, PasswordLoop) {
    RawRecords w;
    const std::string data = "secret data";
    auto& e1 = w.add("e1.txt", data);
    e1.flags = 1;
    e1.packed = klv::test::pkzipEncrypt(data, "pw", uint8_t(klv::test::crc32Of(data) >> 24));
    auto& e2 = w.add("e2.txt", data);
    e2.flags = 1;
    e2.packed = klv::test::pkzipEncrypt(data, "pw", uint8_t(klv::test::crc32Of(data) >> 24));
    w.add("plain.txt", "plain");
    auto a = Open(w);
    // Asked once; the password is kept for the next item.
    int asked = 0;
    a->OnPassword = [&](TZABaseArchiver&, const std::u16string& name, std::string& pw, bool& skip) {
        ++asked;
        EXPECT_EQ(name, u"e1.txt");
        pw = "pw";
        skip = false;
    };
    a->ExtractMatching();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Read("e1.txt"), data);
    EXPECT_EQ(Read("e2.txt"), data);

    // The default prompt: cancelled, the item is skipped quietly and the next goes on.
    fs::remove_all(out);
    a->SetPassword("");
    a->OnPassword = nullptr;
    int prompts = 0;
    klv::platform::SetPasswordPromptScript(
        [&](const std::string& caption, const std::string& label, std::string&) {
            ++prompts;
            EXPECT_EQ(label, "Enter password: ");
            EXPECT_TRUE(caption.starts_with("Password for \"e"));
            return false;
        });
    Record(*a);
    a->ExtractMatching();
    klv::platform::SetPasswordPromptScript({});
    EXPECT_EQ(prompts, 2);
    EXPECT_EQ(Tree(), (Strings{"plain.txt"}));
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](auto& e) { return e.starts_with("failure"); }),
              0);
}

#ifndef _WIN32
// A file-size limit makes writes come up short, as a full disk does: large items are written
// by the second thread, so the shortfall is noticed a block later and the held data must be
// written again on a retry.
TEST_F(Extract, DiskFullIsAskedAndRetriedOrFails) {
    std::mt19937 rng(5);
    std::string big(6 << 20, '\0');
    for (auto& c : big)
        c = static_cast<char>('a' + rng() % 7);
    Archive w;
    w.add("big.txt", big);
    auto a = Open(w);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit original{};
    getrlimit(RLIMIT_FSIZE, &original);
    auto limit = [&](rlim_t bytes) {
        rlimit r = original;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    };
    int asked = 0;
    a->OnDiskFull = [&](TZABaseArchiver&, int volume, const std::u16string& name, bool& cancel) {
        ++asked;
        EXPECT_EQ(volume, 0);
        EXPECT_EQ(name, a->FileName);
        EXPECT_TRUE(cancel); // comes in as true
        setrlimit(RLIMIT_FSIZE, &original);
        cancel = false;
    };
    limit(3 << 20);
    a->ExtractMatching();
    setrlimit(RLIMIT_FSIZE, &original);
    EXPECT_GE(asked, 1);
    EXPECT_EQ(Read("big.txt"), big);

    // Without a handler the item fails with native code 65 and the old file stays.
    klv::test::WriteBytes(out / "big.txt", "old");
    a->OnDiskFull = nullptr;
    Record(*a);
    limit(3 << 20);
    a->ExtractMatching();
    setrlimit(RLIMIT_FSIZE, &original);
    EXPECT_NE(
        std::find(events.begin(), events.end(), "failure big.txt " + std::to_string(neDiskFull)),
        events.end());
    EXPECT_EQ(Read("big.txt"), "old");
    EXPECT_EQ(Tree(), (Strings{"big.txt"}));
}
#endif

} // namespace
