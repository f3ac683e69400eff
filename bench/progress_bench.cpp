// What the timed loop costs besides the workload: the reporter's redraw of the
// progress line (once per iteration, under the console lock) and a worker's
// two slot stores. Both must stay far below one step (about 1 ms at N = 64 on
// one core), or the score measures bookkeeping rather than the solver.
#include "bench/run_records.hpp"
#include "bench/worker.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <ostream>
#include <streambuf>

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

} // namespace

BENCHMARK_MAIN();
