#include "platform/machine.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/text.h"

namespace klv::platform {

std::u16string DescribeMachine() {
    utsname name{};
    std::string line = uname(&name) == 0 ? std::string(name.sysname) + " " + name.release
                                         : std::string("unknown system");
    line += sizeof(void*) == 8 ? ", 64-bit" : ", 32-bit";
    const char* user = std::getenv("USER");
    line += std::string(", user ") + (user ? user : "unknown");
    line += geteuid() == 0 ? ", elevated" : ", not elevated";
    const char* temp = std::getenv("TMPDIR");
    line += std::string(", temp ") + (temp ? temp : "/tmp");
    return Utf8ToUtf16(line);
}

} // namespace klv::platform
