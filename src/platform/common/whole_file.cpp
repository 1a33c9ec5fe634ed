// Reading a whole file, over the file stream of this platform.
#include "platform/file_stream.h"

namespace klv::platform {

bool ReadWholeFile(const std::u16string& path, std::string& data, int& error) {
    auto stream = FileStream::Open(path, fmOpenRead | fmShareDenyNone, error);
    if (!stream) return false;
    char buffer[65536];
    for (std::int64_t n; (n = stream->Read(buffer, sizeof buffer)) > 0;)
        data.append(buffer, static_cast<std::size_t>(n));
    return true;
}

} // namespace klv::platform
