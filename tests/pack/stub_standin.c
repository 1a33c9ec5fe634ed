/* A stand-in for the installer stub in klvpack's tests: a small Windows program that carries
   the stored caption block (marker, then the NUL-padded caption) as the real stub does. */
#include <stdio.h>

__attribute__((used)) static const char caption_block[16 + 256] =
    "KLV-CAPTION-v1:\x01"
    "Kwartierblad met plaats en datum                          ";

int main(void) {
    puts(caption_block + 16);
    return 0;
}
