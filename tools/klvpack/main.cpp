// klvpack: builds and checks update packages; lists, tests and extracts them and other ZIP
// archives.
#include <cstdio>
#include <string>
#include <vector>

#include "build.h"
#include "commands.h"
#include "platform/text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {
int Main(const std::vector<std::u16string>& args) {
    if (!args.empty() && args[0] == u"build")
        return klv::klvpack::Build({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == u"check")
        return klv::klvpack::Check({args.begin() + 1, args.end()});
    klv::klvpack::Arguments parsed;
    std::string error;
    if (!klv::klvpack::ParseArguments(args, parsed, error)) {
        if (!error.empty()) std::fprintf(stderr, "klvpack: %s\n", error.c_str());
        klv::klvpack::PrintUsage(stderr);
        klv::klvpack::PrintPackUsage(stderr);
        return klv::klvpack::kExitUsage;
    }
    return klv::klvpack::Run(parsed);
}
} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i) {
        std::wstring w(argv[i]);
        args.emplace_back(w.begin(), w.end());
    }
    return Main(args);
}
#else
int main(int argc, char** argv) {
    std::vector<std::u16string> args;
    for (int i = 1; i < argc; ++i)
        args.push_back(klv::platform::Utf8ToUtf16(argv[i]));
    return Main(args);
}
#endif
