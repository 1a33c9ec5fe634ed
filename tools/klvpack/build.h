// klvpack build and klvpack check: making a package and saying what the stub will do with it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace klv::klvpack {

// `klvpack build --stub STUB --payload DIR [--caption TEXT] [--level 0-9] -o PACKAGE`; the
// arguments after the command. Exit 0, or 2 with a message and no output file.
int Build(const std::vector<std::u16string>& args);
// `klvpack check PACKAGE`. Exit 0 as made, 1 with warnings, 3 cannot be opened, 2 usage.
int Check(const std::vector<std::u16string>& args);

} // namespace klv::klvpack
