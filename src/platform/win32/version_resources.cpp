#include <windows.h>

#include <string>

#include "platform/win32/real_services.h"

namespace klv::platform::win32 {

namespace {

static_assert(sizeof(FixedFileInfo) == sizeof(VS_FIXEDFILEINFO));

class RealVersionResourcesImpl final : public VersionResources {
  public:
    std::uint32_t InfoSize(std::string_view file, std::uint32_t& handle) override {
        std::string f(file);
        DWORD h = 0;
        DWORD size = GetFileVersionInfoSizeA(f.c_str(), &h);
        handle = h;
        return size;
    }

    bool ReadInfo(std::string_view file, std::uint32_t handle, std::uint32_t size,
                  void* block) override {
        std::string f(file);
        return GetFileVersionInfoA(f.c_str(), handle, size, block) != 0;
    }

    bool QueryValue(const void* block, std::string_view subBlock, const void*& value,
                    std::uint32_t& length) override {
        std::string s(subBlock);
        void* found = nullptr;
        UINT n = 0;
        if (!VerQueryValueA(block, s.c_str(), &found, &n)) {
            value = nullptr;
            length = 0;
            return false;
        }
        value = found;
        length = n;
        return true;
    }
};

} // namespace

VersionResources& RealVersionResources() {
    static RealVersionResourcesImpl versions;
    return versions;
}

} // namespace klv::platform::win32
