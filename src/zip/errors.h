#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <variant>
#include <vector>

namespace klv::zip {

// What an engine error names as its source: a component with a name that prefixes the
// message. The archiver is one; the errors know nothing else of it.
class TZAComponent {
  public:
    std::u16string Name; // the component's name; prefixes its error messages

  protected:
    TZAComponent() = default;
    ~TZAComponent() = default;
};

// The base of the engine's errors: a wide message, and what() in UTF-8.
class EZAError : public std::exception {
  public:
    explicit EZAError(std::u16string message);
    const std::u16string& Message() const { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

  private:
    std::u16string message_;
    std::string utf8_;
};

// A file that cannot be opened or created: the file stream's own error, with the system's
// error text ("Cannot open file \"%s\". %s", "Cannot create file \"%s\". %s").
class EFileStreamError : public EZAError {
  public:
    EFileStreamError(bool creating, const std::u16string& fileName, int systemError);
    int SystemError() const { return systemError_; }

  private:
    int systemError_;
};

// The raise-site codes (EZAException::NativeError) the engine and its tools use, by name;
// the numbers are the published ones, and errors.cpp maps each to its message.
enum TZANativeError : std::int32_t {
    nePutIndex = 1,               // directory: Put out of range
    neGetIndex = 2,               // directory: Get out of range
    neItemIndex = 3,              // directory: Item out of range
    neDeleteIndex = 4,            // directory: Delete out of range
    neCompressionMode = 5,        // a compression level outside 0..9
    neNotIntact = 8,              // an item's size, CRC-32 or method is wrong
    neBlankFileName = 9,          // Open() without a file name
    neBlankFileNameForMode = 10,  // Open(mode) without a file name
    neFileNotFound = 12,          // "File \"%s\" not found"
    neNotOpen = 13,               // an item operation on a closed archive
    neIndexOutOfBounds = 16,      // item-to-stream with a bad index
    neCannotCreateFile = 19,      // a target file cannot be created (or is refused)
    neCannotCreateDirectory = 20, // a target folder cannot be created
    neUpdateNotEnded = 26,        // an item operation inside an update batch
    neInMemoryCreateOnly = 28,    // opening an existing file as an in-memory archive
    neNoArchive = 35,             // a rebuild found no local header at all
    neNoZip64EndRecord = 40,      // the Zip64 locator points at no Zip64 end record
    neRebuildSpanned = 44,        // a rebuild of a split or spanned archive
    neVolumeDeclined = 45,        // the user or a handler declined to supply a volume
    neStubTooLarge = 47,          // the SFX stub does not fit on the first volume
    neArchiveDamaged = 48,        // the central directory is not where the end record says
    neDeflate64 = 55,             // Deflate64 items are not supported
    nePackedSizesTooLarge = 57,   // the items declare more data than the file holds
    neDuplicateName = 59,         // a rename onto a name already in the directory
    neFileNameTooLong = 61,       // "File name is too long"
    neDiskFull = 65,              // a short write without a disk-full handler
    neInvalidPassword = 67,       // an encrypted item without a valid password
    // The engine's own codes, beyond the published ones.
    neOverlappingItems = 80, // two items' local records overlap: the archive is refused at
                             // open ("Archive is damaged: items \"%s\" and \"%s\" overlap")
};

using TZAFormatArg = std::variant<std::u16string, std::int64_t>;

// Every failure the archive engine reports itself. NativeError is the raise site's code,
// ErrorCode the index of the message in the table.
class EZAException : public EZAError {
  public:
    EZAException(int nativeError, const TZAComponent* component);
    EZAException(int nativeError, const TZAComponent* component, std::vector<TZAFormatArg> args);

    std::int32_t ErrorCode;
    std::int32_t NativeError;
    // The system's error of the call that failed (a Windows error code), taken where the
    // error was raised; 0 when no system call failed.
    std::int32_t SystemError = 0;

    // The message-table index of a native code (0 for a code not in the table).
    static std::int32_t ErrorCodeOf(int nativeError);
    // The table text of an ErrorCode, unformatted ("Unknown error" when out of range).
    static std::u16string MessageText(std::int32_t errorCode);
    static std::u16string BuildMessage(int nativeError, const TZAComponent* component,
                                       const std::vector<TZAFormatArg>* args);
};

// Fills "%s" and "%d" (and "%%") from the arguments in order.
std::u16string FormatMessage(std::u16string_view format, const std::vector<TZAFormatArg>& args);

} // namespace klv::zip
