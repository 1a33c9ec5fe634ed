#include "platform/text.h"

#include <array>
#include <clocale>
#include <cwctype>
#include <iconv.h>
#include <locale.h>
#include <memory>
#include <vector>

namespace klv::platform {

namespace {

// A single-byte code page as a table to UTF-16, built once through iconv. Bytes that the
// code page leaves undefined map to the code point of the same value, as Windows does.
std::array<char16_t, 256> BuildTable(const char* codePage) {
    std::array<char16_t, 256> table{};
    iconv_t cd = iconv_open("UTF-16LE", codePage);
    for (int b = 0; b < 256; ++b) {
        table[b] = static_cast<char16_t>(b);
        if (cd == reinterpret_cast<iconv_t>(-1)) continue;
        char in = static_cast<char>(b);
        unsigned char out[4] = {};
        char* inp = &in;
        size_t inLeft = 1;
        char* outp = reinterpret_cast<char*>(out);
        size_t outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) &&
            outLeft == 2)
            table[b] = static_cast<char16_t>(out[0] | (out[1] << 8));
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    return table;
}

struct CodePages {
    std::array<char16_t, 256> ansi = BuildTable("CP1252");
    std::array<char16_t, 256> oem = BuildTable("CP850");
    std::vector<unsigned char> fromUnicode; // 65536 entries, '?' where 1252 has no byte
    std::array<unsigned char, 256> oemToAnsi{};
    CodePages() : fromUnicode(65536, '?') {
        for (int b = 255; b >= 0; --b)
            fromUnicode[ansi[b]] = static_cast<unsigned char>(b);
        for (int b = 0; b < 256; ++b)
            oemToAnsi[b] = fromUnicode[oem[b]];
    }
};

const CodePages& Pages() {
    static const CodePages pages;
    return pages;
}

locale_t Utf8Locale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
        return l;
    }();
    return loc;
}

} // namespace

std::string OemToAnsi(std::string_view oem) {
    const auto& p = Pages();
    std::string out(oem.size(), '\0');
    for (size_t i = 0; i < oem.size(); ++i)
        out[i] = static_cast<char>(p.oemToAnsi[static_cast<unsigned char>(oem[i])]);
    return out;
}

std::u16string AnsiToUtf16(std::string_view ansi) {
    const auto& p = Pages();
    std::u16string out(ansi.size(), u'\0');
    for (size_t i = 0; i < ansi.size(); ++i)
        out[i] = p.ansi[static_cast<unsigned char>(ansi[i])];
    return out;
}

std::string Utf16ToAnsi(std::u16string_view text) {
    const auto& p = Pages();
    std::string out(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i)
        out[i] = static_cast<char>(p.fromUnicode[text[i]]);
    return out;
}

std::u16string Utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    const size_t n = s.size();
    auto cont = [&](size_t k) {
        return k < n && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80;
    };
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if (c >= 0xC2 && c <= 0xDF && cont(i + 1)) {
            cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF && cont(i + 1) && cont(i + 2)) {
            cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            len = 3;
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        } else if (c >= 0xF0 && c <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) |
                 (s[i + 3] & 0x3F);
            len = 4;
            if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
        } else {
            cp = 0xFFFD;
            len = 1;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

char16_t UpperUnit(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    wint_t u = towupper_l(c, Utf8Locale());
    return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

char16_t LowerUnit(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    wint_t u = towlower_l(c, Utf8Locale());
    return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

bool SameInLocale(char16_t a, char16_t b) { return a == b; }

} // namespace klv::platform
