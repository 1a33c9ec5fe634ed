// The drive search as the installer runs it, timed from inside the process.
//
//     search_run all|FOLDER [--messages]
//
// "all" runs SearchInstallations over every drive with an accepting filter; a FOLDER runs
// FindFiles on it alone, without a skip list. With --messages the progress callback does
// what the installer's does besides painting: it reads the Escape key and handles the
// waiting window messages. Prints: finds, folders entered, milliseconds, and the longest
// gap in milliseconds between two progress calls (how long Escape could go unnoticed).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "util/search.h"

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void ProcessMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: search_run all|FOLDER [--messages]\n");
        return 2;
    }
    const bool messages = argc > 2 && std::strcmp(argv[2], "--messages") == 0;
    long entered = 0;
    bool stop = false; // the stop flag: Escape sets it
    double last = 0, longest = 0;
    klv::util::SearchProgressCallback progress = [&](const std::string&) {
        ++entered;
        const double now = Now();
        if (last > 0) longest = std::max(longest, now - last);
        last = now;
        if (messages) {
            if (GetAsyncKeyState(VK_ESCAPE) & 0x8000) stop = true;
            ProcessMessages();
        }
    };
    std::vector<std::string> found;
    const double start = Now();
    last = start;
    if (std::strcmp(argv[1], "all") == 0) {
        std::string output;
        klv::util::SearchInstallations(
            found, [](const std::string&) { return true; }, progress, output, stop);
    } else {
        klv::util::FindFiles(&found, argv[1], klv::util::ProgramNames, progress, true, true,
                             nullptr, stop);
    }
    const double elapsed = Now() - start;
    std::printf("%zu %ld %.1f %.1f\n", found.size(), entered, elapsed, longest);
    return 0;
}
