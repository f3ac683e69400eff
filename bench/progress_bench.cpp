// What the timed loop costs besides the workload: the reporter's redraw of the
// progress line (once per iteration, under the console lock), a worker's two
// slot stores, and the reporter's rate sampler (a compare per iteration, a
// pass over the board once per second). All must stay far below one step
// (about 1 ms at N = 64 on one core), or the score measures bookkeeping rather
// than the solver.
#include "benchmark/benchmark_run.hpp"
#include "benchmark/rate_samples.hpp"
#include "benchmark/run_records.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <ostream>
#include <streambuf>
#include <vector>

namespace {

// Swallows everything, so the figure is the formatting and not a terminal.
class NullBuffer : public std::streambuf {
protected:
  int_type overflow(int_type c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void BM_PrintProgress(benchmark::State& state) {
  const auto threads = static_cast<std::uint32_t>(state.range(0));
  velto::ProgressBoard board(threads);
  for (std::uint32_t i = 0; i < threads; ++i) {
    board[i].rate = 1234.5 + i;
    board[i].iterations = 1000 + i;
  }
  NullBuffer sink;
  std::ostream out(&sink);
  std::int64_t elapsed = 0;
  for (auto _ : state) {
    velto::print_progress(out, elapsed++ % 30, 30, board);
  }
}
BENCHMARK(BM_PrintProgress)->Arg(1)->Arg(2)->Arg(16)->Arg(128);

void BM_SlotStores(benchmark::State& state) {
  velto::ProgressBoard board(1);
  velto::ProgressSlot& slot = board[0];
  std::uint64_t iterations = 0;
  const std::int64_t elapsed_ms = 1234;
  for (auto _ : state) {
    ++iterations;
    slot.rate.store(static_cast<double>(524288 * iterations) /
                        (static_cast<double>(elapsed_ms) * 1000.0),
                    std::memory_order_relaxed);
    slot.iterations.store(iterations, std::memory_order_relaxed);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_SlotStores);

// The per-iteration cost: the elapsed time has not reached the next second.
void BM_SamplerObserve(benchmark::State& state) {
  velto::ProgressBoard board(2);
  std::vector<velto::RateSample> buffer;
  buffer.reserve(velto::sample_capacity(30));
  velto::RateSampler sampler(buffer, 524288);
  std::int64_t elapsed_ms = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(elapsed_ms);
    sampler.observe(elapsed_ms, board);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_SamplerObserve);

// The once-a-second cost: a sample over every slot of the board (a fresh
// sampler each time, whose construction empties the reserved buffer).
void BM_SamplerTake(benchmark::State& state) {
  const auto threads = static_cast<std::uint32_t>(state.range(0));
  velto::ProgressBoard board(threads);
  std::vector<velto::RateSample> buffer;
  buffer.reserve(velto::sample_capacity(30));
  const std::int64_t elapsed_ms = 1000;
  for (auto _ : state) {
    velto::RateSampler sampler(buffer, 524288);
    sampler.observe(elapsed_ms, board);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_SamplerTake)->Arg(1)->Arg(16)->Arg(128);

} // namespace

BENCHMARK_MAIN();
