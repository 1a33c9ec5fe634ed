// The in-memory directory: the hashed name list and the entry array's index rules.
#include <gtest/gtest.h>

#include "zip/archiver.h"

using namespace klv::zip;

namespace {

TEST(TZAStringHash, RotatesAndXorsEachUnit) {
    EXPECT_EQ(TZAStringHash::Hash(u""), 0u);
    EXPECT_EQ(TZAStringHash::Hash(u"a"), 0x61u);
    EXPECT_EQ(TZAStringHash::Hash(u"ab"), (0x61u << 2) ^ 0x62u);
    std::uint32_t h = 0;
    for (char16_t c : std::u16string(40, u'\u00E9'))
        h = ((h << 2) | (h >> 30)) ^ c;
    EXPECT_EQ(TZAStringHash::Hash(std::u16string(40, u'\u00E9')), h);
}

TEST(TZAHashedStringList, FindsThroughGrowthAndEdits) {
    TZAHashedStringList list;
    for (int i = 0; i < 7000; ++i)
        list.Add(u"Name" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                 std::u16string(static_cast<std::size_t>(i / 26), u'x'));
    EXPECT_EQ(list.IndexOf(u"namea"), 0); // case-insensitive
    list.Add(u"NAMEA"); // a duplicate goes to the head of its chain
    EXPECT_EQ(list.IndexOf(u"NameA"), 7000);
    for (int i = 0; i < 6000; ++i) list.Add(u"more" + std::u16string(static_cast<std::size_t>(i), u'y'));
    EXPECT_EQ(list.IndexOf(u"more" + std::u16string(5999, u'y')), 13000);
    list.Delete(7000);
    EXPECT_EQ(list.IndexOf(u"namea"), 0);
    list.Insert(0, u"first=1");
    EXPECT_EQ(list.IndexOfName(u"FIRST"), 0);
    EXPECT_EQ(list.IndexOf(u"missing"), -1);
    list.CaseSensitive = true;
    EXPECT_EQ(list.IndexOf(u"first=1"), 0);
}

TEST(TZADirArray, IndexErrorsAndNameAlignment) {
    TZADirArray dir;
    TDirItem a;
    a.FileName = u"Docs/A.txt";
    dir.Add(a);
    TDirItem b;
    b.FileName = u"b.txt";
    dir.Add(b);
    EXPECT_EQ(dir.IndexOfName(u"docs/a.txt"), 0);
    EXPECT_EQ(dir.Get(1).FileName, u"b.txt");
    auto native = [](auto&& f) {
        try {
            f();
        } catch (const EZAException& e) {
            return e.NativeError;
        }
        return -1;
    };
    EXPECT_EQ(native([&] { dir.Get(2); }), 2);
    EXPECT_EQ(native([&] { dir.Item(-1); }), 3);
    EXPECT_EQ(native([&] { dir.Put(5, TDirItem{}); }), 1);
    EXPECT_EQ(native([&] { dir.Delete(2); }), 4);
    EXPECT_EQ(native([&] { dir.Rename(1, u"DOCS/a.TXT"); }), 59);
    dir.Rename(1, u"c.txt");
    EXPECT_EQ(dir.IndexOfName(u"c.txt"), 1);
    EXPECT_EQ(dir.IndexOfName(u"b.txt"), -1);
    dir.Delete(0);
    EXPECT_EQ(dir.IndexOfName(u"c.txt"), 0);
    dir.SetCount(0);
    EXPECT_EQ(dir.Count(), 0);
    EXPECT_EQ(dir.IndexOfName(u"c.txt"), -1);
}

TEST(TZipArchive, PropertiesAndDefaults) {
    TZipArchive z;
    EXPECT_EQ(z.Options.SearchAttr, 10431u);
    EXPECT_EQ(z.Options.OverwriteMode, TZAOverwriteMode::omAlways);
    EXPECT_EQ(z.Zip64Mode, TZip64Mode::zmDisabled);
    EXPECT_TRUE(z.UseStandardSignatures());
    EXPECT_EQ(z.CompressionMode(), 1);
    z.SetCompressionLevel(TZACompressionLevel::clNormal);
    EXPECT_EQ(z.CompressionMode(), 6);
    z.SetCompressionMode(8);
    EXPECT_EQ(z.CompressionLevel(), TZACompressionLevel::clMax);
    z.SetCompressionMode(2);
    EXPECT_EQ(z.CompressionLevel(), TZACompressionLevel::clFastest);
    try {
        z.SetCompressionMode(10);
        ADD_FAILURE();
    } catch (const EZAException& e) {
        EXPECT_EQ(e.NativeError, neCompressionMode);
    }
    EXPECT_TRUE(z.CurrentVersion().ends_with(u"5.04"));
    TZAOptions o;
    o.ShareMode = TZAFileShareMode::smShareExclusive;
    o.Recurse = false;
    z.Options.Assign(o);
    EXPECT_FALSE(z.Options.Recurse);
    EXPECT_EQ(z.Options.ShareMode, TZAFileShareMode::smShareDenyNone); // not copied
    z.SpanningOptions.SetCustomVolumeSize(100);
    z.SpanningOptions.VolumeSize = TZAVolumeSize::vsCustom;
    EXPECT_EQ(z.SpanningOptions.VolumeSizeLimit(false), 65536);
    z.SpanningOptions.VolumeSize = TZAVolumeSize::vs4700MB;
    EXPECT_EQ(z.SpanningOptions.VolumeSizeLimit(false), 4928307200LL);
    z.SpanningOptions.FirstVolumeSize = 5;
    EXPECT_EQ(z.SpanningOptions.VolumeSizeLimit(true), 5);
}

} // namespace
