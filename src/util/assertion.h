// Assertions of the support modules: a broken precondition is a programming error of the
// caller. It raises AssertionFailure, naming the module, the condition and the place.
#pragma once

#include <stdexcept>
#include <string>

namespace klv::util {

class AssertionFailure : public std::logic_error {
  public:
    AssertionFailure(const std::string& module, const std::string& condition, const char* file,
                     int line);
    const std::string& Module() const { return module_; }

  private:
    std::string module_;
};

[[noreturn]] void AssertionFailed(const char* module, const char* condition, const char* file,
                                  int line);

} // namespace klv::util

#define KLV_ASSERT(module, condition)                                                              \
    ((condition) ? void(0) : ::klv::util::AssertionFailed(module, #condition, __FILE__, __LINE__))
