// std::snprintf reaches mingw-w64's own printf (__mingw_vsnprintf), which brings its
// floating-point formatting (about 17 KB) into every package. The stub formats only integers
// and strings (widths, zero fill, %d %u %x %X %s with the l modifier), which msvcrt's
// _vsnprintf formats alike; this definition, linked as an object of the program, takes the
// library's place. Not for %z, %ll, %j or floating point: msvcrt does not know them.
#include <cstdarg>
#include <cstdio>

extern "C" int __cdecl __mingw_vsnprintf(char* __restrict__ buffer, std::size_t size,
                                         const char* __restrict__ format, va_list args) {
    va_list again;
    va_copy(again, args);
    // msvcrt returns -1 and leaves the text unterminated when it does not fit; the C
    // function's answer is then the length the whole text would have had.
    const int written = size ? _vsnprintf(buffer, size, format, args) : -1;
    int length = written;
    if (written < 0 || static_cast<std::size_t>(written) >= size) {
        if (size) buffer[size - 1] = '\0';
        length = _vscprintf(format, again);
    }
    va_end(again);
    return length;
}
