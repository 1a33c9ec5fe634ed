// The version resource of an executable, read through the fake machine's version service.
#include <gtest/gtest.h>

#include "fakes/fake_machine.h"
#include "util/VersionInfo.h"

using namespace klv;
using fakes::FakeMachine;
using klv::util::TVersionInfo;

TEST(VersionText, FourUnsignedParts) {
    EXPECT_EQ(TVersionInfo::VersionText(0), "0.0.0.0");
    EXPECT_EQ(TVersionInfo::VersionText(0x0003000000020001ull), "3.0.2.1");
    EXPECT_EQ(TVersionInfo::VersionText(0xFFFF0001FFFE0002ull), "65535.1.65534.2");
    EXPECT_EQ(TVersionInfo::VersionText(~0ull), "65535.65535.65535.65535");
}

TEST(TVersionInfo, ReadsTheFixedFileVersion) {
    FakeMachine m;
    m.AddFile("C:\\Kelvaro\\kelvaro.exe", 4096);
    m.SetFileVersion("C:\\Kelvaro\\kelvaro.exe", 0x00030000, 0x00020001, {0x04E40413, 0x04B00409});
    TVersionInfo info("c:\\kelvaro\\KELVARO.EXE");
    EXPECT_TRUE(info.Valid());
    EXPECT_EQ(info.FileVersion(), 0x0003000000020001ull);
    EXPECT_EQ(TVersionInfo::VersionText(info.FileVersion()), "3.0.2.1");
    EXPECT_EQ(info.TranslationCount(), 2);

    m.AddFile("C:\\Kelvaro\\max.exe");
    m.SetFileVersion("C:\\Kelvaro\\max.exe", 0xFFFFFFFF, 0xFFFF0000, {});
    TVersionInfo max("C:\\Kelvaro\\max.exe");
    EXPECT_EQ(TVersionInfo::VersionText(max.FileVersion()), "65535.65535.65535.0");
    EXPECT_EQ(max.TranslationCount(), 0);
}

TEST(TVersionInfo, NoResourceMeansVersionZero) {
    FakeMachine m;
    m.AddFile("C:\\Kelvaro\\plain.exe", 4096);
    TVersionInfo plain("C:\\Kelvaro\\plain.exe");
    EXPECT_FALSE(plain.Valid());
    EXPECT_EQ(TVersionInfo::VersionText(plain.FileVersion()), "0.0.0.0");

    TVersionInfo missing("C:\\Kelvaro\\missing.exe");
    EXPECT_FALSE(missing.Valid());
    EXPECT_EQ(missing.FileVersion(), 0u);

    m.AddFile("C:\\Kelvaro\\nofixed.exe");
    m.SetVersionWithoutFixedInfo("C:\\Kelvaro\\nofixed.exe");
    TVersionInfo noFixed("C:\\Kelvaro\\nofixed.exe");
    EXPECT_TRUE(noFixed.Valid());
    EXPECT_EQ(noFixed.FileVersion(), 0u);
}

TEST(TVersionInfo, AResourceThatCannotBeReadCountsAsNone) {
    FakeMachine m;
    m.AddFile("C:\\Kelvaro\\kelvaro.exe", 4096);
    m.SetFileVersion("C:\\Kelvaro\\kelvaro.exe", 0x00030000, 0x00020001);
    m.FailVersionReads();
    TVersionInfo info("C:\\Kelvaro\\kelvaro.exe");
    EXPECT_FALSE(info.Valid());
    EXPECT_EQ(info.FileVersion(), 0u);
}
