#include "tests/support/sandbox_guard.h"

#include <cstdlib>

namespace kevra_test {

bool in_sandbox(std::string& why) {
  const char* inside = std::getenv("KEVRA_SANDBOX");
  if (inside != nullptr && std::string(inside) == "1") {
    return true;
  }
  const char* reason = std::getenv("KEVRA_SANDBOX_UNAVAILABLE");
  why = reason != nullptr ? reason : "not started through tests/platform/sandbox";
  return false;
}

bool under_ci() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

}  // namespace kevra_test
