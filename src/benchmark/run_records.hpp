// The records that carry one benchmark run from the coordinator through the
// workers to the report and the record: parameters, results and the verdict.
#pragma once

#include "benchmark/run_config.hpp"
#include "engine/placement.hpp"
#include "engine/run_problem.hpp"
#include "solver/workload.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace velto {

/// The settings of one run, read-only while it lasts: the options as the
/// command line gave them, with the duration clamped, and the thread plan
/// they resolve to (thread_count keeps what was asked, 0 for the automatic
/// count; the plan holds the count that runs).
struct RunParameters : RunConfig {
  ThreadPlan thread_plan;
};

/// What one worker delivers once its fields validated.
struct ThreadResult {
  std::uint32_t thread_index = 0;
  std::int64_t coarse_ms = 0;   ///< coarse timer over the timed loop
  std::int64_t fast_us = 0;     ///< fast timer over the timed loop
  std::uint64_t iterations = 0; ///< completed solver steps
  std::uint64_t updates = 0;    ///< updates per step × iterations, wrapping
  friend bool operator==(const ThreadResult&, const ThreadResult&) = default;
};

/// One second of a run, as the reporter saw it.
struct RateSample {
  double t_s = 0.0;             ///< coarse-timer seconds since the loop began
  double rate_mgups = 0.0;      ///< all threads' updates since the last sample, per second
  std::uint64_t iterations = 0; ///< the fastest thread's completed steps
  friend bool operator==(const RateSample&, const RateSample&) = default;
};

/// What a result record keeps of a run beside its verdict.
struct RunFacts {
  std::uint32_t threads = 0;  ///< threads the run used; 0 when it never got that far
  std::uint32_t duration = 0; ///< seconds, after clamping
  /// Allocation and initialisation on the fast timer, ms; -1 when not reached.
  std::int64_t init_ms = -1;
  PlacementPlan plan; ///< processor of worker k; threads beyond its end are unpinned
  /// Once per coarse second of the reporter's loop; room reserved before the run.
  std::vector<RateSample> samples;
  /// Processor time other programs used during the reporter's loop, as a
  /// share of all logical processors × its wall time; nothing when unknown.
  std::optional<double> other_cpu_share;
};

/// What the workers of one run produced.
struct RunResult {
  RunEnd end = RunEnd::not_started;
  std::uint32_t expected_threads = 0;
  std::vector<ThreadResult> results; ///< in the order the workers finished
  WorkloadKind workload = WorkloadKind::standing_wave;
  /// What went wrong before or while the workers ran, in the order it happened.
  std::vector<RunProblem> problems;
  /// Written by the coordinator before the workers start and by the reporter
  /// (init_ms, samples, other_cpu_share) while they run; read after the join.
  RunFacts facts;
};

/// One thread's line of the result table.
struct ThreadScore {
  ThreadResult result;
  double seconds = 0.0; ///< fast-timer seconds of the timed loop
  double rate = 0.0;    ///< MGups: updates / 10^6 / seconds
};

/// The verdict of one run: valid with its score, or invalid with its reasons.
/// The two cannot mix: a valid verdict has no reasons, an invalid one no score.
class Verdict {
public:
  /// Invalid, for the reason that the run could not even be judged.
  Verdict() = default;
  static Verdict valid_with(double score) { return Verdict(score); }
  static Verdict invalid_for(std::vector<RunProblem> reasons) {
    return Verdict(std::move(reasons));
  }

  bool valid() const { return std::holds_alternative<double>(state_); }
  /// MGups, the sum of the thread rates; 0 for an invalid verdict.
  double score() const { return valid() ? std::get<double>(state_) : 0.0; }
  /// Why the run is invalid, in the order they happened; empty for a valid verdict.
  const std::vector<RunProblem>& reasons() const;
  /// True when the user interrupted the run.
  bool interrupted() const;

private:
  explicit Verdict(double score) : state_(score) {}
  explicit Verdict(std::vector<RunProblem> reasons) : state_(std::move(reasons)) {}
  std::variant<std::vector<RunProblem>, double> state_;
};

/// What a run leaves for the console and the record: its verdict, the thread
/// lines (when every thread delivered, whatever the verdict) and the facts.
struct ScoreReport {
  Verdict verdict;
  std::vector<ThreadScore> threads; ///< in the order the workers finished
  RunFacts facts;                   ///< as the run left them
  /// The memory roofline of the run's thread count (--roofline), MGups.
  std::optional<double> roofline_mgups;
};

} // namespace velto
