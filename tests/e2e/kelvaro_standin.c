/* A stand-in for the installed Kelvaro program. Started without arguments (as the installer's
 * "Direct starten" does) it appends one line to "kelvaro-started.txt" beside itself and ends;
 * started with "--hold" it also keeps running until "kelvaro-stop.txt" appears there (or two
 * minutes pass), so that its file is in use. The version is in its version resource and in the
 * line it writes. */
#include <windows.h>

#include <string.h>

/* KLV_V1..KLV_V4: the version, given by the build. */
#define KLV_STR_(x) #x
#define KLV_STR(x) KLV_STR_(x)
#define KLV_STANDIN_VERSION KLV_STR(KLV_V1.KLV_V2.KLV_V3.KLV_V4)

static void beside_self(wchar_t *path, const wchar_t *name)
{
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    while (n > 0 && path[n - 1] != L'\\')
        --n;
    path[n] = 0;
    lstrcatW(path, name);
}

int main(void)
{
    wchar_t path[MAX_PATH + 32];
    beside_self(path, L"kelvaro-started.txt");
    HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f != INVALID_HANDLE_VALUE) {
        char line[128] = "kelvaro " KLV_STANDIN_VERSION " started\r\n";
        DWORD written = 0;
        WriteFile(f, line, (DWORD)strlen(line), &written, NULL);
        CloseHandle(f);
    }
    if (strstr(GetCommandLineA(), "--hold") == NULL)
        return 0;
    beside_self(path, L"kelvaro-stop.txt");
    for (int i = 0; i < 1200; ++i) {
        if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(100);
    }
    return 0;
}
