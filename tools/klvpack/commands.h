#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace klv::klvpack {

struct Arguments {
    std::string command;
    std::string password; // ANSI
    bool hasPassword = false;
    bool askPassword = false;
    std::vector<std::u16string> operands;
};

enum ExitCode { kExitOk = 0, kExitItemFailed = 1, kExitUsage = 2, kExitCannotOpen = 3 };

// Parses the command line (without the program name); returns false on a usage error.
bool ParseArguments(const std::vector<std::u16string>& args, Arguments& out, std::string& error);
int Run(const Arguments& args);

} // namespace klv::klvpack
