// An exception that nothing catches ends the stub as std::abort does. libstdc++'s own
// handler would print the exception's type to a console the stub does not have, and bring
// its C++ name demangler (about 45 KB) into every package. Linked as an object of the
// program, so it takes the place of the library's.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler();

void __verbose_terminate_handler() {
    std::abort();
}

} // namespace __gnu_cxx
