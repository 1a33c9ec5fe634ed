#include "util/VersionInfo.h"

#include <cstdio>
#include <cstring>

#include "util/system_access.h"

namespace klv::util {

TVersionInfo::TVersionInfo(std::string_view fileName) {
    platform::VersionResources& versions = sys::Versions();
    std::uint32_t handle = 0;
    std::uint32_t size = versions.InfoSize(fileName, handle);
    if (size == 0) return;
    auto buffer = std::make_unique<std::uint8_t[]>(size);
    if (!versions.ReadInfo(fileName, handle, size, buffer.get())) return; // block released
    FBuffer = std::move(buffer);
    FValid = true;
    const void* value = nullptr;
    std::uint32_t length = 0;
    if (versions.QueryValue(FBuffer.get(), "\\", value, length) && value &&
        length >= sizeof(platform::FixedFileInfo))
        FFixedInfo = static_cast<const std::uint8_t*>(value);
    if (versions.QueryValue(FBuffer.get(), "\\VarFileInfo\\Translation", value, length) && value) {
        FTranslations = static_cast<const std::uint8_t*>(value);
        FTranslationCount = static_cast<std::int32_t>(length / 4);
    }
}

TVersionInfo::~TVersionInfo() {
    FBuffer.reset();
    FValid = false;
}

std::uint64_t TVersionInfo::FileVersion() const {
    if (!FValid || !FFixedInfo) return 0;
    platform::FixedFileInfo info;
    std::memcpy(&info, FFixedInfo, sizeof info);
    return (static_cast<std::uint64_t>(info.fileVersionMS) << 32) | info.fileVersionLS;
}

std::string TVersionInfo::VersionText(std::uint64_t version) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(version >> 48),
                  static_cast<unsigned>((version >> 32) & 0xFFFF),
                  static_cast<unsigned>((version >> 16) & 0xFFFF),
                  static_cast<unsigned>(version & 0xFFFF));
    return text;
}

} // namespace klv::util
