// The version resource of an executable file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace klv::util {

class TVersionInfo {
  public:
    // Reads the file's version resource once. A file without one, or a missing file, gives
    // an empty object whose FileVersion is 0.
    explicit TVersionInfo(std::string_view fileName);
    ~TVersionInfo();
    TVersionInfo(const TVersionInfo&) = delete;
    TVersionInfo& operator=(const TVersionInfo&) = delete;

    // The file version: dwFileVersionMS in the high half, dwFileVersionLS in the low half;
    // 0 when there is no fixed file information.
    std::uint64_t FileVersion() const;
    // "major.minor.release.build", each part an unsigned 16-bit number.
    static std::string VersionText(std::uint64_t version);

    bool Valid() const { return FValid; }
    std::int32_t TranslationCount() const { return FTranslationCount; }

  private:
    std::unique_ptr<std::uint8_t[]> FBuffer; // the whole resource, as the system gave it
    bool FValid = false;
    const std::uint8_t* FFixedInfo = nullptr;    // the root "\" of the resource, in FBuffer
    const std::uint8_t* FTranslations = nullptr; // language and code-page pairs, in FBuffer
    std::int32_t FTranslationCount = 0;
};

} // namespace klv::util
