// A Disk for tests that changes the real files as the system's Disk does, so that a test
// overrides only the one change (or question) it makes fail, count or report.
#pragma once

#include "platform/disk.h"

namespace klv::test {

class SystemDiskBut : public platform::Disk {
  public:
    std::unique_ptr<platform::DiskFile> Create(const std::u16string& path,
                                               platform::DiskStatus& status) override {
        return platform::SystemDisk().Create(path, status);
    }
    std::unique_ptr<platform::DiskFile> Extend(const std::u16string& path,
                                               platform::DiskStatus& status) override {
        return platform::SystemDisk().Extend(path, status);
    }
    platform::DiskStatus Move(const std::u16string& from, const std::u16string& to) override {
        return platform::SystemDisk().Move(from, to);
    }
    platform::DiskStatus RemoveFile(const std::u16string& path) override {
        return platform::SystemDisk().RemoveFile(path);
    }
    platform::DiskStatus MakeFolder(const std::u16string& path) override {
        return platform::SystemDisk().MakeFolder(path);
    }
    platform::DiskStatus RemoveFolder(const std::u16string& path) override {
        return platform::SystemDisk().RemoveFolder(path);
    }
    platform::DiskStatus SetAttributes(const std::u16string& path,
                                       std::uint32_t attributes) override {
        return platform::SystemDisk().SetAttributes(path, attributes);
    }
};

} // namespace klv::test
