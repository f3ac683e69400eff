// Prints the grid sizes velto accepts with the bytes of one field and of one
// thread's fields at each, one line per size ("64 9199872 18399744"), as the
// code computes them: the end-to-end checks derive their requests from these
// lines instead of keeping a copy of the list and the formula.
#include "app/options.hpp"
#include "solver/field.hpp"

#include <fmt/format.h>

int main() {
  for (const std::uint64_t size : velto::grid_sizes) {
    fmt::print("{} {} {}\n", size, velto::field_bytes(size), velto::memory_per_thread(size));
  }
  return 0;
}
