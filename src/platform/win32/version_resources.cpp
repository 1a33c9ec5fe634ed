#include <windows.h>

#include <string>

#include "platform/win32/real_services.h"

namespace klv::platform::win32 {

namespace {

static_assert(sizeof(FixedFileInfo) == sizeof(VS_FIXEDFILEINFO));

// version.dll is no KnownDLL: a copy planted beside the package would be loaded in its place,
// so it is loaded from System32 only, on first use, and never linked.
struct VersionApi {
    decltype(&GetFileVersionInfoSizeA) infoSize = nullptr;
    decltype(&GetFileVersionInfoA) info = nullptr;
    decltype(&VerQueryValueA) query = nullptr;

    VersionApi() {
        HMODULE dll = LoadLibraryExA("version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!dll)
            return;
        infoSize = reinterpret_cast<decltype(infoSize)>(
            reinterpret_cast<void*>(GetProcAddress(dll, "GetFileVersionInfoSizeA")));
        info = reinterpret_cast<decltype(info)>(
            reinterpret_cast<void*>(GetProcAddress(dll, "GetFileVersionInfoA")));
        query = reinterpret_cast<decltype(query)>(
            reinterpret_cast<void*>(GetProcAddress(dll, "VerQueryValueA")));
    }
};

const VersionApi& Api() {
    static const VersionApi api;
    return api;
}

class RealVersionResourcesImpl final : public VersionResources {
  public:
    std::uint32_t InfoSize(std::string_view file, std::uint32_t& handle) override {
        std::string f(file);
        DWORD h = 0;
        DWORD size = Api().infoSize ? Api().infoSize(f.c_str(), &h) : 0;
        handle = h;
        return size;
    }

    bool ReadInfo(std::string_view file, std::uint32_t handle, std::uint32_t size,
                  void* block) override {
        std::string f(file);
        return Api().info && Api().info(f.c_str(), handle, size, block) != 0;
    }

    bool QueryValue(const void* block, std::string_view subBlock, const void*& value,
                    std::uint32_t& length) override {
        std::string s(subBlock);
        void* found = nullptr;
        UINT n = 0;
        if (!Api().query || !Api().query(block, s.c_str(), &found, &n)) {
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
