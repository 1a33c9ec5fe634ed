#include <windows.h>

#include <shlobj.h>

#include "platform/win32/kelvaro_view.h"
#include "platform/win32/real_services.h"

namespace klv::platform::win32 {

namespace {

// An item list the shell allocated, freed with the task allocator.
class ItemList {
  public:
    ItemList() = default;
    ~ItemList() { CoTaskMemFree(list_); }
    ItemList(const ItemList&) = delete;
    ItemList& operator=(const ItemList&) = delete;
    LPITEMIDLIST* Out() { return &list_; }
    LPCITEMIDLIST Get() const { return list_; }

  private:
    LPITEMIDLIST list_ = nullptr;
};

class RealFoldersImpl final : public Folders {
  public:
    std::string TempPath() override {
        char buffer[260] = {};
        DWORD n = GetTempPathA(sizeof buffer, buffer);
        if (n == 0 || n > sizeof buffer) return {};
        return std::string(buffer, n);
    }

    std::string WindowsDirectory() override {
        char buffer[255] = {};
        UINT n = GetWindowsDirectoryA(buffer, sizeof buffer);
        if (n == 0 || n > sizeof buffer) return {};
        return std::string(buffer, n);
    }

    std::string SpecialFolder(int folder) override {
        ItemList list;
        if (FAILED(SHGetSpecialFolderLocation(nullptr, Kelvaro32BitFolder(folder), list.Out())) || !list.Get())
            return {};
        char buffer[261] = {};
        if (!SHGetPathFromIDListA(list.Get(), buffer)) return {};
        buffer[sizeof buffer - 1] = '\0';
        return buffer;
    }
};

class RealDrivesImpl final : public Drives {
  public:
    std::uint32_t LogicalDrives() override { return GetLogicalDrives(); }

    unsigned DriveType(std::string_view root) override {
        std::string r(root);
        return GetDriveTypeA(r.c_str());
    }

    std::int64_t DiskSize(int drive) override {
        if (drive < 1 || drive > 26) return -1;
        char root[4] = {static_cast<char>('A' + drive - 1), ':', '\\', '\0'};
        ULARGE_INTEGER available, total, free;
        if (!GetDiskFreeSpaceExA(root, &available, &total, &free)) return -1;
        return static_cast<std::int64_t>(total.QuadPart);
    }

    unsigned ExchangeErrorMode(unsigned mode) override { return ::SetErrorMode(mode); }
};

} // namespace

Folders& RealFolders() {
    static RealFoldersImpl folders;
    return folders;
}

Drives& RealDrives() {
    static RealDrivesImpl drives;
    return drives;
}

} // namespace klv::platform::win32
