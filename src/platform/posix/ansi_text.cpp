#include "platform/ansi_text.h"

#include <string>

#include "platform/text.h"

namespace klv::platform {

void UpperAnsiInPlace(char* text, std::size_t length) {
    std::u16string wide = AnsiToUtf16(std::string_view(text, length));
    for (std::size_t i = 0; i < length; ++i) {
        char16_t upper = UpperUnit(wide[i]);
        if (upper == wide[i]) continue;
        // Keep the byte when its upper-case form has no place in the code page.
        std::string back = Utf16ToAnsi(std::u16string_view(&upper, 1));
        if (AnsiToUtf16(back)[0] == upper) text[i] = back[0];
    }
}

bool SameTextAnsi(std::string_view a, std::string_view b) {
    return UpperCase(AnsiToUtf16(a)) == UpperCase(AnsiToUtf16(b));
}

} // namespace klv::platform
