// Throughput of the timed work at three grid sizes: the two half-steps, the
// energy sum and the standing wave's per-step sample verification.
//
// Updates are counted as the score counts them, N³ per half-step; bytes assume
// 96 per node update (the other field read once, the own field read and
// written once), which is the floor of the half-steps' memory traffic when the
// neighbour rows stay in cache. The energy sum reads both fields once: 64
// bytes per node of positions 2..N.
#include "solver/kernels.hpp"
#include "solver/standing_wave.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

namespace velto {
namespace {

// One initialised standing wave at a time: the largest grid takes 5.8 GB and
// several seconds to set up, so every benchmark of a size shares it.
StandingWave* wave_of_size(std::uint64_t n) {
  static std::unique_ptr<StandingWave> wave;
  static std::uint64_t size = 0;
  if (wave && size == n) {
    return wave.get();
  }
  wave.reset();
  size = 0;
  auto fresh = std::make_unique<StandingWave>(0);
  if (fresh->allocate(FieldConfig{false, n, 0.01}) || fresh->initialize()) {
    return nullptr;
  }
  wave = std::move(fresh);
  size = n;
  return wave.get();
}

void set_rates(benchmark::State& state, double items_per_iteration, double bytes_per_item) {
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["updates/s"] =
      benchmark::Counter(items_per_iteration * iterations, benchmark::Counter::kIsRate);
  state.counters["bytes/s"] =
      benchmark::Counter(items_per_iteration * bytes_per_item * iterations,
                         benchmark::Counter::kIsRate, benchmark::Counter::kIs1024);
}

template <bool (*Kernel)(FieldState&)> void half_step(benchmark::State& state, std::uint64_t n) {
  StandingWave* wave = wave_of_size(n);
  if (wave == nullptr) {
    state.SkipWithError("field allocation failed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(Kernel(wave->state()));
    benchmark::ClobberMemory();
  }
  set_rates(state, static_cast<double>(n * n * n), 96.0);
}

void energy_sum(benchmark::State& state, std::uint64_t n) {
  StandingWave* wave = wave_of_size(n);
  if (wave == nullptr) {
    state.SkipWithError("field allocation failed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(total_energy(wave->state()));
  }
  const auto nodes = static_cast<double>((n - 1) * (n - 1) * (n - 1));
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["nodes/s"] = benchmark::Counter(nodes * iterations, benchmark::Counter::kIsRate);
  state.counters["bytes/s"] = benchmark::Counter(
      nodes * 64.0 * iterations, benchmark::Counter::kIsRate, benchmark::Counter::kIs1024);
}

void node_verification(benchmark::State& state, std::uint64_t n) {
  StandingWave* wave = wave_of_size(n);
  if (wave == nullptr) {
    state.SkipWithError("field allocation failed");
    return;
  }
  for (auto _ : state) {
    if (wave->after_step(0)) {
      state.SkipWithError("node verification failed");
      return;
    }
  }
  const std::size_t m = wave->samples_per_axis();
  const auto samples = static_cast<double>(m * m * m);
  state.counters["samples/s"] = benchmark::Counter(
      samples * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  // What the check costs against the two half-steps it follows.
  state.counters["samples/step"] = samples;
}

} // namespace
} // namespace velto

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Grouped by size so each grid is built once.
  for (const std::uint64_t n : {64u, 192u, 448u}) {
    const std::string suffix = "/" + std::to_string(n);
    benchmark::RegisterBenchmark(("update_h" + suffix).c_str(), velto::half_step<velto::update_h>,
                                 n)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("update_e" + suffix).c_str(), velto::half_step<velto::update_e>,
                                 n)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("total_energy" + suffix).c_str(), velto::energy_sum, n)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("node_verification" + suffix).c_str(), velto::node_verification,
                                 n)
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
