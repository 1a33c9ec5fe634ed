/* A file's version resource as Windows itself reads it (GetFileVersionInfo, VerQueryValue):
 *     version_info.exe FILE
 * prints "file=a.b.c.d", "product=a.b.c.d" from the fixed information, then "KEY=[VALUE]" for
 * each string of the first translation's table. Exit 1 when the file has no version resource. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

static void print_version(const char *label, DWORD ms, DWORD ls)
{
    printf("%s=%u.%u.%u.%u\n", label, (unsigned)HIWORD(ms), (unsigned)LOWORD(ms),
           (unsigned)HIWORD(ls), (unsigned)LOWORD(ls));
}

int main(int argc, char **argv)
{
    static const char *const keys[] = {"CompanyName",      "FileDescription", "FileVersion",
                                       "InternalName",     "OriginalFilename", "ProductName",
                                       "ProductVersion"};
    DWORD unused = 0;
    if (argc != 2)
        return 2;
    DWORD size = GetFileVersionInfoSizeA(argv[1], &unused);
    if (size == 0)
        return 1;
    void *data = malloc(size);
    if (!data || !GetFileVersionInfoA(argv[1], 0, size, data))
        return 1;
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    if (!VerQueryValueA(data, "\\", (void **)&fixed, &length) || length < sizeof *fixed)
        return 1;
    print_version("file", fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    print_version("product", fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    WORD *translation = NULL;
    if (!VerQueryValueA(data, "\\VarFileInfo\\Translation", (void **)&translation, &length) ||
        length < 4)
        return 1;
    for (size_t i = 0; i < sizeof keys / sizeof keys[0]; ++i) {
        char path[128];
        char *value = NULL;
        snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translation[0],
                 translation[1], keys[i]);
        if (VerQueryValueA(data, path, (void **)&value, &length))
            printf("%s=[%s]\n", keys[i], value);
    }
    free(data);
    return 0;
}
