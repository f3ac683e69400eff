// The memory bandwidth probe behind --roofline: every thread of a run streams
// a daxpy-like update over arrays far beyond the last-level cache, placed as
// the run's threads are, and the best repeat gives the machine's bandwidth.
// A score divided by bandwidth / 96 bytes is the share of what memory allows.
#pragma once

#include "engine/placement.hpp"
#include "engine/run_problem.hpp"
#include "platform/machine.hpp"
#include "platform/topology.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace velto {

/// Bytes one counted grid-point update moves while the planes it reuses stay
/// in cache: the other field's newest plane read once, the own field read and
/// written once.
inline constexpr std::uint32_t bytes_per_update = 96;

/// Timed passes of the probe; the fastest counts.
inline constexpr std::uint32_t probe_repeats = 10;

/// The probe's arrays together hold at least this many times the bytes of all
/// last-level caches together.
inline constexpr std::uint64_t probe_cache_multiple = 8;

/// What the arrays aim for when memory allows it, however small the caches:
/// a longer pass makes the threads' staggered starts a smaller share of it.
inline constexpr std::uint64_t probe_target_bytes = std::uint64_t{1} << 30;

/// The bytes of one last-level cache when CPUID does not say.
inline constexpr std::uint64_t assumed_llc_bytes = std::uint64_t{32} << 20;

/// The bytes of all last-level caches of `topology` (at least one), each as
/// big as `cpuid` says or `assumed_llc_bytes`.
std::uint64_t llc_total_bytes(const Topology& topology, const CpuidSource& cpuid);

/// The probe's arrays: two per thread of `elements` doubles each.
struct ProbeSize {
  std::uint64_t elements = 0;          ///< per array
  std::uint64_t working_set_bytes = 0; ///< all threads' arrays together
  friend bool operator==(const ProbeSize&, const ProbeSize&) = default;
};

/// The arrays of `threads` threads: 1 GiB together, or the most below that
/// the ledger grants out of `available_memory` (unknown, 0, limits nothing)
/// and a 32-bit address space holds (when `size_max` is 32 bits wide), in
/// whole 64-byte lines per array; never less than 8 times `llc_total_bytes`.
/// The refusal's reason when even that does not fit.
std::variant<ProbeSize, std::string> size_probe(std::uint32_t threads,
                                                std::uint64_t llc_total_bytes,
                                                std::uint64_t available_memory,
                                                std::uint64_t size_max = SIZE_MAX);

/// y[i] = y[i] + a * x[i] for i < n: two arrays read, one written back in
/// place, as a half-step of the solver streams its fields.
void daxpy_pass(double* y, const double* x, std::size_t n, double a);

/// GB/s (10^9 bytes a second) of `bytes` moved in `ticks` of a timer of
/// `frequency` Hz; 0 when no time passed.
double bandwidth_gb_s(std::uint64_t bytes, std::int64_t ticks, std::int64_t frequency);

/// The roofline of `bandwidth_gb_s`: MGups at `bytes_per_update` bytes each.
double roofline_mgups(double bandwidth_gb_s);

/// The shortest repeat in ticks: for repeat r, the span from the earliest
/// start to the latest end over the threads. `starts` and `ends` hold
/// `repeats` entries per thread, thread after thread. 0 when none passed time.
std::int64_t best_span(const std::vector<std::int64_t>& starts,
                       const std::vector<std::int64_t>& ends, std::uint32_t repeats);

/// One measurement of the memory bandwidth, for one thread count and placement.
struct BandwidthMeasurement {
  std::uint32_t threads = 0;
  Threading threading = Threading::os;
  std::uint64_t working_set_bytes = 0;
  std::uint32_t repeats = 0;
  double bandwidth_gb_s = 0.0;
  double roofline_mgups = 0.0;
  double duration_s = 0.0; ///< the whole probe: allocation, first touch and repeats
};

/// How a probe ended: a measurement, or none (the reason was printed), and
/// whether the user interrupted it.
struct ProbeOutcome {
  std::optional<BandwidthMeasurement> measurement;
  bool interrupted = false;
};

/// "measuring memory bandwidth with 2 threads over 1.00 GiB..."
std::string measuring_line(std::uint32_t threads, std::uint64_t working_set_bytes);

/// "memory roofline: 558.47 MGups (53.61 GB/s at 96 bytes per update), score
/// at 96.9% of it".
std::string roofline_line(const BandwidthMeasurement& measurement, double score);

/// Measures the bandwidth with the threads and placement of `plan`:
/// says so on `out`, runs the probe on the run engine (Ctrl-C stops it) and
/// gives the best repeat. A probe that cannot run (memory, a timer that does
/// not move) says why on `err` and gives no measurement.
ProbeOutcome measure_bandwidth(const ThreadPlan& plan, Threading threading,
                               std::uint64_t llc_total_bytes, const Machine& machine,
                               std::ostream& out, std::ostream& err);

} // namespace velto
