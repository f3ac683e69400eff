// What a stability test's segment makes of one flipped bit. For each workload
// at N = 64, flips one bit of one double of E or H (any of the four
// components, any node, the faces included) after a random step of a segment,
// finishes the segment with every check, hashes both fields and compares with
// the clean segment's hash. Tallies what caught each flip (a physics check or
// the hash) and, for the flips that vanished (the segment ended in the clean
// hash all the same), where they were.
//
//   velto_segment_bit_flips [flips per workload] [steps, 0 for the known answer's] [seed]
#include "solver/known_answers.hpp"
#include "support/segment_hash.hpp"

#include <fmt/format.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>

namespace {

using velto::FieldState;
using velto::WorkloadKind;

constexpr std::uint64_t grid_size = 64;

struct Flip {
  std::uint64_t step = 0;
  bool h = false;
  unsigned component = 0; ///< 0..3: x, y, z and the fourth
  std::uint64_t x = 0, y = 0, z = 0;
  unsigned bit = 0;
};

bool on_face(const Flip& f) {
  const std::uint64_t last = grid_size + 1;
  for (const std::uint64_t p : {f.x, f.y, f.z}) {
    if (p == 0 || p == last) {
      return true;
    }
  }
  return false;
}

const char* bit_group(unsigned bit) {
  if (bit == 63) {
    return "sign";
  }
  if (bit >= 52) {
    return "exponent";
  }
  return bit >= 26 ? "mantissa 26-51" : "mantissa 0-25";
}

void apply(FieldState& state, const Flip& f) {
  velto::FieldGrid& grid = f.h ? state.h : state.e;
  velto::FieldNode& node = grid.nodes.data()[(f.x * grid.edge + f.y) * grid.edge + f.z];
  double* const values[] = {&node.x, &node.y, &node.z, &node.w};
  std::uint64_t bits = 0;
  std::memcpy(&bits, values[f.component], sizeof bits);
  bits ^= std::uint64_t{1} << f.bit;
  std::memcpy(values[f.component], &bits, sizeof bits);
}

void measure(WorkloadKind kind, std::uint64_t steps, int flips, std::mt19937_64& random) {
  const char* const name = velto::name_of_choice(velto::workload_table, kind).data();
  for (const velto::KnownAnswer& answer : velto::known_answers()) {
    if (answer.workload == kind && answer.grid_size == grid_size && steps == 0) {
      steps = answer.steps;
    }
  }
  const velto::SegmentHash clean = velto::segment_hash(kind, grid_size, steps);
  if (!clean.hash) {
    fmt::print("{}: the clean segment failed: {}\n", name, clean.failure);
    return;
  }
  int caught_by_check = 0;
  int caught_by_hash = 0;
  std::map<std::string, int> vanished;
  std::map<std::string, int> messages;
  for (int i = 0; i < flips; ++i) {
    Flip f;
    f.step = random() % steps;
    f.h = random() % 2 == 1;
    f.component = static_cast<unsigned>(random() % 4);
    f.x = random() % (grid_size + 2);
    f.y = random() % (grid_size + 2);
    f.z = random() % (grid_size + 2);
    f.bit = static_cast<unsigned>(random() % 64);
    const velto::SegmentHash run =
        velto::segment_hash(kind, grid_size, steps, [&f](FieldState& state, std::uint64_t s) {
          if (s == f.step) {
            apply(state, f);
          }
        });
    if (!run.hash) {
      ++caught_by_check;
      // The check's first line, without its thread number.
      const std::size_t start = run.failure.find_first_not_of('\n');
      ++messages[run.failure.substr(start, run.failure.find(" in thread") - start)];
    } else if (*run.hash != *clean.hash) {
      ++caught_by_hash;
    } else {
      ++vanished[fmt::format("{}.{} {} {}{}", f.h ? "H" : "E", "xyzw"[f.component],
                             on_face(f) ? "face" : "interior", bit_group(f.bit),
                             f.step + 1 == steps ? " (last step)" : "")];
    }
  }
  int lost = 0;
  for (const auto& [where, count] : vanished) {
    lost += count;
  }
  fmt::print("{} at {}, {} steps: {} flips, {} caught by a check, {} by the hash, {} vanished "
             "({:.2f}%)\n",
             name, grid_size, steps, flips, caught_by_check, caught_by_hash, lost,
             100.0 * lost / flips);
  for (const auto& [message, count] : messages) {
    fmt::print("  check {:5}  {}\n", count, message);
  }
  for (const auto& [where, count] : vanished) {
    fmt::print("  vanished {:5}  {}\n", count, where);
  }
}

} // namespace

int main(int argc, char** argv) {
  const int flips = argc > 1 ? std::atoi(argv[1]) : 1000;
  const std::uint64_t steps = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 0;
  std::mt19937_64 random(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 19);
  for (const auto& [kind, name] : velto::workload_table) {
    measure(kind, steps, flips, random);
  }
  return 0;
}
