/* The floor of the drive search: a plain recursive FindFirstFileA/FindNextFileA walk of a
 * folder, every entry looked at once, folders entered depth first (except "." and "..").
 *
 *     search_floor ROOT        prints: files folders milliseconds
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static long files, folders;

static void Walk(const char* folder) {
    char pattern[MAX_PATH];
    WIN32_FIND_DATAA data;
    HANDLE h;
    if (snprintf(pattern, sizeof pattern, "%s*.*", folder) >= (int)sizeof pattern) return;
    h = FindFirstFileA(pattern, &data);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            char sub[MAX_PATH];
            if (!strcmp(data.cFileName, ".") || !strcmp(data.cFileName, "..")) continue;
            if (snprintf(sub, sizeof sub, "%s%s\\", folder, data.cFileName) >= (int)sizeof sub)
                continue;
            ++folders;
            Walk(sub);
        } else {
            ++files;
        }
    } while (FindNextFileA(h, &data));
    FindClose(h);
}

int main(int argc, char** argv) {
    LARGE_INTEGER frequency, start, end;
    char root[MAX_PATH];
    if (argc != 2) {
        fprintf(stderr, "usage: search_floor ROOT\n");
        return 2;
    }
    snprintf(root, sizeof root, "%s%s", argv[1],
             argv[1][0] && argv[1][strlen(argv[1]) - 1] == '\\' ? "" : "\\");
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Walk(root);
    QueryPerformanceCounter(&end);
    printf("%ld %ld %.1f\n", files, folders,
           (double)(end.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart);
    return 0;
}
