// The program entry: hands the arguments to the driver and returns its status.
#include "app/driver.hpp"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  std::vector<std::string> arguments;
  if (argv != nullptr) {
    for (int i = 0; i < argc; ++i) {
      arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
  }
  return velto::velto_main(arguments, std::cin, std::cout, std::cerr);
}
