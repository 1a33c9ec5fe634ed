// The one place a file is opened on Linux: every other file of the platform asks here.
#pragma once

#include <sys/types.h>

#include <string>

namespace klv::platform::posix {

// open(2) on a native path, close-on-exec; -1 with errno set when it cannot be opened.
int OpenFd(const std::string& path, int flags, mode_t mode = 0666);

} // namespace klv::platform::posix
