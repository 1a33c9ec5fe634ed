// Case mapping of whole strings, unit by unit through the system's own unit mapping.
#include "platform/text.h"

namespace klv::platform {

std::u16string LowerCase(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out)
        c = LowerUnit(c);
    return out;
}

std::u16string UpperCase(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out)
        c = UpperUnit(c);
    return out;
}

} // namespace klv::platform
