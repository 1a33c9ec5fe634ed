#include "zip/errors.h"

#include <array>
#include <utility>

#include "platform/file_stream.h"
#include "platform/text.h"

namespace klv::zip {

namespace {

constexpr std::array<const char16_t*, 42> kMessages = {
    u"Unknown error",
    u"Index out of bounds",
    u"Invalid compression mode. Mode must be in [0-9] range",
    u"Unexpected nil pointer",
    u"Invalid size or check sum of file or unsupported compression format",
    u"File name is blank. Specify appropriate file name",
    u"File \"%s\" not found",
    u"Archive is not open",
    u"SFXStub property is not specified",
    u"Cannot create file \"%s\"",
    u"Cannot create directory \"%s\"",
    u"Internal error. Update is not started",
    u"Cannot open file \"%s\"",
    u"Cannot proceed when update is not ended. Preceding EndUpdate call is required.",
    u"Cannot delete file \"%s\"",
    u"In-memory archive can be created only",
    u"File is open in read-only mode",
    u"Invalid compressed size, rfs.size = %d, count = %d",
    u"Invalid archive file.",
    u"Cannot create output file. Probably file is locked by another process. FileName = '%s'.",
    u"Archive is open. You should close it beore performing this operation.",
    u"Unable to create directory",
    u"Cannot find 64-bit directory end record",
    u"Cannot compress file '%s'. Zip64 mode is not enabled",
    u"Cannot open archive file. Opening aborted or invalid file",
    u"Write to stream error",
    u"Cannot place SFX stub on volume. Volume size limit is too small",
    u"Archive is damaged. Open failed",
    u"MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive "
    u"creation instead of MakeSFX",
    u"Archive already has SFX stub",
    u"Multi-volume archive is not allowed for custom stream",
    u"Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods "
    u"to add files several times",
    u"Deflate64 compression method is not supported",
    u"MakeSFX error",
    u"Hashed list of file names is invalid",
    u"Cannot delete folder \"%s\"",
    u"File name is too long: \r\n\"%s\"",
    u"Multiple transactions are not supported for multi-volume archives",
    u"Invalid InitVector index = %d. Index should be >= 0 and < %d",
    u"Disk is full. There is not enough free space on disk.",
    u"Invalid password. Cannot decompress encrypted file.",
    u"Archive is damaged: items \"%s\" and \"%s\" overlap",
};

// (native code, ErrorCode), searched from the start.
constexpr std::array<std::pair<int, int>, 69> kNativeMap = {{
    {0, 0},   {1, 1},   {2, 1},   {3, 1},   {4, 1},   {7, 1},   {16, 1},  {21, 1},  {24, 1},
    {5, 2},   {6, 3},   {8, 4},   {9, 5},   {10, 5},  {29, 5},  {11, 6},  {12, 6},  {15, 6},
    {18, 6},  {30, 6},  {31, 6},  {38, 6},  {42, 6},  {53, 6},  {54, 6},  {13, 7},  {14, 7},
    {17, 8},  {19, 9},  {23, 9},  {20, 10}, {22, 11}, {25, 11}, {33, 12}, {26, 13}, {27, 14},
    {28, 15}, {32, 16}, {34, 17}, {35, 18}, {36, 19}, {37, 20}, {39, 21}, {40, 22}, {41, 23},
    {43, 23}, {44, 24}, {45, 24}, {46, 25}, {47, 26}, {48, 27}, {57, 27}, {49, 28}, {50, 29},
    {51, 30}, {52, 31}, {55, 32}, {56, 33}, {58, 34}, {59, 34}, {60, 35}, {61, 36}, {62, 37},
    {63, 38}, {64, 38}, {65, 39}, {66, 39}, {67, 40}, {80, 41},
}};

std::u16string Ascii(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

} // namespace

EZAError::EZAError(std::u16string message)
    : message_(std::move(message)), utf8_(platform::Utf16ToUtf8(message_)) {}

EFileStreamError::EFileStreamError(bool creating, const std::u16string& fileName, int systemError)
    : EZAError(FormatMessage(
          creating ? u"Cannot create file \"%s\". %s" : u"Cannot open file \"%s\". %s",
          {fileName, platform::AnsiToUtf16(platform::SystemErrorText(systemError))})),
      systemError_(systemError) {}

std::u16string FormatMessage(std::u16string_view format, const std::vector<TZAFormatArg>& args) {
    std::u16string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        char16_t c = format[i];
        if (c == u'%' && i + 1 < format.size()) {
            char16_t f = format[i + 1];
            if (f == u'%') {
                out.push_back(u'%');
                ++i;
                continue;
            }
            if (f == u's' || f == u'd') {
                if (next < args.size()) {
                    const auto& a = args[next++];
                    if (const auto* s = std::get_if<std::u16string>(&a))
                        out += *s;
                    else
                        out += Ascii(std::to_string(std::get<std::int64_t>(a)));
                }
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
    return out;
}

std::int32_t EZAException::ErrorCodeOf(int nativeError) {
    for (const auto& [native, code] : kNativeMap)
        if (native == nativeError) return code;
    return 0;
}

std::u16string EZAException::MessageText(std::int32_t errorCode) {
    if (errorCode < 0 || errorCode >= static_cast<std::int32_t>(kMessages.size()))
        return kMessages[0];
    return kMessages[static_cast<std::size_t>(errorCode)];
}

std::u16string EZAException::BuildMessage(int nativeError, const TZAComponent* component,
                                          const std::vector<TZAFormatArg>* args) {
    std::u16string text = MessageText(ErrorCodeOf(nativeError));
    if (args) text = FormatMessage(text, *args);
    if (component && !component->Name.empty()) text = component->Name + u": " + text;
    // "%5d" with every space replaced by '0'.
    std::string digits = std::to_string(nativeError);
    if (digits.size() < 5) digits.insert(0, 5 - digits.size(), ' ');
    for (char& d : digits)
        if (d == ' ') d = '0';
    return text + u" - Native error: " + Ascii(digits);
}

EZAException::EZAException(int nativeError, const TZAComponent* component)
    : EZAError(BuildMessage(nativeError, component, nullptr)), ErrorCode(ErrorCodeOf(nativeError)),
      NativeError(nativeError) {}

EZAException::EZAException(int nativeError, const TZAComponent* component,
                           std::vector<TZAFormatArg> args)
    : EZAError(BuildMessage(nativeError, component, &args)), ErrorCode(ErrorCodeOf(nativeError)),
      NativeError(nativeError) {}

} // namespace klv::zip
