#include "platform/text.h"

#include <windows.h>

// winuser.h names a macro after the old OEM conversion call.
#undef OemToAnsi

namespace klv::platform {

namespace {
std::u16string FromCodePage(UINT cp, std::string_view s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return std::u16string(w.begin(), w.end());
}

std::string ToCodePage(UINT cp, std::u16string_view s) {
    if (s.empty()) return {};
    std::wstring w(s.begin(), s.end());
    int n = WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}
} // namespace

std::string OemToAnsi(std::string_view oem) {
    std::string out(oem);
    if (!out.empty()) OemToCharBuffA(out.data(), out.data(), static_cast<DWORD>(out.size()));
    return out;
}

std::u16string AnsiToUtf16(std::string_view ansi) { return FromCodePage(CP_ACP, ansi); }
std::string Utf16ToAnsi(std::u16string_view text) { return ToCodePage(CP_ACP, text); }
std::u16string Utf8ToUtf16(std::string_view utf8) { return FromCodePage(CP_UTF8, utf8); }
std::string Utf16ToUtf8(std::u16string_view text) { return ToCodePage(CP_UTF8, text); }

char16_t UpperUnit(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    wchar_t w = static_cast<wchar_t>(c);
    CharUpperBuffW(&w, 1);
    return static_cast<char16_t>(w);
}

char16_t LowerUnit(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    wchar_t w = static_cast<wchar_t>(c);
    CharLowerBuffW(&w, 1);
    return static_cast<char16_t>(w);
}

bool SameInLocale(char16_t a, char16_t b) {
    if (a == b) return true;
    wchar_t x = static_cast<wchar_t>(a), y = static_cast<wchar_t>(b);
    int r = CompareStringW(LOCALE_USER_DEFAULT, 0, &x, 1, &y, 1);
    if (r == 0) {
        char ca = static_cast<char>(a), cb = static_cast<char>(b);
        r = CompareStringA(LOCALE_USER_DEFAULT, 0, &ca, 1, &cb, 1);
    }
    return r == CSTR_EQUAL;
}

} // namespace klv::platform
