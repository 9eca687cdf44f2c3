#pragma once
// Guards tests that touch the platform's real paths (/opt/kelvomar, /etc,
// /usr/bin, /usr/sbin): they must run inside tests/platform/sandbox.

#include <gtest/gtest.h>

#include <string>

namespace kevra_test {

// True inside the sandbox; otherwise false with the reason in `why`.
bool in_sandbox(std::string& why);

// True when the tests run under CI (CI=true), where a missing sandbox is a failure.
bool under_ci();

}  // namespace kevra_test

// Skips the current test outside the sandbox, with the reason; fails it under CI.
#define KEVRA_REQUIRE_SANDBOX()                                              \
  do {                                                                       \
    std::string kevra_why_;                                                  \
    if (!::kevra_test::in_sandbox(kevra_why_)) {                             \
      if (::kevra_test::under_ci()) {                                        \
        FAIL() << "sandbox required under CI: " << kevra_why_;               \
      } else {                                                               \
        GTEST_SKIP() << "sandbox unavailable: " << kevra_why_;               \
      }                                                                      \
    }                                                                        \
  } while (0)
