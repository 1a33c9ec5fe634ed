#include "open_failure.h"

#include "platform/disk.h"
#include "platform/text.h"
#include "zip/errors.h"

namespace klv::klvpack {

std::string CannotOpenText(const std::u16string& path, const zip::EZAError& error) {
    const std::string name = platform::Utf16ToUtf8(path);
    // The words first; the engine's message (with its native code, which scripts read) after.
    if (platform::SystemDisk().IsFolder(path))
        return name + " is a folder, not an archive (" + error.what() + ")";
    if (!platform::SystemDisk().IsFile(path))
        return name + ": there is no such file (" + error.what() + ")";
    const auto* engine = dynamic_cast<const zip::EZAException*>(&error);
    if (engine && engine->NativeError == zip::neNoArchive)
        return name +
               " is neither an update package nor a ZIP archive: no archive was found in "
               "it (" +
               error.what() + ")";
    return name + ": " + error.what();
}

} // namespace klv::klvpack
