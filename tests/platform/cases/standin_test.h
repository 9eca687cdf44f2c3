#pragma once
// Shared fixture of the stand-in tests: every test case starts from the
// stand-ins' reset state, then adds what its fixture arranges.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/platform_fixture.h"
#include "tests/support/sandbox_guard.h"

namespace kevra_test {

class StandinTest : public ::testing::Test {
 protected:
  // Outside the sandbox nothing is set up: the test case only starts itself
  // again inside it (KEVRA_REQUIRE_SANDBOX).
  void SetUp() override {
    std::string why;
    if (!in_sandbox(why)) {
      return;
    }
    p_.fixture({"reset"});
    arrange();
  }

  // What the test cases of a fixture start with beyond the reset state; runs
  // only inside the sandbox. Fails the test through gtest assertions.
  virtual void arrange() {}

  Platform p_;
};

}  // namespace kevra_test
