#pragma once
// Guards tests that need something outside the tree being tested: the
// sandbox (tests/platform/sandbox) for the platform's real paths, and the
// platform's schemas beside the repository for document validation.

#include <gtest/gtest.h>

#include <string>

namespace kevra_test {

// True inside the sandbox; otherwise false with the reason in `why`.
bool in_sandbox(std::string& why);

// True when the tests run under CI (CI=true), where anything missing is a failure.
bool under_ci();

// Path of the platform's schema validator (validate.sh beside the repository).
// Returns it when it is there; otherwise "" with the reason in `why`.
std::string platform_validator(std::string& why);

}  // namespace kevra_test

// Skips the current test when `available` is false, with what is missing and
// why; under CI, where everything is present, fails it instead.
#define KEVRA_REQUIRE(available, what, why)                                  \
  do {                                                                       \
    if (!(available)) {                                                      \
      if (::kevra_test::under_ci()) {                                        \
        FAIL() << what << " required under CI: " << (why);                   \
      } else {                                                               \
        GTEST_SKIP() << what << " unavailable: " << (why);                   \
      }                                                                      \
    }                                                                        \
  } while (0)

// Skips the current test outside the sandbox, with the reason; fails it under CI.
#define KEVRA_REQUIRE_SANDBOX()                                              \
  do {                                                                       \
    std::string kevra_why_;                                                  \
    const bool kevra_inside_ = ::kevra_test::in_sandbox(kevra_why_);         \
    KEVRA_REQUIRE(kevra_inside_, "sandbox", kevra_why_);                     \
  } while (0)

// Sets `validator` to the platform's schema validator, or skips the current
// test with the reason when the schemas are not beside the tree (fails under CI).
#define KEVRA_REQUIRE_PLATFORM_SCHEMAS(validator)                            \
  std::string validator;                                                     \
  do {                                                                       \
    std::string kevra_why_;                                                  \
    validator = ::kevra_test::platform_validator(kevra_why_);                \
    KEVRA_REQUIRE(!validator.empty(), "platform schemas", kevra_why_);       \
  } while (0)
