/* Another program that holds a file of the installation open without sharing, as a virus
 * scanner or a backup tool may:
 *     hold_file.exe FILE SIGNAL [share-all]
 * opens FILE for reading with share mode 0 (with "share-all": reading, writing and deleting
 * shared, as an indexer does), writes the file "SIGNAL.held" once it holds it, and
 * keeps it open until "SIGNAL.release" appears (or two minutes pass). Exit 0 when it held the
 * file, 1 when it could not open it. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    char mark[MAX_PATH + 16], release[MAX_PATH + 16];
    if (argc < 3 || argc > 4 || strlen(argv[2]) >= MAX_PATH)
        return 2;
    const DWORD share = argc == 4 && strcmp(argv[3], "share-all") == 0
                            ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                            : 0;
    HANDLE held = CreateFileA(argv[1], GENERIC_READ, share, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (held == INVALID_HANDLE_VALUE)
        return 1;
    snprintf(mark, sizeof mark, "%s.held", argv[2]);
    snprintf(release, sizeof release, "%s.release", argv[2]);
    HANDLE f = CreateFileA(mark, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           NULL);
    if (f != INVALID_HANDLE_VALUE)
        CloseHandle(f);
    for (int i = 0; i < 1200; ++i) {
        if (GetFileAttributesA(release) != INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(100);
    }
    CloseHandle(held);
    return 0;
}
