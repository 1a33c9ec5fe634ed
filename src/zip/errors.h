#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <variant>
#include <vector>

namespace klv::zip {

class TZABaseArchiver;

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

using TZAFormatArg = std::variant<std::u16string, std::int64_t>;

// Every failure the archive engine reports itself. NativeError is the raise site's code,
// ErrorCode the index of the message in the table.
class EZAException : public EZAError {
  public:
    EZAException(int nativeError, const TZABaseArchiver* component);
    EZAException(int nativeError, const TZABaseArchiver* component,
                 std::vector<TZAFormatArg> args);

    std::int32_t ErrorCode;
    std::int32_t NativeError;

    // The message-table index of a native code (0 for a code not in the table).
    static std::int32_t ErrorCodeOf(int nativeError);
    // The table text of an ErrorCode, unformatted ("Unknown error" when out of range).
    static std::u16string MessageText(std::int32_t errorCode);
    static std::u16string BuildMessage(int nativeError, const TZABaseArchiver* component,
                                       const std::vector<TZAFormatArg>* args);
};

// Fills "%s" and "%d" (and "%%") from the arguments in order.
std::u16string FormatMessage(std::u16string_view format, const std::vector<TZAFormatArg>& args);

} // namespace klv::zip
