// The text helpers: substring search in four directions, the text between two markers, and
// the small path and list helpers.
#include <gtest/gtest.h>

#include "util/FastStrings.h"
#include "util/ascii_text.h"
#include "util/assertion.h"
#include "util/filez.h"
#include "util/meldunit.h"

using namespace klv::util;

TEST(SmartFind, ForwardFindsTheFirstOccurrenceAtOrAfterTheStart) {
    //                          123456789012
    const std::string source = "abcABCabcABC";
    EXPECT_EQ(SmartFind("abc", source, true, 1, true), 1);
    EXPECT_EQ(SmartFind("abc", source, true, 2, true), 7);
    EXPECT_EQ(SmartFind("abc", source, true, 7, true), 7);
    EXPECT_EQ(SmartFind("abc", source, true, 8, true), 0);
    EXPECT_EQ(SmartFind("ABC", source, true, 11, true), 0); // only two characters left
    EXPECT_EQ(SmartFind("abc", source, false, 2, true), 4);
    EXPECT_EQ(SmartFind("ABC", source, false, 10, true), 10);
    EXPECT_EQ(SmartFind("x", source, false, 1, true), 0);
    EXPECT_EQ(SmartFind("", source, true, 1, true), 0);
    EXPECT_EQ(SmartFind("abcABCabcABCa", source, true, 1, true), 0);
}

TEST(SmartFind, BackwardFindsTheLastOccurrenceAtOrBeforeTheStart) {
    const std::string source = "abcABCabcABC";
    EXPECT_EQ(SmartFind("abc", source, true, 0, false), 7); // 0: from the end
    EXPECT_EQ(SmartFind("abc", source, true, 6, false), 1);
    EXPECT_EQ(SmartFind("abc", source, true, 7, false), 7);
    EXPECT_EQ(SmartFind("abc", source, true, 50, false), 7); // past the end: from the end
    EXPECT_EQ(SmartFind("abc", source, false, 0, false), 10);
    EXPECT_EQ(SmartFind("abc", source, false, 8, false), 7);
    EXPECT_EQ(SmartFind("abc", source, false, 9, false), 10); // 9 + 3 reaches the length
    EXPECT_EQ(SmartFind("ABC", source, true, 3, false), 0);
    EXPECT_EQ(SmartFind("", source, true, 0, false), 0);
    EXPECT_EQ(SmartFind("abcABCabcABCa", source, false, 0, false), 0);
    // A start at which start plus length reaches the source length counts from the end.
    EXPECT_EQ(SmartFind("c", "cc", true, 1, false), 2);
}

TEST(SmartFind, ForwardStartBelowOneIsACallerError) {
    try {
        SmartFind("a", "abc", true, 0, true);
        FAIL() << "no assertion";
    } catch (const AssertionFailure& e) {
        EXPECT_EQ(e.Module(), "FastStrings");
    }
}

TEST(SmartFind, CaseInsensitiveSearchUsesTheAnsiUpperCaseMap) {
    EXPECT_EQ(UpperCaseMap[0], 0);
    EXPECT_EQ(UpperCaseMap['a'], 'A');
    EXPECT_EQ(UpperCaseMap['Z'], 'Z');
    EXPECT_EQ(UpperCaseMap['1'], '1');
    EXPECT_EQ(UpperCaseMap[0xEF], 0xCF); // i with diaeresis
    EXPECT_EQ(UpperCaseMap[0xE9], 0xC9); // e acute
    EXPECT_EQ(SmartFind("GE\xCFNSTALLEERD", "Niet ge\xEFnstalleerd", false, 1, true), 6);
    EXPECT_EQ(SmartFind("GE\xCFNSTALLEERD", "Niet ge\xEFnstalleerd", true, 1, true), 0);
}

TEST(TextBetween, TakesTheTextBetweenPrefixAndSuffix) {
    EXPECT_EQ(TextBetween("Kelvaro Update 3.0.2.1]", "Update *]", "none", true), "3.0.2.1");
    EXPECT_EQ(TextBetween("Kelvaro update 3.0.2.1]", "Update *]", "none", true), "none");
    EXPECT_EQ(TextBetween("Kelvaro update 3.0.2.1]", "Update *]", "none", false), "3.0.2.1");
    EXPECT_EQ(TextBetween("Update ]", "Update *]", "none", true), "none");   // nothing between
    EXPECT_EQ(TextBetween("Update 3.0", "Update *]", "none", true), "none"); // no suffix
    EXPECT_EQ(TextBetween("Update 3.0]", "Update ]", "none", true), "none"); // no '*'
    // The suffix is searched only after the prefix.
    EXPECT_EQ(TextBetween("] [Update 1.2] [", "[Update *]", "-", true), "1.2");
    EXPECT_EQ(TextBetween("[a][b]", "[*]", "-", true), "a");
}

TEST(PathText, TrailingBackslashLowerTrimAndEndings) {
    EXPECT_EQ(WithTrailingBackslash(""), "");
    EXPECT_EQ(WithTrailingBackslash("C:\\x"), "C:\\x\\");
    EXPECT_EQ(WithTrailingBackslash("C:\\x\\"), "C:\\x\\");

    EXPECT_EQ(LowerTrim(" \t\r\n.HTM Page\x01 "), ".htm page");
    EXPECT_EQ(LowerTrim("\xC9T\xC9"), "\xC9t\xC9"); // only A-Z change
    EXPECT_EQ(LowerTrim("   "), "");
    EXPECT_EQ(Trim("\x01 Kelvaro  Upgrade \r\n"), "Kelvaro  Upgrade"); // case and inner blanks kept

    EXPECT_TRUE(EndsWithText("D:\\Pictures\\Thumbnails", "thumbnails"));
    EXPECT_TRUE(EndsWithText("D:\\Pictures\\THUMBNAILS\\", "thumbnails\\"));
    EXPECT_FALSE(EndsWithText("D:\\Pictures\\Thumbnails2", "thumbnails"));
    EXPECT_FALSE(EndsWithText("", "thumbnails"));
    EXPECT_FALSE(EndsWithText("nails", "thumbnails"));
    EXPECT_TRUE(EndsWithText("x", ""));
}

TEST(SmallHelpers, NumbersAndCapitals) {
    EXPECT_EQ(IntText(0), "0");
    EXPECT_EQ(IntText(-42), "-42");
    EXPECT_EQ(IntText(2147483647), "2147483647");
    EXPECT_EQ(LargerOf(-3, -7), -3);
    EXPECT_EQ(LargerOf(5, 9), 9);
    EXPECT_EQ(CapitalizeFirst(""), "");
    EXPECT_EQ(CapitalizeFirst("nu zoeken"), "Nu zoeken");
    EXPECT_EQ(CapitalizeFirst("\xEB"
                              "en"),
              "\xEB"
              "en"); // only a-z
    EXPECT_EQ(CapitalizeFirst("Al"), "Al");
}

TEST(DistinctList, KeepsTheFirstOfEntriesThatDifferOnlyInCase) {
    std::vector<std::string> list = {"c:\\Kelvaro\\kelvaro.exe",
                                     "D:\\a",
                                     "C:\\KELVARO\\KELVARO.EXE",
                                     "d:\\A",
                                     "\xC9\xE9n",
                                     "\xE9\xC9N",
                                     "e"};
    EXPECT_EQ(DistinctList(list),
              (std::vector<std::string>{"c:\\Kelvaro\\kelvaro.exe", "D:\\a", "\xC9\xE9n", "e"}));
    EXPECT_TRUE(DistinctList({}).empty());
}
