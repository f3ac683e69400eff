// The program entry: hands the arguments to the driver and returns its status.
#include "app/driver.hpp"
#include "platform/process.hpp"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  velto::ignore_broken_pipe();
  try {
    std::vector<std::string> arguments;
    if (argv != nullptr) {
      for (int i = 0; i < argc; ++i) {
        arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
      }
    }
    return velto::velto_main(arguments, std::cin, std::cout, std::cerr);
  } catch (...) {
    // Only copying the arguments can get here: velto_main lets nothing escape.
    velto::write_fatal_error(std::cerr, "out of memory");
    return 1;
  }
}
