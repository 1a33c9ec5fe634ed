/* A stand-in for the installer stub in klvpack's tests: a small Windows program that carries
   the stored caption block (marker, then the NUL-padded caption) as the real stub does. With
   KLV_JUNK_HEADER it also holds, as the real stub's code and data do, the bytes of a ZIP local
   header ("junk", no data). */
#include <stdio.h>

#ifdef KLV_JUNK_HEADER
__attribute__((used)) static const unsigned char local_header[30 + 4] = {
    'P', 'K', 3, 4, 20, 0, 0, 0, 0, 0, 0, 0, 0x21, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0,
    'j', 'u', 'n', 'k'};
#endif

__attribute__((used)) static const char caption_block[16 + 256] =
    "KLV-CAPTION-v1:\x01"
    "Kwartierblad met plaats en datum                          ";

int main(void) {
    puts(caption_block + 16);
    return 0;
}
