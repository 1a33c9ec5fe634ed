#include "platform/ansi_text.h"

#include <windows.h>

namespace klv::platform {

void UpperAnsiInPlace(char* text, std::size_t length) {
    if (length > 0) CharUpperBuffA(text, static_cast<DWORD>(length));
}

bool SameTextAnsi(std::string_view a, std::string_view b) {
    return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                          static_cast<int>(a.size()), b.data(),
                          static_cast<int>(b.size())) == CSTR_EQUAL;
}

} // namespace klv::platform
