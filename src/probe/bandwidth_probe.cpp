// The memory bandwidth probe: its size, its stream, its timing and its lines.
#include "probe/bandwidth_probe.hpp"

#include "engine/run_engine.hpp"
#include "platform/compiler.hpp"
#include "platform/format.hpp"
#include "platform/memory.hpp"
#include "platform/memory_ledger.hpp"
#include "platform/output.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <limits>
#include <memory>

namespace velto {

namespace {

constexpr std::uint64_t line_doubles = 64 / sizeof(double);

bool probe_fits(std::uint64_t array_bytes, std::uint32_t threads, std::uint64_t available,
                std::uint64_t size_max) {
  const std::uint64_t arrays = std::uint64_t{2} * threads;
  if (!block_request_fits(array_bytes, size_max) ||
      ledger_sets_that_fit(available, array_bytes, arrays) == 0) {
    return false;
  }
  return size_max > UINT32_MAX || array_bytes * arrays <= address_space_budget_32;
}

// Whole lines of doubles per array, so that `bytes` spread over the arrays
// of `threads` threads.
std::uint64_t elements_for(std::uint64_t bytes, std::uint32_t threads) {
  const std::uint64_t arrays = std::uint64_t{2} * threads;
  const std::uint64_t lines = (bytes / arrays + 63) / 64;
  return std::max<std::uint64_t>(lines, 1) * line_doubles;
}

ProbeSize probe_size(std::uint64_t elements, std::uint32_t threads) {
  return {elements, elements * sizeof(double) * 2 * threads};
}

} // namespace

std::uint64_t llc_total_bytes(const Topology& topology, const CpuidSource& cpuid) {
  std::uint64_t llcs = 0;
  for (const NumaNode& node : topology.nodes) {
    llcs += node.llcs.size();
  }
  const std::uint64_t one = last_level_cache_bytes(cpuid);
  return std::max<std::uint64_t>(llcs, 1) * (one != 0 ? one : assumed_llc_bytes);
}

std::variant<ProbeSize, std::string> size_probe(std::uint32_t threads,
                                                std::uint64_t llc_total_bytes,
                                                std::uint64_t available_memory,
                                                std::uint64_t size_max) {
  const std::uint64_t least = elements_for(probe_cache_multiple * llc_total_bytes, threads);
  std::uint64_t elements = std::max(least, elements_for(probe_target_bytes, threads));
  const auto fits = [&](std::uint64_t n) {
    return probe_fits(n * sizeof(double), threads, available_memory, size_max);
  };
  // Halve towards the least size until it fits, then settle on the least.
  while (elements > least && !fits(elements)) {
    elements = std::max(least, elements / 2 / line_doubles * line_doubles);
  }
  if (!fits(elements)) {
    return fmt::format("not enough memory for its {} of arrays",
                       format_bytes(probe_size(least, threads).working_set_bytes));
  }
  return probe_size(elements, threads);
}

void daxpy_pass(double* y, const double* x, std::size_t n, double a) {
  VELTO_UNROLL(4)
  for (std::size_t i = 0; i < n; ++i) {
    y[i] = y[i] + a * x[i];
  }
}

double bandwidth_gb_s(std::uint64_t bytes, std::int64_t ticks, std::int64_t frequency) {
  if (ticks <= 0 || frequency <= 0) {
    return 0.0;
  }
  const double seconds = static_cast<double>(ticks) / static_cast<double>(frequency);
  return static_cast<double>(bytes) / seconds / 1e9;
}

double roofline_mgups(double bandwidth_gb_s) {
  return bandwidth_gb_s * 1e9 / bytes_per_update / 1e6;
}

std::int64_t best_span(const std::vector<std::int64_t>& starts,
                       const std::vector<std::int64_t>& ends, std::uint32_t repeats) {
  if (repeats == 0 || starts.size() != ends.size() || starts.empty()) {
    return 0;
  }
  const std::size_t threads = starts.size() / repeats;
  std::int64_t best = 0;
  for (std::uint32_t r = 0; r < repeats; ++r) {
    std::int64_t first = std::numeric_limits<std::int64_t>::max();
    std::int64_t last = std::numeric_limits<std::int64_t>::min();
    for (std::size_t t = 0; t < threads; ++t) {
      first = std::min(first, starts[t * repeats + r]);
      last = std::max(last, ends[t * repeats + r]);
    }
    const std::int64_t span = last - first;
    if (span > 0 && (best == 0 || span < best)) {
      best = span;
    }
  }
  return best;
}

std::string measuring_line(std::uint32_t threads, std::uint64_t working_set_bytes) {
  return fmt::format("measuring memory bandwidth with {} thread{} over {}...", threads,
                     threads > 1 ? "s" : "", format_bytes(working_set_bytes));
}

std::string roofline_line(const BandwidthMeasurement& measurement, double score) {
  return fmt::format("memory roofline: {:.2f} MGups ({:.2f} GB/s at {} bytes per update), score "
                     "at {:.1f}% of it",
                     measurement.roofline_mgups, measurement.bandwidth_gb_s, bytes_per_update,
                     score / measurement.roofline_mgups * 100.0);
}

namespace {

// The probe as a kind of run: each thread allocates and first-touches its own
// two arrays, then makes the repeats in step with the others, timing its pass.
class BandwidthProbe final : public RunKind {
public:
  BandwidthProbe(std::uint32_t threads, std::uint64_t elements, std::uint32_t repeats)
      : elements_(elements), repeats_(repeats), x_(threads, nullptr), y_(threads, nullptr),
        starts_(std::size_t{threads} * repeats, 0), ends_(std::size_t{threads} * repeats, 0) {}

  bool prepare(Worker& worker) override {
    const std::uint32_t i = worker.index();
    const std::size_t bytes = static_cast<std::size_t>(elements_ * sizeof(double));
    x_[i] = static_cast<double*>(alloc_aligned(bytes));
    y_[i] = static_cast<double*>(alloc_aligned(bytes));
    if (x_[i] == nullptr || y_[i] == nullptr) {
      worker.fail(fmt::format("memory bandwidth not measured: thread {} could not allocate its "
                              "arrays",
                              i),
                  RunIssue::could_not_prepare);
      return false;
    }
    return true;
  }

  bool initialize(Worker& worker) override {
    // Written by the thread that streams them, so that they lie on its node.
    const std::uint32_t i = worker.index();
    std::fill_n(x_[i], elements_, 1.0);
    std::fill_n(y_[i], elements_, 0.0);
    return true;
  }

  void ready(Worker&) override {}

  void work(Worker& worker) override {
    const std::uint32_t i = worker.index();
    const Machine& machine = worker.machine();
    for (std::uint32_t r = 0; r < repeats_; ++r) {
      if (!next_phase(worker.run(), worker)) { // every pass starts together
        return;
      }
      const std::int64_t start = machine.read_fast_timer();
      daxpy_pass(y_[i], x_[i], static_cast<std::size_t>(elements_), 1e-3);
      ends_[std::size_t{i} * repeats_ + r] = machine.read_fast_timer();
      starts_[std::size_t{i} * repeats_ + r] = start;
    }
  }

  void release(Worker& worker) noexcept override {
    const std::uint32_t i = worker.index();
    free_aligned(x_[i]);
    free_aligned(y_[i]);
    x_[i] = y_[i] = nullptr;
  }

  std::int64_t best() const { return best_span(starts_, ends_, repeats_); }

private:
  const std::uint64_t elements_;
  const std::uint32_t repeats_;
  std::vector<double*> x_;
  std::vector<double*> y_;
  std::vector<std::int64_t> starts_;
  std::vector<std::int64_t> ends_;
};

} // namespace

ProbeOutcome measure_bandwidth(const ThreadPlan& plan, Threading threading,
                               std::uint64_t llc_total_bytes, const Machine& machine,
                               std::ostream& out, std::ostream& err) {
  ProbeOutcome outcome;
  const std::uint32_t threads = plan.thread_count;
  const auto size = size_probe(threads, llc_total_bytes, machine.available_memory());
  if (const std::string* refusal = std::get_if<std::string>(&size)) {
    write_line(err, "memory bandwidth not measured: " + *refusal);
    return outcome;
  }
  const ProbeSize& probe = std::get<ProbeSize>(size);
  write_line(out, measuring_line(threads, probe.working_set_bytes));
  out.flush();

  const TimerInfo fast = machine.fast_timer_info();
  const std::int64_t t0 = machine.read_fast_timer();
  std::unique_ptr<RunState> state;
  std::unique_ptr<BandwidthProbe> kind;
  try {
    state = std::make_unique<RunState>(machine, threads, plan.plan, out, err);
    kind = std::make_unique<BandwidthProbe>(threads, probe.elements, probe_repeats);
  } catch (const std::exception&) {
    write_line(err, "memory bandwidth not measured: not enough memory to prepare its threads");
    return outcome;
  }
  state->interrupted_line = "memory bandwidth probe interrupted";
  const RunEnd end = run_workers(*state, *kind);
  outcome.interrupted = was_interrupted(state->problems);
  if (end != RunEnd::finished) {
    return outcome;
  }
  const double gb_s = bandwidth_gb_s(probe.working_set_bytes / 2 * 3, kind->best(),
                                     static_cast<std::int64_t>(fast.frequency));
  if (gb_s <= 0.0) {
    write_line(err, "memory bandwidth not measured: the fast timer did not advance");
    return outcome;
  }
  BandwidthMeasurement m;
  m.threads = threads;
  m.threading = threading;
  m.working_set_bytes = probe.working_set_bytes;
  m.repeats = probe_repeats;
  m.bandwidth_gb_s = gb_s;
  m.roofline_mgups = roofline_mgups(gb_s);
  m.duration_s = static_cast<double>(machine.read_fast_timer() - t0) /
                 static_cast<double>(fast.frequency); // positive: the bandwidth needed it
  outcome.measurement = m;
  return outcome;
}

} // namespace velto
