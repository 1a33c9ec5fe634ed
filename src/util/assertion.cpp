#include "util/assertion.h"

namespace klv::util {

AssertionFailure::AssertionFailure(const std::string& module, const std::string& condition,
                                   const char* file, int line)
    : std::logic_error("Assertion failed in " + module + ": " + condition + " (" + file + ", " +
                       std::to_string(line) + ")"),
      module_(module) {}

void AssertionFailed(const char* module, const char* condition, const char* file, int line) {
    throw AssertionFailure(module, condition, file, line);
}

} // namespace klv::util
