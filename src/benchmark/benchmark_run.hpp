// The benchmark's work on each thread: allocate, initialise, then step until
// the coarse timer says the time is up, validate and deliver one result; and
// the live progress line of the reporter.
#pragma once

#include "benchmark/run_records.hpp"
#include "engine/run_engine.hpp"
#include "engine/thread_fields.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

namespace velto {

/// The benchmark as a kind of run. Its results and the reporter's facts are
/// read after the join.
class BenchmarkRun final : public RunKind {
public:
  /// Throws std::bad_alloc when room for every thread's workload and result
  /// cannot be had.
  BenchmarkRun(const RunParameters& parameters, const WorkloadFactory& workloads, RunFacts& facts);

  bool prepare(Worker& worker) override;
  bool initialize(Worker& worker) override;
  void ready(Worker& worker) override;
  void work(Worker& worker) override;
  void release(Worker& worker) noexcept override;

  /// One per thread that validated, in the order they finished.
  std::vector<ThreadResult>& results() { return results_; }

private:
  struct LoopEnd {
    std::uint64_t iterations = 0;
    std::int64_t coarse_ms = 0;
    std::int64_t fast_us = 0;
    std::int64_t fast_s = 0;
  };
  // One step; false when it failed (the thread has said why) or the run was stopped.
  static bool step(const Worker& worker, Workload& workload, std::uint64_t iteration);
  // The timed loop; nothing when the thread failed or the run was stopped.
  std::optional<LoopEnd> timed_loop(Worker& worker, Workload& workload);
  void deliver(Worker& worker, Workload& workload, const LoopEnd& end);

  const RunParameters& parameters_;
  const WorkloadFactory& workloads_;
  RunFacts& facts_;                                    ///< written by the reporter only
  std::vector<std::unique_ptr<Workload>> workload_of_; ///< each entry its own thread's
  std::vector<ThreadResult> results_;                  ///< under the results lock
  FieldsClock clock_;                                  ///< the reporter's
};

/// Rewrites the live line "\rbenchmarking... {}/{}s {:>16.4g} MGups  {} iterations"
/// (rates summed, largest iteration count) without a newline, and flushes.
void print_progress(std::ostream& out, std::int64_t elapsed_seconds, std::uint64_t duration,
                    const ProgressBoard& board);

} // namespace velto
