#include <iostream>

// The entry point is not built yet: refuse every run.
int main() {
  std::cerr << "kevra_template: not built yet" << std::endl;
  return 14;
}
