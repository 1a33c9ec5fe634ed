// Finding items by mask, exclusion mask and attributes; the wildcard matcher.
#include "fixtures/archive.h"
#include "platform/text.h"
#include "test_util.h"

using namespace klv::zip;
using klv::test::Archive;

namespace {

TEST(MatchesMask, WildcardsCaseAndDots) {
    EXPECT_TRUE(MatchesMask(u"Stub.ini", u"*stub.ini"));
    EXPECT_TRUE(MatchesMask(u"data/xSTUB.INI", u"*stub.ini"));
    EXPECT_TRUE(MatchesMask(u"data/Stub.jpg", u"*Stub.*"));
    EXPECT_FALSE(MatchesMask(u"Stub", u"*Stub.*")); // "*Stub.*" keeps its dot
    EXPECT_TRUE(MatchesMask(u"README", u"*.*"));
    EXPECT_TRUE(MatchesMask(u"docs/", u"*.*"));
    EXPECT_TRUE(MatchesMask(u"a", u"a*"));
    EXPECT_FALSE(MatchesMask(u"a", u"a**")); // the rest "**" is not exactly "*"
    EXPECT_TRUE(MatchesMask(u"ab", u"a**"));
    EXPECT_TRUE(MatchesMask(u"a/b", u"a?b")); // separators are ordinary units
    EXPECT_FALSE(MatchesMask(u"ab", u"a?b"));
    EXPECT_FALSE(MatchesMask(u"abc", u""));
    EXPECT_TRUE(MatchesMask(u"readme", u"readme."));
    EXPECT_TRUE(MatchesMask(u"readme.", u"readme."));
    EXPECT_FALSE(MatchesMask(u"readme.txt", u"readme.*."));
    EXPECT_FALSE(MatchesMask(u"readme.txt", u"read*."));
    EXPECT_TRUE(MatchesMask(u"\u00C9t\u00E9.TXT", u"\u00E9T\u00C9.txt"));
    EXPECT_TRUE(MatchesMask(u"x.a.b", u"*.*.*")); // "*.*" after the first replacement
}

class Search : public ::testing::Test {
  protected:
    void SetUp() override {
        Archive w;
        w.add("stub.ini", "1");
        w.add("Stub.jpg", "2");
        w.add("data/xstub.ini", "3");
        w.addDir("data/");
        w.add("data/Stub", "4");
        auto& hidden = w.add("hidden.txt", "5");
        hidden.attributes = kAttrHidden | kAttrArchive;
        w.add("x/y/deep.txt", "6");
        w.add("top.txt", "7");
        a = klv::test::OpenBytes(dir, "s.zip", w.build());
    }
    std::vector<std::string> All(const std::u16string& mask, const std::u16string& exclusion = {},
                                 std::uint32_t attr = kDefaultSearchAttr) {
        std::vector<std::string> out;
        TZAArchiveItem item;
        for (bool ok = a->FindFirstItem(mask, item, exclusion, attr); ok;
             ok = a->FindNextItem(item))
            out.push_back(klv::platform::Utf16ToUtf8(item.FolderPath + item.FileName));
        return out;
    }
    klv::test::ScratchDir dir;
    std::unique_ptr<TZipArchive> a;
};

using Strings = std::vector<std::string>;

TEST_F(Search, MasksAndExclusions) {
    EXPECT_EQ(All(u"*stub.ini"), (Strings{"stub.ini", "data\\xstub.ini"}));
    EXPECT_EQ(All(u"*Stub.*"), (Strings{"stub.ini", "Stub.jpg", "data\\xstub.ini"}));
    EXPECT_EQ(All(u"*.*").size(), 8u);
    // The name part alone may match.
    EXPECT_EQ(All(u"deep.txt"), (Strings{"x\\y\\deep.txt"}));
    // Exclusions are compared with '/' names: a '\' exclusion misses.
    EXPECT_EQ(All(u"*.ini", u"data/*"), (Strings{"stub.ini"}));
    EXPECT_EQ(All(u"*.ini", u"data\\*"), (Strings{"stub.ini", "data\\xstub.ini"}));
    // A drive in the mask is dropped; the rest keeps its leading separator.
    EXPECT_EQ(All(u"C:x\\y\\*.txt"), (Strings{"x\\y\\deep.txt"}));
    EXPECT_EQ(All(u"C:\\x\\y\\*.txt"), Strings{});
    a->Options.StorePath = TZAStorePathMode::spFullPathWithDrive;
    EXPECT_EQ(All(u"C:x\\y\\*.txt"), Strings{});
}

TEST_F(Search, AttributeFilter) {
    EXPECT_EQ(All(u"*.*", {}, 0).size(), 6u); // no folder, no hidden file
    EXPECT_EQ(All(u"hidden.txt", {}, 0), Strings{});
    EXPECT_EQ(All(u"hidden.txt", {}, kAttrHidden), (Strings{"hidden.txt"}));
}

TEST_F(Search, WithoutRecursion) {
    a->Options.Recurse = false;
    // Wildcards: only entries of the mask's own folder.
    EXPECT_EQ(All(u"*.txt"), (Strings{"hidden.txt", "top.txt"}));
    EXPECT_EQ(All(u"data/*.ini"), (Strings{"data\\xstub.ini"}));
    // Plain names are looked up exactly, in any case, without the attribute filter.
    EXPECT_EQ(All(u"DATA\\XSTUB.INI"), (Strings{"data\\xstub.ini"}));
    EXPECT_EQ(All(u"hidden.txt", {}, 0), (Strings{"hidden.txt"}));
    EXPECT_EQ(All(u"xstub.ini"), Strings{});
}

TEST_F(Search, ItemRecordAndItsEnd) {
    TZAArchiveItem item;
    ASSERT_TRUE(a->FindFirstItem(u"*deep*", item));
    EXPECT_EQ(item.FileName, u"deep.txt");
    EXPECT_EQ(item.FolderPath, u"x\\y\\");
    EXPECT_EQ(item.UnpackedSize, 1);
    EXPECT_EQ(item.PackedSize, 1);
    EXPECT_EQ(item.Ratio, 0);
    EXPECT_EQ(item.Crc32, klv::test::crc32Of("6"));
    EXPECT_EQ(item.DosDate, klv::test::dosDate(2024, 5, 17));
    EXPECT_EQ(item.Attributes, kAttrArchive);
    EXPECT_FALSE(item.Encrypted);
    // After the last match the public fields stay as they were.
    EXPECT_FALSE(a->FindNextItem(item));
    EXPECT_EQ(item.FileName, u"deep.txt");
    EXPECT_EQ(item.UnpackedSize, 1);
    // Folder entries lose their trailing separator.
    ASSERT_TRUE(a->FindFirstItem(u"data", item));
    EXPECT_EQ(item.FileName, u"data");
    EXPECT_EQ(item.FolderPath, u"");
    EXPECT_EQ(item.Ratio, 100);
}

TEST_F(Search, EnumerationsRunSideBySide) {
    TZAArchiveItem first, second;
    ASSERT_TRUE(a->FindFirstItem(u"*.ini", first));
    ASSERT_TRUE(a->FindFirstItem(u"*.txt", second));
    ASSERT_TRUE(a->FindNextItem(first));
    EXPECT_EQ(first.FileName, u"xstub.ini");
    ASSERT_TRUE(a->FindNextItem(second));
    EXPECT_EQ(second.FileName, u"deep.txt");
}

TEST_F(Search, LongMasksAreCut) {
    TZAArchiveItem item;
    std::u16string mask(300, u'*');
    EXPECT_TRUE(a->FindFirstItem(mask, item));
    EXPECT_EQ(item.Search.Mask[259], u'\0');
}

} // namespace
