// main() of the test programs whose cases touch the platform's real paths:
// the program starts itself again through tests/platform/sandbox, so every
// test case (CTest runs one per process) gets a fresh private namespace.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  bool listing = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0) {
      listing = true;
    }
  }
  const bool started = std::getenv("KEVRA_SANDBOX") != nullptr ||
                       std::getenv("KEVRA_SANDBOX_UNAVAILABLE") != nullptr;
  if (!listing && !started) {
    const std::string sandbox = std::string(KEVRA_SOURCE_DIR) + "/tests/platform/sandbox";
    std::vector<char*> args;
    args.push_back(const_cast<char*>(sandbox.c_str()));
    char self[4096] = {0};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    args.push_back(n > 0 ? self : argv[0]);
    for (int i = 1; i < argc; ++i) {
      args.push_back(argv[i]);
    }
    args.push_back(nullptr);
    execv(sandbox.c_str(), args.data());
    // The sandbox script could not be started: run here, the guard skips.
    setenv("KEVRA_SANDBOX_UNAVAILABLE", "tests/platform/sandbox could not be started", 1);
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
