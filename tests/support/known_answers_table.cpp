// Computes the known-answer table with velto's own kernels and prints its
// entries as they stand in src/solver/known_answers.cpp, one line each, with the
// steps the compiled table holds and the hashes computed now; on the error
// stream, how long each segment took here. To change a segment's steps: edit
// them in the table, build, run this and paste its lines over the entries.
#include "platform/name_table.hpp"
#include "solver/known_answers.hpp"
#include "support/segment_hash.hpp"

#include <fmt/format.h>

#include <chrono>

int main() {
  int status = 0;
  for (const velto::KnownAnswer& entry : velto::known_answers()) {
    const std::string_view name = velto::name_of_choice(velto::workload_table, entry.workload);
    const auto start = std::chrono::steady_clock::now();
    const velto::SegmentHash result =
        velto::segment_hash(entry.workload, entry.grid_size, entry.steps);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (!result.hash) {
      fmt::print(stderr, "{} at {}: {}\n", name, entry.grid_size, result.failure);
      status = 1;
      continue;
    }
    fmt::print("    {{WorkloadKind::{}, {}, {}, 0x{:016x}ull}},\n", name, entry.grid_size,
               entry.steps, *result.hash);
    fmt::print(stderr, "{} at {}: {} steps in {:.2f} s with initialisation and hash\n", name,
               entry.grid_size, entry.steps, took.count());
  }
  return status;
}
