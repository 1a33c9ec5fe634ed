// The installation folder as Kelvaro 3 itself finds it: its VirtualStore first (where Windows
// kept what it wrote to HKEY_LOCAL_MACHINE), then the machine's key; both read-only.
#include <gtest/gtest.h>

#include "app/uMain.h"
#include "fakes/fake_machine.h"

using namespace klv;
using fakes::FakeMachine;
using platform::RootKey;

namespace {

const std::string Store64 = "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\KLV";
const std::string Store32 = "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\KLV";

struct Found {
    std::string folder, date, setup;
};

Found Read() {
    Found f;
    app::ReadInstallRegistry("Kelvaro", f.folder, f.date, f.setup);
    return f;
}

} // namespace

TEST(VirtualStore, PathsOnSixtyFourAndThirtyTwoBitWindows) {
    EXPECT_EQ(platform::VirtualStoreKeyOf("\\SOFTWARE\\KLV\\", true), Store64);
    EXPECT_EQ(platform::VirtualStoreKeyOf("\\SOFTWARE\\KLV\\", false), Store32);
    EXPECT_EQ(platform::VirtualStoreKeyOf("software\\Klv", true),
              "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\Klv");
    // Only SOFTWARE has a 32-bit view.
    EXPECT_EQ(platform::VirtualStoreKeyOf("SYSTEM\\KLV", true),
              "Software\\Classes\\VirtualStore\\MACHINE\\SYSTEM\\KLV");
    EXPECT_EQ(platform::VirtualStoreKeyOf("SOFTWAREX\\KLV", true),
              "Software\\Classes\\VirtualStore\\MACHINE\\SOFTWAREX\\KLV");
}

TEST(InstallRegistry, TheVirtualStoreComesFirstWhenItsFolderExists) {
    FakeMachine m;
    m.AddDrive('D', platform::dkFixed);
    m.AddFolder("C:\\Kelvaro3");
    m.AddFolder("D:\\Mijn Kelvaro");
    // Neither the machine's key nor the user's may be opened for writing: read-only suffices.
    m.DenyFullAccess(RootKey::LocalMachine);
    m.DenyFullAccess(RootKey::CurrentUser);
    EXPECT_EQ(Read().folder, "");

    m.SetRegistryText(RootKey::LocalMachine, "SOFTWARE\\KLV", "Kelvaro", "C:\\Kelvaro3");
    m.SetRegistryText(RootKey::LocalMachine, "SOFTWARE\\KLV", "Kelvarodatum", "20200101");
    Found f = Read();
    EXPECT_EQ(f.folder, "C:\\Kelvaro3");
    EXPECT_EQ(f.date, "20200101");

    // An empty store key, or its value naming no existing folder: the machine's value.
    m.AddRegistryKey(RootKey::CurrentUser, Store64);
    EXPECT_EQ(Read().folder, "C:\\Kelvaro3");
    m.SetRegistryText(RootKey::CurrentUser, Store64, "Kelvaro", "D:\\Weg");
    EXPECT_EQ(Read().folder, "C:\\Kelvaro3");
    EXPECT_EQ(Read().date, "20200101");

    // Its value names an existing folder: the store's, with the store's other values.
    m.SetRegistryText(RootKey::CurrentUser, Store64, "Kelvaro", "D:\\Mijn Kelvaro");
    m.SetRegistryText(RootKey::CurrentUser, Store64, "Kelvarosetup", "3.1");
    f = Read();
    EXPECT_EQ(f.folder, "D:\\Mijn Kelvaro");
    EXPECT_EQ(f.date, "");
    EXPECT_EQ(f.setup, "3.1");
    EXPECT_EQ(app::DefaultFolder(), "D:\\Mijn Kelvaro");

    // On 32-bit Windows the store has no WOW6432Node: the key above is not Kelvaro's.
    m.SetWindows64(false);
    EXPECT_EQ(Read().folder, "C:\\Kelvaro3");
    m.SetRegistryText(RootKey::CurrentUser, Store32, "Kelvaro", "D:\\Mijn Kelvaro");
    EXPECT_EQ(Read().folder, "D:\\Mijn Kelvaro");
}
