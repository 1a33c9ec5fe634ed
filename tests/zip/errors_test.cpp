#include <gtest/gtest.h>

#include "platform/text.h"
#include "zip/archiver.h"

using namespace klv::zip;

namespace {
std::string Utf8(const std::u16string& s) {
    return klv::platform::Utf16ToUtf8(s);
}
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
    EXPECT_EQ(Utf8(e.Message()), "Zip1: Cannot create file \"C:\\t\\a.txt\" - Native error: 00019");
    // A component without a name adds nothing.
    TZipArchive unnamed;
    EXPECT_EQ(
        Utf8(EZAException(neCannotCreateDirectory, &unnamed, {std::u16string(u"D")}).Message()),
        "Cannot create directory \"D\" - Native error: 00020");
}

TEST(EZAException, EveryRaiseSiteTellsWhatWentWrong) {
    // What a caller reads for each code the engine raises: a message of its own, never the
    // table's "Unknown error".
    // clang-format off
    const int sites[] = {
        nePutIndex, neGetIndex, neItemIndex, neDeleteIndex, neCompressionMode, neNotIntact,
        neBlankFileName, neBlankFileNameForMode, neFileNotFound, neNotOpen, neIndexOutOfBounds,
        neCannotCreateFile, neCannotCreateDirectory, neUpdateNotEnded, neInMemoryCreateOnly,
        neNoArchive, neNoZip64EndRecord, neRebuildSpanned, neVolumeDeclined, neStubTooLarge,
        neArchiveDamaged, neDeflate64, nePackedSizesTooLarge, neDuplicateName,
        neFileNameTooLong, neDiskFull, neInvalidPassword, neOverlappingItems};
    // clang-format on
    for (const int site : sites)
        EXPECT_NE(EZAException(site, nullptr).ErrorCode, 0) << "native " << site;
    EXPECT_EQ(Utf8(EZAException(neFileNameTooLong, nullptr, {std::u16string(u"x")}).Message()),
              "File name is too long: \r\n\"x\" - Native error: 00061");
    EXPECT_EQ(Utf8(EZAException(neInvalidPassword, nullptr).Message()),
              "Invalid password. Cannot decompress encrypted file. - Native error: 00067");
}

TEST(EZAException, FormatsNumbersAndPercent) {
    EXPECT_EQ(Utf8(FormatMessage(u"rfs.size = %d, count = %d, 100%%",
                                 {std::int64_t{-5}, std::int64_t{7}})),
              "rfs.size = -5, count = 7, 100%");
}
