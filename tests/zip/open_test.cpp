// Opening archives: the end record, Zip64, names and extra blocks, archives behind other
// data, the rebuild from local headers, and the failures.
#include "fixtures/archive.h"
#include "platform/text.h"
#include "test_util.h"

using namespace klv::zip;
using klv::test::RawRecords;

namespace {

class Open : public ::testing::Test {
  protected:
    template <class Builder>
    std::unique_ptr<TZipArchive> OpenWriter(Builder& w, const std::string& name = "a.zip") {
        return klv::test::OpenBytes(dir, name, w.build());
    }
    static std::vector<std::string> Names(const TZABaseArchiver& a) {
        std::vector<std::string> out;
        const auto& d = klv::test::Dir(a);
        for (int i = 0; i < d.Count(); ++i)
            out.push_back(klv::platform::Utf16ToUtf8(d.Item(i).FileName));
        return out;
    }
    klv::test::ScratchDir dir;
};

using Strings = std::vector<std::string>;

TEST_F(Open, ReadsTheCentralDirectoryInOrder) {
    RawRecords w;
    w.add("a.txt", "hello");
    w.addDir("docs/");
    w.add("docs/b.txt", std::string(5000, 'b'), 8).comment = "note";
    w.comment = "archive comment";
    auto a = OpenWriter(w);
    EXPECT_TRUE(a->IsOpen());
    EXPECT_EQ(Names(*a), (Strings{"a.txt", "docs/", "docs/b.txt"}));
    const TDirItem& b = klv::test::Dir(*a).Item(2);
    EXPECT_EQ(b.UncompressedSize(), 5000);
    EXPECT_LT(b.CompressedSize(), 5000);
    EXPECT_EQ(b.ActualMethod, 8);
    EXPECT_EQ(b.Comment, "note");
    EXPECT_EQ(a->DirManager()->Comment, "archive comment");
    EXPECT_EQ(a->ArchiveStart(), 0);
    a->Close();
    EXPECT_FALSE(a->IsOpen());
    a->Close(); // harmless when nothing is open
}

TEST_F(Open, EndRecordMustReachExactlyToTheEndOfTheFile) {
    // A false end-record signature inside the comment is skipped for the real one.
    RawRecords w;
    w.add("x", "1");
    w.comment = std::string("PK\x05\x06", 4) + std::string(30, 'c');
    auto a = OpenWriter(w);
    EXPECT_EQ(a->DirManager()->Comment.size(), 34u);
    EXPECT_EQ(Names(*a), (Strings{"x"}));

    // Junk after the comment: no end record; the directory comes from the local headers.
    RawRecords j;
    j.add("one.txt", "1111");
    j.add("empty", "");
    j.addDir("dir/");
    j.trailer = "junk after the end";
    auto r = OpenWriter(j, "junk.zip");
    EXPECT_EQ(Names(*r), (Strings{"one.txt", "empty", "dir/"}));
    const auto& d = klv::test::Dir(*r);
    EXPECT_EQ(d.Item(0).Header.ExternalAttributes(), kAttrArchive);
    // Without a size or a descriptor, a rebuilt entry counts as a folder.
    EXPECT_EQ(d.Item(1).Header.ExternalAttributes(), kAttrDirectory);
    EXPECT_EQ(d.Item(0).LocalHeaderOffset(), 0);
    EXPECT_EQ(r->DirManager()->DirectoryPosition, static_cast<std::int64_t>(j.build().size()));
}

TEST_F(Open, DamagedDirectoriesAreRebuiltFromLocalHeaders) {
    // The first central header overwritten.
    RawRecords w;
    w.add("a", "aaaa");
    w.add("b", "bbbb");
    w.entries[0].central.signature = 0x12345678;
    EXPECT_EQ(Names(*OpenWriter(w, "sig.zip")), (Strings{"a", "b"}));

    // More entries announced than written.
    RawRecords more;
    more.add("a", "aaaa");
    more.end.entriesTotal = 40;
    EXPECT_EQ(Names(*OpenWriter(more, "count.zip")), (Strings{"a"}));

    // 0xFFFF entries without a Zip64 record.
    RawRecords ffff;
    ffff.add("a", "aaaa");
    ffff.end.entriesTotal = 0xFFFF;
    EXPECT_EQ(Names(*OpenWriter(ffff, "ffff.zip")), (Strings{"a"}));

    // A data descriptor gives CRC and sizes to the rebuilt entry.
    RawRecords dd;
    dd.add("d.txt", std::string(3000, 'd'), 8).descriptor = true;
    dd.add("e.txt", "eeee").descriptor = true;
    dd.writeDirectory = false;
    auto a = OpenWriter(dd, "dd.zip");
    const auto& d = klv::test::Dir(*a);
    ASSERT_EQ(d.Count(), 2);
    EXPECT_EQ(d.Item(0).UncompressedSize(), 3000);
    EXPECT_EQ(d.Item(0).Header.Crc32(), klv::test::crc32Of(std::string(3000, 'd')));
    EXPECT_EQ(d.Item(1).UncompressedSize(), 4);
    EXPECT_EQ(d.Item(0).Header.ExternalAttributes(), kAttrArchive);
}

TEST_F(Open, FilesWithoutAnyLocalHeaderFail) {
    klv::test::ExpectNative(neNoArchive,
                            [&] { klv::test::OpenBytes(dir, "text.zip", std::string(5000, 't')); });
    klv::test::ExpectNative(neNoArchive, [&] { klv::test::OpenBytes(dir, "empty.zip", ""); });
    // A local-header signature with fewer than 30 bytes after it is no hit.
    klv::test::ExpectNative(neNoArchive, [&] {
        klv::test::OpenBytes(dir, "short.zip", std::string("xxPK\x03\x04", 6) + "abc");
    });
}

TEST_F(Open, HostileNumbersNeverCrashOrAllocateWithoutBound) {
    // A Zip64 count of 0xFFFFFFFF in a tiny file.
    RawRecords w;
    w.add("a", "a");
    w.zip64End = true;
    w.zip64.entriesTotal = 0xFFFFFFFFull;
    w.zip64.directorySize = 0x7FFFFFFFFFFFull;
    auto a = OpenWriter(w, "count.zip");
    EXPECT_EQ(Names(*a), (Strings{"a"})); // rebuilt

    // Names, extras and comments running past the end of the file.
    RawRecords n;
    n.add("b", "b");
    n.entries[0].central.nameLength = 0xFFFF;
    n.entries[0].central.commentLength = 0xFFFF;
    EXPECT_EQ(Names(*OpenWriter(n, "name.zip")), (Strings{"b"}));

    // A directory size larger than the file puts the directory before its start.
    RawRecords s;
    s.add("c", "c");
    s.end.directorySize = 0xFFFFFFF0u;
    EXPECT_EQ(Names(*OpenWriter(s, "size.zip")), (Strings{"c"}));
}

TEST_F(Open, ArchiveBehindAnExecutableWithRelativeOffsets) {
    RawRecords w;
    w.prefix = klv::test::FakeExecutable(70000);
    w.add("stub.ini", "[Stub]\r\nCaption=x\r\n");
    w.addDir("data/");
    w.add("data/big.txt", std::string(100000, 'z'), 8);
    auto a = OpenWriter(w, "klvupgradeStub.exe");
    EXPECT_EQ(a->ArchiveStart(), 70000);
    const auto& d = klv::test::Dir(*a);
    // File entries now point at their local headers; folder entries keep what was recorded.
    EXPECT_EQ(d.Item(0).LocalHeaderOffset(), static_cast<std::int64_t>(w.layout.localHeaders[0]));
    EXPECT_EQ(d.Item(2).LocalHeaderOffset(), static_cast<std::int64_t>(w.layout.localHeaders[2]));
    EXPECT_EQ(d.Item(1).LocalHeaderOffset(),
              static_cast<std::int64_t>(w.layout.localHeaders[1] - 70000));
}

TEST_F(Open, ArchiveBehindAnExecutableWithAdjustedOffsets) {
    // As a package maker's writer makes it.
    klv::test::Archive w;
    w.prefix = klv::test::FakeExecutable(70000);
    w.add("a.txt", "aaa");
    w.add("b.txt", "bbb");
    const std::string bytes = w.build();
    auto a = klv::test::OpenBytes(dir, "SETUP.EXE", bytes);
    EXPECT_EQ(a->ArchiveStart(), 70000);
    // The first "b.txt" in the file is the name in its local header.
    EXPECT_EQ(klv::test::Dir(*a).Item(1).LocalHeaderOffset(),
              static_cast<std::int64_t>(bytes.find("b.txt") - kLocalHeaderSize));
}

TEST_F(Open, ArchiveStartOfAnEmptyArchiveIsItsEndRecord) {
    RawRecords w;
    w.prefix = klv::test::FakeExecutable(1000);
    auto a = OpenWriter(w, "empty.exe");
    EXPECT_EQ(klv::test::Dir(*a).Count(), 0);
    EXPECT_EQ(a->ArchiveStart(), 1000);
}

TEST_F(Open, Zip64ArchiveBehindAnExecutable) {
    // The locator records the Zip64 end record relative to the archive; it is found before
    // the locator all the same.
    RawRecords w;
    w.prefix = klv::test::FakeExecutable(5000);
    w.zip64End = true;
    w.add("a.txt", "aaa").zip64 = klv::test::Z64USize | klv::test::Z64CSize;
    w.add("b.txt", "bbbb");
    auto a = OpenWriter(w, "z64.exe");
    EXPECT_TRUE(a->DirManager()->IsZip64);
    EXPECT_EQ(Names(*a), (Strings{"a.txt", "b.txt"}));
    EXPECT_EQ(klv::test::Dir(*a).Item(0).UncompressedSize(), 3);
    EXPECT_EQ(a->ArchiveStart(), 5000);

    // A locator that leads nowhere.
    RawRecords bad;
    bad.add("a", "a");
    bad.zip64End = true;
    bad.zip64.signature = 0x01020304;
    klv::test::ExpectNative(neNoZip64EndRecord, [&] { OpenWriter(bad, "bad64.zip"); });
}

TEST_F(Open, Zip64ExtraValuesAreTakenOnlyForMarkedFields) {
    RawRecords w;
    auto& e = w.add("u", std::string(10, 'u'));
    e.zip64 = klv::test::Z64USize; // only the uncompressed size is in the block
    auto& f = w.add("all", std::string(20, 'v'));
    f.zip64 = klv::test::Z64All;
    auto a = OpenWriter(w);
    const auto& d = klv::test::Dir(*a);
    EXPECT_TRUE(d.Item(0).HasZip64);
    EXPECT_EQ(d.Item(0).Zip64UncompressedSize, 10u);
    EXPECT_EQ(d.Item(0).Zip64CompressedSize, 0u);
    EXPECT_EQ(d.Item(0).CompressedSize(), 10);
    EXPECT_EQ(d.Item(1).UncompressedSize(), 20);
    EXPECT_EQ(d.Item(1).CompressedSize(), 20);
    EXPECT_EQ(d.Item(1).LocalHeaderOffset(), static_cast<std::int64_t>(w.layout.localHeaders[1]));
}

TEST_F(Open, ExtraBlocksAreKeptAndTruncatedAtTheAreaEnd) {
    RawRecords w;
    auto& e = w.add("t", "t");
    e.central.extra = klv::test::extraBlock(0x7075, "abc") +
                      klv::test::extraBlock(0x5455, "12345", uint16_t(50)) +
                      klv::test::extraBlock(0x0001, "");
    auto a = OpenWriter(w);
    auto blocks = klv::test::Dir(*a).Item(0).Extra.Blocks();
    ASSERT_EQ(blocks.size(), 2u); // the third lies inside the truncated second
    EXPECT_EQ(blocks[0].id, 0x7075);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(blocks[0].data), blocks[0].size), "abc");
    EXPECT_EQ(blocks[1].id, 0x5455);
    EXPECT_EQ(blocks[1].size, 9); // what was left: "12345" and the next block's 4-byte head
    EXPECT_FALSE(klv::test::Dir(*a).Item(0).HasZip64);
}

TEST_F(Open, NamesAreDecoded) {
    RawRecords w;
    w.add("caf\xC3\xA9.txt").flags = 0x0800; // UTF-8, bit 11
    w.add("\xE2\x82\xAC"
          "uro.txt"); // UTF-8 only
    w.add("n.txt").central.extra = klv::test::nuExtra(u"\u00DCber.txt");
    w.add("keep.txt").central.extra = klv::test::nuExtra(u"other", 0x41414141); // not "NUCX"
    w.add("\x89t.txt"); // OEM 850 e-diaeresis
    auto a = OpenWriter(w);
    const auto& d = klv::test::Dir(*a);
    EXPECT_EQ(d.Item(0).FileName, u"caf\u00E9.txt");
    EXPECT_EQ(d.Item(2).FileName, u"\u00DCber.txt");
    EXPECT_EQ(d.Item(3).FileName, u"keep.txt");
    if (klv::platform::OemToAnsi("\x89\xC7\xB8") != "\xEB\xC3\xA9")
        GTEST_SKIP() << "the system's OEM code page is not 850";
    EXPECT_EQ(d.Item(4).FileName, u"\u00EBt.txt");
    // The OEM conversion runs first: these bytes are not UTF-8, but their ANSI form is.
    // UTF-8 bytes without bit 11 go through the OEM conversion and are then no longer UTF-8.
    EXPECT_EQ(d.Item(1).FileName, u"\u00D4\u00E9\u00BCuro.txt");
    RawRecords o;
    o.add("\xC7\xB8.txt");
    EXPECT_EQ(klv::test::Dir(*OpenWriter(o, "oem.zip")).Item(0).FileName, u"\u00E9.txt");
    // With the option off the bytes are ANSI.
    RawRecords off;
    off.add("\xE9.txt");
    klv::test::WriteBytes(dir / "off.zip", off.build());
    TZipArchive z;
    z.Options.OEMFileNames = false;
    z.FileName = klv::test::U16(dir / "off.zip");
    z.Open(kOpenModeShareRead);
    EXPECT_EQ(klv::test::Dir(z).Item(0).FileName, u"\u00E9.txt");
}

TEST_F(Open, EncryptionAlgorithmFromFlagsAndAesBlock) {
    RawRecords w;
    w.add("classic", "x").flags = 1;
    auto& aes = w.add("aes", "x", 99);
    aes.flags = 1;
    aes.versionNeeded = 51;
    aes.extra = klv::test::aesExtra(3, 8);
    auto& alt = w.add("alt", "x", 99);
    alt.flags = 1;
    alt.versionNeeded = 0x4114;
    alt.extra = klv::test::aesExtra(1, 8);
    auto a = OpenWriter(w);
    const auto& d = klv::test::Dir(*a);
    EXPECT_EQ(d.Item(0).CryptoAlgorithm, TZACryptoAlgorithm::caPkzipClassic);
    EXPECT_EQ(d.Item(1).CryptoAlgorithm, TZACryptoAlgorithm::caAES_256);
    EXPECT_EQ(d.Item(1).ActualMethod, 8);
    EXPECT_EQ(d.Item(2).CryptoAlgorithm, TZACryptoAlgorithm::caPkzipClassic);
    EXPECT_EQ(d.Item(2).ActualMethod, 99);
}

TEST_F(Open, ArgumentAndFileFailures) {
    TZipArchive z;
    klv::test::ExpectNative(neBlankFileName, [&] { z.Open(); });
    klv::test::ExpectNative(neBlankFileNameForMode, [&] { z.Open(0x40); });
    z.FileName = klv::test::U16(dir / "missing.zip");
    try {
        z.Open(0x40);
        ADD_FAILURE();
    } catch (const EZAException& e) {
        EXPECT_EQ(e.NativeError, neFileNotFound);
        EXPECT_NE(std::string(e.what()).find("missing.zip\" not found"), std::string::npos);
    }
    z.InMemory = true;
    klv::test::WriteBytes(dir / "x.zip", "");
    z.FileName = klv::test::U16(dir / "x.zip");
    klv::test::ExpectNative(neInMemoryCreateOnly, [&] { z.Open(0x40); });
    EXPECT_FALSE(z.IsOpen());
    TZAArchiveItem item;
    klv::test::ExpectNative(neNotOpen, [&] { z.FindFirstItem(u"*.*", item); });
}

TEST_F(Open, ANewArchiveClosedEmptyIsAValidEmptyArchive) {
    TZipArchive z;
    z.FileName = klv::test::U16(dir / "new.zip");
    z.Open(); // the file does not exist: it is created
    EXPECT_TRUE(z.IsOpen());
    z.Close();
    EXPECT_EQ(klv::test::ReadBytes(dir / "new.zip"),
              std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    z.Open();
    EXPECT_EQ(klv::test::Dir(z).Count(), 0);
    z.Close();
    // Only read, an existing archive is never written.
    EXPECT_EQ(klv::test::ReadBytes(dir / "new.zip").size(), 22u);
}

TEST_F(Open, OpenWithoutModeAndAfterOpen) {
    klv::test::Archive w;
    w.add("a", "a");
    klv::test::WriteBytes(dir / "rw.zip", w.build());
    TZipArchive z;
    int opened = 0;
    z.AfterOpen = [&](TZABaseArchiver& sender) {
        EXPECT_EQ(&sender, &z);
        ++opened;
    };
    z.FileName = klv::test::U16(dir / "rw.zip");
    z.Open();
    z.Open(); // closes first
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(klv::test::Dir(z).Count(), 1);
    // The spanning mode cannot change under an open archive.
    EXPECT_THROW(z.SetSpanningMode(TZASpanningMode::smSplitting), EZAError);
}

} // namespace
