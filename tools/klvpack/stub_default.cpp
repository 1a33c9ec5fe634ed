#include "stub_default.h"

#include "platform/disk.h"
#include "platform/files.h"
#include "platform/text.h"

namespace klv::klvpack {

std::vector<std::u16string> DefaultStubPlaces() {
    std::vector<std::u16string> places;
    const std::u16string self = platform::ExecutablePath();
    const std::size_t slash = self.find_last_of(u"\\/");
    if (slash != std::u16string::npos)
        places.push_back(self.substr(0, slash + 1) + u"klvupgradeStub.exe");
#ifdef KLV_STUB32
    const std::u16string configured = platform::Utf8ToUtf16(KLV_STUB32);
    if (!configured.empty() && (places.empty() || places.front() != configured))
        places.push_back(configured);
#endif
    return places;
}

std::optional<std::u16string> FirstExisting(const std::vector<std::u16string>& places) {
    for (const std::u16string& place : places)
        if (platform::SystemDisk().IsFile(place)) return place;
    return std::nullopt;
}

} // namespace klv::klvpack
