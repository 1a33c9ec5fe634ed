// The directory reader: an archive's records in, its entries out. The end record, Zip64
// records, the central directory, the archive's start behind other data, the rebuild from
// local headers, and the checks that the records describe each item once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "zip/directory.h"
#include "zip/errors.h"
#include "zip/records.h"
#include "zip/streams.h"

namespace klv::zip {

// How to read: the signature set, the name code page, what to do with a damaged directory.
struct TZADirectorySettings {
    bool standardSignatures = true;
    bool oemNames = true;     // names without the UTF-8 flag are in the OEM code page
    bool tolerant = true;     // an unusable central directory is rebuilt from local headers
    bool multiVolume = false; // a split or spanned archive
    const TZAComponent* component = nullptr; // names the errors' messages
};

// The volumes of a split or spanned archive, as the reader asks for them.
class TZAVolumes {
  public:
    virtual ~TZAVolumes() = default;
    // The end record's volume: the last one, where reading starts.
    virtual void SetLastVolume(std::int32_t number) = 0;
    virtual std::int32_t Current() const = 0;
    // Opens a volume (asking for it where the medium is removable); raises when declined.
    virtual TZAStream& Open(std::int32_t number) = 0;
};

class TZADirectoryReader {
  public:
    // Reads `manager.Stream` into `manager`; `volumes` may be null for a one-volume archive.
    TZADirectoryReader(const TZADirectorySettings& settings, TZAVolumes* volumes,
                       TZADirManager& manager)
        : s_(settings), volumes_(volumes), m_(manager) {}

    // Finds the end record in the last 65600 bytes; returns its file position.
    std::optional<std::int64_t> FindEndRecord();
    // Loads the directory, rebuilding it from local headers when it is unusable.
    void Load();
    // Makes a newly created, still empty archive a valid empty archive.
    void WriteEmptyDirectory();

  private:
    // Reads the Zip64 locator and end record before the end record, where they are; returns
    // the position the end records start at.
    std::int64_t ReadZip64Records(std::int64_t endPosition);
    void ReadDirectory(std::int64_t endPosition);
    void ReadEntries(std::int64_t position, std::uint32_t count);
    void Rebuild();
    // The name and extra field behind the local header at `position`, taken into `item` as a
    // central record's would be.
    void ReadLocalNameAndExtra(TDirItem& item, const LocalHeader& local, std::int64_t position);
    void DetectArchiveStart(std::int64_t endPosition, std::uint32_t count);
    // True when offsets were moved.
    bool ShiftRelativeOffsets();
    // Takes the Zip64 values, the Unicode name and the AES block from the extra field;
    // returns the name the Unicode block replaced (empty when none).
    std::u16string InterpretExtra(TDirItem& item) const;
    std::u16string DecodeName(std::string_view raw, bool oem, bool detectUtf8) const;
    bool OemNamesFor(std::uint16_t flags, std::uint32_t endSignature) const;
    void OpenVolume(std::int32_t number);
    TZAStream& Stream() const { return *m_.Stream; }
    const SignatureSet& Signatures() const {
        return s_.standardSignatures ? kStandardSignatures : kAlternativeSignatures;
    }

    TZADirectorySettings s_;
    TZAVolumes* volumes_;
    TZADirManager& m_;
    TZARecordOrder order_{false, false}; // the central records as they are read
};

// The name decoding rules, exposed for tests: true when `bytes` hold at least one byte of
// 0x80 or above and are well-formed UTF-8 throughout.
bool IsUtf8Name(std::string_view bytes);

} // namespace klv::zip
