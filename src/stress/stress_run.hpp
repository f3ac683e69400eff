// The stability test as a kind of run: each thread runs segments (the
// workload from its initial state for the steps of a known answer, with
// every check, then the hash of both fields compared with that answer),
// moving to another processor after each, and the tally of what every
// processor did.
#pragma once

#include "engine/run_engine.hpp"
#include "engine/thread_fields.hpp"
#include "solver/field.hpp"
#include "solver/workload.hpp"
#include "stress/stress_plan.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

/// One segment's point of a processor's rate series.
struct SegmentPoint {
  double t_s = 0.0; ///< seconds from the common start to the segment's end
  WorkloadKind workload = WorkloadKind::standing_wave;
  std::uint64_t grid_size = 0;
  double rate_mgups = 0.0; ///< its steps' updates over its time, restart and hash included
  bool ok = true;
};

/// One error: a hash that differed from the known answer or a failed check.
struct StressError {
  double t_s = 0.0;
  std::uint32_t processor = 0; ///< position in the plan's walk
  std::uint32_t thread = 0;
  WorkloadKind workload = WorkloadKind::standing_wave;
  std::uint64_t grid_size = 0;
  std::uint64_t segment = 0;                  ///< the thread's own count of segments before it
  std::optional<std::uint64_t> expected_hash; ///< set for a hash that differed
  std::optional<std::uint64_t> found_hash;
  std::string message; ///< the check's own message; empty for a hash
};

/// What one processor of the walk did.
struct ProcessorTally {
  std::uint64_t segments = 0; ///< verified and in error
  std::uint64_t errors = 0;
  std::optional<double> first_error_s;
  /// One point per segment, thinned: when it reaches the most it may hold,
  /// every other point goes and only every `stride`-th segment is kept.
  std::vector<SegmentPoint> series;
  std::uint64_t stride = 1;
  std::uint64_t skipped = 0; ///< segments since the last point kept
};

/// The most points a processor's series keeps, and the most errors kept.
inline constexpr std::size_t max_series_points = 2000;
inline constexpr std::size_t max_kept_errors = 1000;

/// Appends `point`, thinning the series as ProcessorTally says.
void add_point(ProcessorTally& tally, const SegmentPoint& point);

/// How a stability test ended.
enum class StressEnd : std::uint8_t { finished, interrupted, stopped_on_error, failed };

inline constexpr NameTable<StressEnd, 4> stress_end_table = {{
    {StressEnd::finished, "finished"},
    {StressEnd::interrupted, "interrupted"},
    {StressEnd::stopped_on_error, "stopped_on_error"},
    {StressEnd::failed, "failed"},
}};

/// Everything a test leaves for its table, verdict and record.
struct StressTally {
  std::vector<ProcessorTally> processors; ///< one per entry of the walk
  std::vector<StressError> errors;        ///< the first max_kept_errors
  std::uint64_t error_count = 0;
  std::uint64_t segments = 0;
  double elapsed_s = 0.0;
  std::int64_t init_ms = -1;
};

/// The settings of a test, read-only while it lasts.
struct StressParameters {
  StressPlan plan;
  StressRequest request;
  std::uint64_t seed = 0;
  bool large_pages = false;
};

class StressRun final : public RunKind {
public:
  /// Each thread's solvers come from `workloads` (make_workload, or in tests
  /// one that corrupts a value); a workload that is no FieldSolver fails its
  /// thread. Throws std::bad_alloc when its bookkeeping cannot be had.
  StressRun(const StressParameters& parameters, const WorkloadFactory& workloads,
            StressTally& tally);
  ~StressRun() override;

  bool prepare(Worker& worker) override;
  bool initialize(Worker& worker) override;
  void ready(Worker& worker) override;
  void work(Worker& worker) override;
  void release(Worker& worker) noexcept override;

  /// Segments verified so far by every thread, and errors found.
  std::uint64_t segments_done() const { return segments_done_.load(std::memory_order_relaxed); }
  std::uint64_t errors_found() const { return errors_found_.load(std::memory_order_relaxed); }

private:
  struct Fields;      // one thread's workloads and fields at one size
  struct ThreadState; // one thread's fields at every size
  struct SegmentEnd;
  enum class Wait : std::uint8_t { go, stop };

  Fields* take_turn(Worker& worker, ThreadState& thread, const KnownAnswer& answer);
  std::optional<StatusMessage> step_through(Worker& worker, FieldSolver& solver,
                                            const KnownAnswer& answer, std::int64_t& paused_ticks);
  std::optional<SegmentEnd> run_segment(Worker& worker, ThreadState& thread,
                                        const KnownAnswer& answer);
  bool step_allowed(Worker& worker, std::int64_t& paused_ticks);
  bool time_is_up(const Worker& worker) const;
  void draw_status(Worker& worker, bool force);
  void record(Worker& worker, std::uint32_t processor, const KnownAnswer& answer,
              std::uint64_t segment, const SegmentEnd& end);
  std::uint32_t next_processor(std::uint32_t from, double arrived_s, double now_s);
  double seconds_since_start(const Worker& worker) const;

  const StressParameters& parameters_;
  const WorkloadFactory& workloads_;
  StressTally& tally_; ///< under the run's results lock
  std::vector<std::unique_ptr<ThreadState>> threads_;
  std::unique_ptr<std::atomic<bool>[]> busy_; ///< per walk entry: a thread is on it
  /// Per walk entry: the next kind of segment it runs, so that every
  /// processor runs every kind in turn whatever the walk's length.
  std::unique_ptr<std::atomic<std::uint64_t>[]> next_kind_;
  std::mutex walk_lock_;
  std::mutex pulse_lock_;
  PulseSchedule pulse_;
  std::atomic<std::uint64_t> segments_done_{0};
  std::atomic<std::uint64_t> errors_found_{0};
  std::int64_t start_ticks_ = 0;  ///< fast timer at the common start
  std::int64_t coarse_start_ = 0; ///< coarse timer at the common start
  FieldsClock clock_;             ///< the reporter's
  std::int64_t last_draw_s_ = -1; ///< the reporter's
};

/// "\rstability test {elapsed}/{planned}  {n} segments  {e} errors  {rate} MGups"
/// without a newline; times as h:mm:ss, the planned one "until Ctrl-C" for 0.
std::string stress_status_line(std::int64_t elapsed_s, std::uint32_t minutes,
                               std::uint64_t segments, std::uint64_t errors, double rate);

/// The lines of a check's message as one: empty lines dropped, the others
/// joined with "; ".
std::string one_line(std::string_view message);

/// "1:02:03" for 3723 seconds.
std::string clock_text(std::int64_t seconds);

/// "3" for processor 3 of group 0, "1:3" for processor 3 of group 1.
std::string processor_name(const LogicalProcessor& logical);

/// The error's line: when, where, what.
std::string stress_error_line(const StressError& error, const StressProcessor& processor);

} // namespace velto
