// Reading an archive's directory: the end record, Zip64 records, the central directory, the
// archive's start behind other data, and the rebuild from local headers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "zip/archiver.h"

namespace klv::zip {

class DirectoryLoader {
  public:
    DirectoryLoader(TZABaseArchiver& archiver, TZADirManager& manager)
        : a_(archiver), m_(manager) {}

    // Finds the end record in the last 65600 bytes; returns its file position.
    std::optional<std::int64_t> FindEndRecord();
    // Loads the directory, rebuilding it from local headers when it is unusable.
    void Load();
    // Makes a newly created, still empty archive a valid empty archive.
    void WriteEmptyDirectory();

  private:
    void ReadDirectory(std::int64_t endPosition);
    void ReadEntries(std::int64_t position, std::uint32_t count);
    void Rebuild();
    void DetectArchiveStart(std::int64_t endPosition, std::uint32_t count);
    void ShiftRelativeOffsets();
    // Takes the Zip64 values, the Unicode name and the AES block from the extra field;
    // returns the name the Unicode block replaced (empty when none).
    std::u16string InterpretExtra(TDirItem& item) const;
    std::u16string DecodeName(std::string_view raw, bool oem, bool detectUtf8) const;
    bool OemNamesFor(std::uint16_t flags, std::uint32_t endSignature) const;
    TZAStream& Stream() const { return *m_.Stream; }

    TZABaseArchiver& a_;
    TZADirManager& m_;
};

// The name decoding rules, exposed for tests: true when `bytes` hold at least one byte of
// 0x80 or above and are well-formed UTF-8 throughout.
bool IsUtf8Name(std::string_view bytes);

} // namespace klv::zip
