// The stability test's plan: pure functions of the request, the topology and
// the memory figure.
#include "stress/stress_plan.hpp"

#include "engine/placement.hpp"
#include "platform/memory.hpp"
#include "platform/memory_ledger.hpp"
#include "solver/field.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <map>

namespace velto {

std::vector<std::uint64_t> stress_grid_sizes() {
  std::vector<std::uint64_t> sizes;
  for (const KnownAnswer& answer : known_answers()) {
    if (std::find(sizes.begin(), sizes.end(), answer.grid_size) == sizes.end()) {
      sizes.push_back(answer.grid_size);
    }
  }
  std::sort(sizes.begin(), sizes.end());
  return sizes;
}

std::string stress_grid_sizes_text() {
  return fmt::format("{}", fmt::join(stress_grid_sizes(), ", "));
}

namespace {

// The allowed processors in the walk's order, with their node and level.
std::vector<StressProcessor> walk_of(const Topology& topology) {
  std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> where; // core → node, level
  for (const NumaNode& node : topology.nodes) {
    for (const Llc& llc : node.llcs) {
      for (const Core& core : llc.cores) {
        where[core.id] = {node.id, core.perf_level};
      }
    }
  }
  std::vector<StressProcessor> walk;
  for (const LogicalProcessor& logical : make_phte_plan(topology)) {
    const auto [node, level] = where[logical.core];
    walk.push_back({logical, node, level});
  }
  return walk;
}

// How many threads' fields at `sizes` the ledger grants out of
// `available_memory` (any number when that is unknown) and, in a program
// whose size type is 32 bits wide, its address space holds.
std::uint64_t threads_that_fit(const std::vector<std::uint64_t>& sizes,
                               std::uint64_t available_memory, std::uint64_t size_max) {
  std::uint64_t charge = 0;
  for (const std::uint64_t size : sizes) {
    charge += fields_per_thread * ledger_charge(field_bytes(size));
  }
  std::uint64_t fit = available_memory == 0 ? UINT64_MAX : ledger_budget(available_memory) / charge;
  if (size_max <= UINT32_MAX) {
    fit = std::min(fit, address_space_budget_32 / charge);
  }
  return fit;
}

} // namespace

std::variant<StressPlan, std::string> make_stress_plan(const StressRequest& request,
                                                       const Topology& topology,
                                                       std::uint64_t available_memory,
                                                       std::uint64_t size_max) {
  const std::vector<std::uint64_t> known = stress_grid_sizes();
  if (request.grid_size &&
      std::find(known.begin(), known.end(), *request.grid_size) == known.end()) {
    return fmt::format("Invalid size '{}' for a stability test, must be one of: {}",
                       *request.grid_size, stress_grid_sizes_text());
  }
  StressPlan plan;
  plan.walk = walk_of(topology);
  if (plan.walk.empty()) {
    return std::string("the stability test pins its threads and no processor topology was "
                       "detected; aborting");
  }
  const auto allowed = static_cast<std::uint32_t>(plan.walk.size());
  std::uint64_t threads = request.load == StressLoad::cycle ? 1 : allowed;
  if (request.thread_count != 0) {
    threads = std::min<std::uint64_t>(threads, request.thread_count);
  }

  if (request.grid_size) {
    plan.grid_sizes = {*request.grid_size};
  } else {
    plan.grid_sizes = {stress_cache_size, stress_memory_size};
    if (threads_that_fit(plan.grid_sizes, available_memory, size_max) < threads) {
      plan.grid_sizes = {stress_cache_size, stress_fallback_size};
    }
  }
  const std::uint64_t fit = threads_that_fit(plan.grid_sizes, available_memory, size_max);
  if (fit == 0) {
    return fmt::format("not enough memory for one thread of the stability test at {}; aborting",
                       fmt::join(plan.grid_sizes, " and "));
  }
  plan.threads = static_cast<std::uint32_t>(std::min(threads, fit));

  for (const std::uint64_t size : plan.grid_sizes) {
    for (const auto& [kind, name] : workload_table) {
      if (request.workload && *request.workload != kind) {
        continue;
      }
      for (const KnownAnswer& answer : known_answers()) {
        if (answer.workload == kind && answer.grid_size == size) {
          plan.segments.push_back(answer);
        }
      }
    }
  }
  return plan;
}

namespace {

// splitmix64: small, fast, and the same sequence on every build.
std::uint64_t next_random(std::uint64_t& state) {
  state += 0x9e3779b97f4a7c15ULL;
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

} // namespace

bool PulseSchedule::on_at(std::int64_t t_ms) {
  while (t_ms >= end_ms_) {
    const auto span = static_cast<std::uint64_t>(longest_ms - shortest_ms + 1);
    end_ms_ += shortest_ms + static_cast<std::int64_t>(next_random(state_) % span);
    on_ = !on_;
  }
  return on_;
}

std::uint64_t mix_seed(std::uint64_t a, std::uint64_t b) {
  std::uint64_t state = a ^ (b * 0x9e3779b97f4a7c15ULL);
  return next_random(state);
}

} // namespace velto
