// Paths past the classic 260-character limit through the platform's own file operations, on the
// real Win32 API: the installation run's staging and backup folders lengthen every path.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/disk.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/tree_files.h"
#include "platform/win32/wide_path.h"

namespace klv::platform {
namespace {

TEST(LongPaths, OnlyLongAbsolutePathsTakeThePrefix) {
    using win32::WidePath;
    const std::u16string part(60, u'a');
    const std::u16string longTail = part + u"\\" + part + u"\\" + part + u"\\" + part + u".txt";
    EXPECT_EQ(WidePath(u"C:\\Kelvaro\\kelvaro.exe"), L"C:\\Kelvaro\\kelvaro.exe");
    const std::wstring tail(longTail.begin(), longTail.end());
    EXPECT_EQ(WidePath(u"C:/Kelvaro\\\\" + longTail), L"\\\\?\\C:\\Kelvaro\\" + tail);
    EXPECT_EQ(WidePath(u"\\\\server\\share\\" + longTail), L"\\\\?\\UNC\\server\\share\\" + tail);
    // Left to the system: a relative path, one with a ".." part, one already prefixed.
    for (const std::u16string& path :
         {u"Kelvaro\\" + longTail, u"C:\\Kelvaro\\..\\" + longTail, u"\\\\?\\C:\\" + longTail})
        EXPECT_EQ(WidePath(path), std::wstring(path.begin(), path.end()));
}

TEST(LongPaths, FoldersAndFilesPastTheClassicLimit) {
    wchar_t temp[MAX_PATH + 1];
    ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
    const std::wstring tempW(temp);
    const std::u16string base = std::u16string(tempW.begin(), tempW.end()) + u"klv-long-paths";
    RemoveTree(base);
    std::u16string folder = base;
    for (int i = 0; i < 5; ++i)
        folder += u"\\" + std::u16string(50, static_cast<char16_t>(u'a' + i));
    ASSERT_GT(folder.size(), 270u);
    ASSERT_TRUE(MakeFolders(SystemDisk(), folder).ok());
    EXPECT_TRUE(DirectoryExists(folder));
    const std::u16string file = folder + u"\\Genealogie overzicht.txt";
    {
        int error = 0;
        auto stream = FileStream::Open(file, fmCreate, error);
        ASSERT_TRUE(stream) << error;
        EXPECT_EQ(stream->Write("kelvaro", 7), 7);
    }
    const std::u16string moved = folder + u"\\verplaatst.txt";
    EXPECT_TRUE(MoveReplacing(file, moved));
    EXPECT_TRUE(FileExists(moved));
    EXPECT_FALSE(FileExists(file));
    EXPECT_TRUE(RemoveTree(base));
    EXPECT_FALSE(DirectoryExists(base));
}

} // namespace
} // namespace klv::platform
