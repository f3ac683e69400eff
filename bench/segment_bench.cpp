// What a stability segment is made of, each part on its own: one step with
// the workload's checks (a segment makes S of them), the standing wave's
// closing energy sum and the field hash that end it, and the ways back to the
// initial state before the next one: the standing wave's initialize(), the
// soft gaussian's restart (both blocks zeroed, then initialize()) or a copy of
// both fields from a prepared one.
// The hash and the restart are paid once per segment, so their cost against
// S steps is what the stress test loses against the benchmark's rate.
//
// bytes/s counts what each part must move at least: the hash and the energy
// sum read both blocks once; the restart writes them once; the copy reads and
// writes them once; initialize() writes E's block and reads and writes H's
// (its H half-step), counted as three blocks.
#include "solver/field.hpp"
#include "solver/field_hash.hpp"
#include "solver/kernels.hpp"
#include "solver/known_answers.hpp"
#include "solver/workload.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace velto {
namespace {

// One initialised workload at a time, shared by every benchmark of its kind
// and size: the largest grid takes 1 GiB and seconds to set up. Its steps go
// on from one benchmark run to the next, as the soft gaussian's checks expect.
struct Prepared {
  std::unique_ptr<Workload> workload;
  WorkloadKind kind = WorkloadKind::standing_wave;
  std::uint64_t size = 0;
  std::uint64_t next_step = 0;

  FieldSolver* solver() { return dynamic_cast<FieldSolver*>(workload.get()); }
};

Prepared* prepared_of(WorkloadKind kind, std::uint64_t n) {
  static Prepared prepared;
  if (prepared.workload && prepared.kind == kind && prepared.size == n) {
    return &prepared;
  }
  prepared = Prepared{};
  std::unique_ptr<Workload> fresh = make_workload(kind, 0);
  if (!fresh || fresh->allocate(FieldConfig{false, n, run_dx}) || fresh->initialize()) {
    return nullptr;
  }
  prepared = Prepared{std::move(fresh), kind, n, 0};
  return prepared.solver() != nullptr ? &prepared : nullptr;
}

// The prepared standing wave at n; null, with the benchmark marked skipped,
// when it cannot be had.
FieldSolver* standing_wave_or_skip(benchmark::State& state, std::uint64_t n) {
  Prepared* prepared = prepared_of(WorkloadKind::standing_wave, n);
  if (prepared == nullptr) {
    state.SkipWithError("the workload could not be set up");
    return nullptr;
  }
  return prepared->solver();
}

double block_bytes(std::uint64_t n) {
  return static_cast<double>(field_bytes(n));
}

void set_bytes(benchmark::State& state, double bytes_per_iteration) {
  state.counters["bytes/s"] =
      benchmark::Counter(bytes_per_iteration * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate, benchmark::Counter::kIs1024);
}

// before_step, step and after_step as the timed loop makes them.
void checked_step(benchmark::State& state, WorkloadKind kind, std::uint64_t n) {
  Prepared* prepared = prepared_of(kind, n);
  if (prepared == nullptr) {
    state.SkipWithError("the workload could not be set up");
    return;
  }
  FieldSolver& solver = *prepared->solver();
  for (auto _ : state) {
    const std::uint64_t index = prepared->next_step++;
    if (solver.before_step(index) || solver.step() || solver.after_step(index)) {
      state.SkipWithError("a check failed");
      return;
    }
  }
  state.counters["updates/s"] =
      benchmark::Counter(static_cast<double>(solver.updates_per_step() * state.iterations()),
                         benchmark::Counter::kIsRate);
  // The steps of the known answer's segment at this size, in seconds: 1/S
  // per iteration as an inverted rate is S times the time of one step.
  for (const KnownAnswer& entry : known_answers()) {
    if (entry.workload == kind && entry.grid_size == n) {
      state.counters["segment_s"] = benchmark::Counter(
          1.0 / static_cast<double>(entry.steps),
          benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    }
  }
}

void hash(benchmark::State& state, std::uint64_t n) {
  FieldSolver* solver = standing_wave_or_skip(state, n);
  if (solver == nullptr) {
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(field_hash(solver->state()));
  }
  set_bytes(state, 2.0 * block_bytes(n));
}

// validate() of a standing-wave segment: the energy sum over both fields.
void energy_sum(benchmark::State& state, std::uint64_t n) {
  FieldSolver* solver = standing_wave_or_skip(state, n);
  if (solver == nullptr) {
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(total_energy(solver->state()));
  }
  set_bytes(state, 2.0 * block_bytes(n));
}

// What a soft-gaussian segment pays before its steps. Its steps start again
// from the initial state, so a later step benchmark's checks still hold.
void restart_soft_gaussian(benchmark::State& state, std::uint64_t n) {
  Prepared* prepared = prepared_of(WorkloadKind::soft_gaussian, n);
  if (prepared == nullptr) {
    state.SkipWithError("the workload could not be set up");
    return;
  }
  for (auto _ : state) {
    if (prepared->solver()->restart()) {
      state.SkipWithError("restart failed");
      return;
    }
    benchmark::ClobberMemory();
  }
  prepared->next_step = 0;
  set_bytes(state, 2.0 * block_bytes(n));
}

void initialize(benchmark::State& state, std::uint64_t n) {
  FieldSolver* solver = standing_wave_or_skip(state, n);
  if (solver == nullptr) {
    return;
  }
  for (auto _ : state) {
    if (solver->initialize()) {
      state.SkipWithError("initialize failed");
      return;
    }
    benchmark::ClobberMemory();
  }
  set_bytes(state, 3.0 * block_bytes(n));
}

void copy_fields(benchmark::State& state, std::uint64_t n) {
  FieldSolver* solver = standing_wave_or_skip(state, n);
  if (solver == nullptr) {
    return;
  }
  // The prepared copy, allocated and written once like a thread's own fields.
  FieldState prepared(FieldConfig{false, n, run_dx});
  if (prepared.e.nodes.empty() || prepared.h.nodes.empty()) {
    state.SkipWithError("field allocation failed");
    return;
  }
  FieldState& fields = solver->state();
  const std::size_t bytes = prepared.e.nodes.count() * sizeof(FieldNode);
  std::memcpy(prepared.e.nodes.data(), fields.e.nodes.data(), bytes);
  std::memcpy(prepared.h.nodes.data(), fields.h.nodes.data(), bytes);
  for (auto _ : state) {
    std::memcpy(fields.e.nodes.data(), prepared.e.nodes.data(), bytes);
    std::memcpy(fields.h.nodes.data(), prepared.h.nodes.data(), bytes);
    benchmark::ClobberMemory();
  }
  set_bytes(state, 4.0 * block_bytes(n));
}

} // namespace
} // namespace velto

int main(int argc, char** argv) {
  using velto::WorkloadKind;
  benchmark::Initialize(&argc, argv);
  // Grouped by workload and size so each grid is built once.
  for (const WorkloadKind kind : {WorkloadKind::standing_wave, WorkloadKind::soft_gaussian}) {
    const std::string name(velto::name_of_choice(velto::workload_table, kind));
    for (const std::uint64_t n : {64u, 128u, 192u, 256u}) {
      const std::string suffix = "/" + std::to_string(n);
      benchmark::RegisterBenchmark(("step/" + name + suffix).c_str(), velto::checked_step, kind, n)
          ->Unit(benchmark::kMillisecond);
      if (kind == WorkloadKind::standing_wave && (n == 64 || n == 192)) {
        benchmark::RegisterBenchmark(("field_hash" + suffix).c_str(), velto::hash, n)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("initialize" + suffix).c_str(), velto::initialize, n)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("copy_fields" + suffix).c_str(), velto::copy_fields, n)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("total_energy" + suffix).c_str(), velto::energy_sum, n)
            ->Unit(benchmark::kMillisecond);
      }
      if (kind == WorkloadKind::soft_gaussian && (n == 64 || n == 192)) {
        benchmark::RegisterBenchmark(("restart/" + name + suffix).c_str(),
                                     velto::restart_soft_gaussian, n)
            ->Unit(benchmark::kMillisecond);
      }
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
