// klvpack: builds and checks update packages; lists, tests and extracts them and other ZIP
// archives.
#include <cstdio>
#include <string>
#include <vector>

#include "build.h"
#include "commands.h"
#include "help.h"
#include "manifest.h"
#include "platform/text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {
bool AsksForHelp(const std::vector<std::u16string>& args) {
    for (std::size_t i = 1; i < args.size(); ++i)
        if (args[i] == u"--help" || args[i] == u"-h") return true;
    return false;
}

int Main(const std::vector<std::u16string>& args) {
    using namespace klv::klvpack;
    const std::string command = args.empty() ? "" : klv::platform::Utf16ToUtf8(args[0]);
    if (command == "--help" || command == "-h" || (command == "help" && args.size() == 1)) {
        PrintUsage(stdout);
        return kExitOk;
    }
    if (command == "--version") {
        std::printf("%s\n", VersionLine().c_str());
        return kExitOk;
    }
    if (command == "help" || AsksForHelp(args)) {
        const std::string topic =
            command == "help" && !AsksForHelp(args) ? klv::platform::Utf16ToUtf8(args[1]) : command;
        if (PrintCommandHelp(topic, stdout)) return kExitOk;
        std::fprintf(stderr, "klvpack: unknown command %s\n", topic.c_str());
        PrintUsage(stderr);
        return kExitUsage;
    }
    if (command == "build") return Build({args.begin() + 1, args.end()});
    if (command == "check") return Check({args.begin() + 1, args.end()});
    if (command == "manifest") return Manifest({args.begin() + 1, args.end()});
    Arguments parsed;
    std::string error;
    if (!ParseArguments(args, parsed, error)) {
        if (!error.empty()) std::fprintf(stderr, "klvpack: %s\n", error.c_str());
        if (error.starts_with("unknown command") || args.empty())
            PrintUsage(stderr);
        else
            PrintCommandUsage(command, stderr);
        return kExitUsage;
    }
    return Run(parsed);
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
