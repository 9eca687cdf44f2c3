#include "tests/support/sandbox_guard.h"

#include <unistd.h>

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

std::string platform_validator(std::string& why) {
  const std::string validator = std::string(KEVRA_SOURCE_DIR) + "/../shared/platform/validate.sh";
  if (::access(validator.c_str(), R_OK) != 0) {
    why = "no " + validator + " beside the repository";
    return "";
  }
  return validator;
}

}  // namespace kevra_test
