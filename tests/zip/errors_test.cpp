#include <gtest/gtest.h>

#include "platform/text.h"
#include "zip/archiver.h"

using namespace klv::zip;

namespace {
std::string Utf8(const std::u16string& s) { return klv::platform::Utf16ToUtf8(s); }
} // namespace

TEST(EZAException, MessageCarriesTableTextAndFiveDigitNativeCode) {
    EXPECT_EQ(Utf8(EZAException(neNotOpen, nullptr).Message()),
              "Archive is not open - Native error: 00013");
    const int unmapped = 0; // the table's first row: no raise site
    EXPECT_EQ(Utf8(EZAException(unmapped, nullptr).Message()),
              "Unknown error - Native error: 00000");
    EXPECT_EQ(Utf8(EZAException(neArchiveDamaged, nullptr).Message()),
              "Archive is damaged. Open failed - Native error: 00048");
    // Unknown native codes map to "Unknown error" and keep their own digits.
    EZAException unknown(123456, nullptr);
    EXPECT_EQ(unknown.ErrorCode, 0);
    EXPECT_EQ(Utf8(unknown.Message()), "Unknown error - Native error: 123456");
}

TEST(EZAException, ComponentNamePrefixesFormattedMessage) {
    TZipArchive zip;
    zip.Name = u"Zip1";
    EZAException e(19, &zip, {std::u16string(u"C:\\t\\a.txt")});
    EXPECT_EQ(e.ErrorCode, 9);
    EXPECT_EQ(e.NativeError, neCannotCreateFile);
    EXPECT_EQ(Utf8(e.Message()),
              "Zip1: Cannot create file \"C:\\t\\a.txt\" - Native error: 00019");
    // A component without a name adds nothing.
    TZipArchive unnamed;
    EXPECT_EQ(
        Utf8(EZAException(neCannotCreateDirectory, &unnamed, {std::u16string(u"D")}).Message()),
        "Cannot create directory \"D\" - Native error: 00020");
}

TEST(EZAException, NativeCodesMapToTheirMessageClass) {
    struct Case {
        int native, code;
    } cases[] = {{1, 1},   {24, 1},  {5, 2},   {6, 3},   {8, 4},   {29, 5},  {54, 6},
                 {14, 7},  {17, 8},  {23, 9},  {20, 10}, {25, 11}, {33, 12}, {26, 13},
                 {27, 14}, {28, 15}, {32, 16}, {34, 17}, {35, 18}, {36, 19}, {37, 20},
                 {39, 21}, {40, 22}, {43, 23}, {45, 24}, {46, 25}, {47, 26}, {57, 27},
                 {49, 28}, {50, 29}, {51, 30}, {52, 31}, {55, 32}, {56, 33}, {59, 34},
                 {60, 35}, {61, 36}, {62, 37}, {64, 38}, {66, 39}, {67, 40}, {68, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(EZAException::ErrorCodeOf(c.native), c.code) << "native " << c.native;
    EXPECT_EQ(Utf8(EZAException::MessageText(36)), "File name is too long: \r\n\"%s\"");
    EXPECT_EQ(Utf8(EZAException::MessageText(40)),
              "Invalid password. Cannot decompress encrypted file.");
}

TEST(EZAException, FormatsNumbersAndPercent) {
    EXPECT_EQ(Utf8(FormatMessage(u"rfs.size = %d, count = %d, 100%%",
                                 {std::int64_t{-5}, std::int64_t{7}})),
              "rfs.size = -5, count = 7, 100%");
}
