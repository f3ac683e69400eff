// How often and how soon the standing wave's checks catch one corrupted field
// value. For each magnitude, corrupts one component of E or H at a position
// drawn uniformly over the whole grid (faces included), runs the worker's call
// sequence for a fixed number of checked steps, validates, and tallies which
// check caught it and after how many steps.
//
//   velto_fault_detection [trials per magnitude] [checked steps] [seed]
#include "support/field_corruption.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using velto::faults::Catch;
using velto::faults::Component;
using velto::faults::Corruption;
using velto::faults::Field;

constexpr std::uint64_t grid_size = 64;

// Where a corrupted value sits relative to what the kernels and the checks read.
enum class Region {
  interior,   ///< written by its half-step
  read_only,  ///< read but never written: E at position 1, H at position N
  never_read, ///< positions 0 and N + 1: no kernel or check reads them
};
constexpr int region_count = 3;

const char* region_name(Region region) {
  switch (region) {
  case Region::interior:
    return "updated interior";
  case Region::read_only:
    return "read, never written (E at 1, H at N)";
  case Region::never_read:
    return "never read (positions 0 and N+1)";
  }
  return "?";
}

Region region_of(const Corruption& c) {
  const std::uint64_t last = grid_size + 1;
  const std::uint64_t fixed = c.field == Field::e ? 1 : grid_size;
  bool read_only = false;
  for (std::uint64_t p : {c.x, c.y, c.z}) {
    if (p == 0 || p == last) {
      return Region::never_read;
    }
    read_only = read_only || p == fixed;
  }
  return read_only ? Region::read_only : Region::interior;
}

struct Tally {
  int trials = 0;
  int by_node_check = 0;
  int by_energy_ratio = 0;
  int escaped = 0;
  std::vector<std::uint64_t> latencies;

  void add(const velto::faults::Detection& d) {
    ++trials;
    switch (d.how) {
    case Catch::node_verification:
      ++by_node_check;
      latencies.push_back(d.latency);
      break;
    case Catch::energy_ratio:
      ++by_energy_ratio;
      break;
    case Catch::escaped:
      ++escaped;
      break;
    }
  }
};

std::string percent(int part, int whole) {
  return whole == 0 ? std::string("-") : fmt::format("{:.1f}%", 100.0 * part / whole);
}

// The latency below which `fraction` of the caught corruptions were caught.
std::string quantile(std::vector<std::uint64_t> values, double fraction) {
  if (values.empty()) {
    return "-";
  }
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return std::to_string(values[index]);
}

void print_row(const std::string& label, const Tally& t) {
  fmt::print("| {} | {} | {} ({}) | {} | {} | {} | {} | {} |\n", label, t.trials, t.by_node_check,
             percent(t.by_node_check, t.trials), quantile(t.latencies, 0.5),
             quantile(t.latencies, 0.9), quantile(t.latencies, 1.0), t.by_energy_ratio, t.escaped);
}

std::uint64_t argument(int argc, char** argv, int index, std::uint64_t fallback) {
  return argc > index ? std::strtoull(argv[index], nullptr, 10) : fallback;
}

} // namespace

int main(int argc, char** argv) {
  const int trials = static_cast<int>(argument(argc, argv, 1, 400));
  const std::uint64_t checks = argument(argc, argv, 2, 200);
  const std::uint64_t seed = argument(argc, argv, 3, 20240601);
  const double magnitudes[] = {1e-12, 1e-9, 1e-6, 1e-5, 1e-4, 1e-3, 1.0, 1e3};

  std::mt19937_64 random(seed);
  std::uniform_int_distribution<std::uint64_t> position(0, grid_size + 1);
  std::uniform_int_distribution<int> coin(0, 1);
  std::uniform_int_distribution<int> axis(0, 2);

  fmt::print("N = {}, {} trials per magnitude, {} checked steps from the corrupting one, "
             "seed {}\n\n",
             grid_size, trials, checks, seed);
  const char* header = "| {} | trials | caught by node verification | median latency | "
                       "90% latency | max latency | caught by energy ratio only | escaped both |\n"
                       "|---|---|---|---|---|---|---|---|\n";

  // The same positions, components and signs for every magnitude, so the rows
  // differ only in the size of the corruption.
  std::vector<Corruption> drawn(static_cast<std::size_t>(trials));
  for (Corruption& c : drawn) {
    // The standing wave is bit-identical after every step, so the step of the
    // corruption does not matter; the first keeps the runs short.
    c.step = 0;
    c.field = coin(random) == 0 ? Field::e : Field::h;
    c.component = static_cast<Component>(axis(random));
    c.x = position(random);
    c.y = position(random);
    c.z = position(random);
    c.magnitude = coin(random) == 0 ? 1.0 : -1.0;
  }

  std::vector<Tally> overall(std::size(magnitudes));
  std::vector<std::vector<Tally>> by_region(std::size(magnitudes),
                                            std::vector<Tally>(region_count));
  for (std::size_t m = 0; m < std::size(magnitudes); ++m) {
    const auto started = std::chrono::steady_clock::now();
    for (const Corruption& sign : drawn) {
      Corruption c = sign;
      c.magnitude = sign.magnitude * magnitudes[m];
      const auto detection = velto::faults::detect(c, grid_size, checks);
      if (!detection) {
        fmt::print(stderr, "the workload could not run: {}\n", velto::faults::describe(c));
        return 1;
      }
      overall[m].add(*detection);
      by_region[m][static_cast<int>(region_of(c))].add(*detection);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    fmt::print(stderr, "magnitude {:g}: {:.1f} s\n", magnitudes[m], took.count());
  }

  fmt::print(fmt::runtime(header), "magnitude");
  for (std::size_t m = 0; m < std::size(magnitudes); ++m) {
    print_row(fmt::format("{:g}", magnitudes[m]), overall[m]);
  }
  for (int r = 0; r < region_count; ++r) {
    fmt::print("\n{}\n\n", region_name(static_cast<Region>(r)));
    fmt::print(fmt::runtime(header), "magnitude");
    for (std::size_t m = 0; m < std::size(magnitudes); ++m) {
      print_row(fmt::format("{:g}", magnitudes[m]), by_region[m][r]);
    }
  }

  // Positions chosen for their distance from the sample lattice (17 and 33 on
  // every axis): the corners of each field's updated range, a point midway
  // between samples, and the read-only layers next to a face.
  struct Named {
    Field field;
    Component component;
    std::uint64_t x, y, z;
  };
  const Named named[] = {
      {Field::e, Component::x, 25, 25, 25}, {Field::e, Component::z, 2, 2, 2},
      {Field::e, Component::x, 64, 64, 64}, {Field::e, Component::z, 64, 64, 64},
      {Field::h, Component::x, 1, 1, 1},    {Field::h, Component::z, 63, 63, 63},
      {Field::e, Component::x, 1, 33, 33},  {Field::e, Component::z, 1, 1, 1},
      {Field::h, Component::x, 64, 33, 33}, {Field::h, Component::y, 64, 64, 64},
  };
  fmt::print("\nlatency in steps at chosen positions (esc: escaped both; val: caught by the "
             "energy ratio only)\n\n| position |");
  for (double m : magnitudes) {
    fmt::print(" {:g} |", m);
  }
  fmt::print("\n|---|");
  for (std::size_t m = 0; m < std::size(magnitudes); ++m) {
    fmt::print("---|");
  }
  fmt::print("\n");
  for (const Named& p : named) {
    fmt::print("| {}({},{},{}).{} |", velto::faults::field_name(p.field), p.x, p.y, p.z,
               velto::faults::component_name(p.component));
    for (double m : magnitudes) {
      Corruption c;
      c.field = p.field;
      c.component = p.component;
      c.x = p.x;
      c.y = p.y;
      c.z = p.z;
      c.magnitude = m;
      const auto detection = velto::faults::detect(c, grid_size, checks);
      if (!detection) {
        fmt::print(stderr, "the workload could not run: {}\n", velto::faults::describe(c));
        return 1;
      }
      switch (detection->how) {
      case Catch::node_verification:
        fmt::print(" {} |", detection->latency);
        break;
      case Catch::energy_ratio:
        fmt::print(" val |");
        break;
      case Catch::escaped:
        fmt::print(" esc |");
        break;
      }
    }
    fmt::print("\n");
  }
  return 0;
}
