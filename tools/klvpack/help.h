// What klvpack says about itself: the list of its commands, each command's help, its version.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace klv::klvpack {

// The commands' synopses, and a pointer to `klvpack help COMMAND`.
void PrintUsage(std::FILE* to);
// One command's synopsis and what it does; false (nothing printed) for an unknown command.
bool PrintCommandHelp(std::string_view command, std::FILE* to);
// The synopsis of one command, for its usage errors.
void PrintCommandUsage(std::string_view command, std::FILE* to);
// "klvpack 0.1"
std::string VersionLine();

} // namespace klv::klvpack
