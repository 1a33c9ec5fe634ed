// klvpack manifest: a winget manifest (schema 1.6.0) of a package, read from the package.
#pragma once

#include <string>
#include <vector>

namespace klv::klvpack {

// `klvpack manifest PACKAGE.exe [--url URL] [--publisher TEXT] -o DIR`; the arguments after
// the command. Exit 0 written, 2 usage or refused, 3 the package cannot be opened.
int Manifest(const std::vector<std::u16string>& args);

} // namespace klv::klvpack
