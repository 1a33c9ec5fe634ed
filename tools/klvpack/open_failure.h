// What klvpack says when a file cannot be read as an archive: in words first, the engine's
// own message (with its native error code) behind them.
#pragma once

#include <string>

namespace klv::zip {
class EZAError;
}

namespace klv::klvpack {

std::string CannotOpenText(const std::u16string& path, const zip::EZAError& error);

} // namespace klv::klvpack
