// The stability test's coordinator and its printouts.
#include "stress/stress_test.hpp"

#include "engine/console_text.hpp"
#include "engine/run_header.hpp"
#include "engine/statistics.hpp"
#include "platform/cpu.hpp"
#include "platform/format.hpp"
#include "platform/memory.hpp"
#include "platform/output.hpp"
#include "solver/field.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <memory>

namespace velto {

namespace {

std::string sizes_text(const std::vector<std::uint64_t>& sizes) {
  std::vector<std::string> grids;
  for (const std::uint64_t n : sizes) {
    grids.push_back(fmt::format("{0} x {0} x {0}", n));
  }
  return fmt::format("{}", fmt::join(grids, " and "));
}

void print_stress_header(const StressParameters& parameters, const Machine& machine,
                         const TimerInfo& fast, const TimerInfo& coarse, std::ostream& out) {
  const StressPlan& plan = parameters.plan;
  const StressRequest& request = parameters.request;
  std::uint64_t per_thread = 0;
  for (const std::uint64_t n : plan.grid_sizes) {
    per_thread += memory_per_thread(n);
  }
  print_run_header({plan.threads, "stability test", sizes_text(plan.grid_sizes), per_thread},
                   machine, out);
  describe_timers(fast, coarse, out);

  std::string load;
  switch (request.load) {
  case StressLoad::steady:
    load = "steady load, every thread moving to the next free processor after each segment";
    break;
  case StressLoad::cycle:
    load = fmt::format("cycle load, one thread moving to the next core every {}s", request.dwell_s);
    break;
  case StressLoad::pulse:
    load = fmt::format("pulse load switched on and off at random (seed {})", parameters.seed);
    break;
  }
  const std::string time = request.minutes == 0 ? std::string("until Ctrl-C")
                                                : fmt::format("for {} minute{}", request.minutes,
                                                              request.minutes > 1 ? "s" : "");
  write_line(out, fmt::format("stability test {}: {}", time, load));
  std::vector<std::string> segments;
  for (const KnownAnswer& answer : plan.segments) {
    segments.push_back(fmt::format("{} at {} ({} steps)",
                                   name_of_choice(workload_table, answer.workload),
                                   answer.grid_size, answer.steps));
  }
  write_line(out, fmt::format("segments: {}", fmt::join(segments, ", ")));
}

void print_table(const StressParameters& parameters, const StressTally& tally, std::ostream& out) {
  const StressPlan& plan = parameters.plan;
  const std::vector<ProcessorRates> rates = processor_rates(plan, tally);
  std::vector<std::string> header = {"processor", "core", "node", "verified", "errors"};
  for (const KnownAnswer& kind : plan.segments) {
    header.push_back(segment_label(kind));
  }
  header.push_back("first error");
  std::vector<TableRow> rows = {header};
  bool any_slow = false;
  for (std::size_t p = 0; p < plan.walk.size(); ++p) {
    const StressProcessor& processor = plan.walk[p];
    const ProcessorTally& t = tally.processors[p];
    std::vector<std::string> row = {
        processor_name(processor.logical), fmt::format("{}", processor.logical.core),
        fmt::format("{}", processor.node), fmt::format("{}", t.segments - t.errors),
        fmt::format("{}", t.errors)};
    for (std::size_t k = 0; k < plan.segments.size(); ++k) {
      const std::optional<double> median = rates[p].median[k];
      row.push_back(median ? fmt::format("{:.2f}{}", *median, rates[p].slow[k] ? "*" : " ")
                           : std::string("- "));
      any_slow = any_slow || rates[p].slow[k];
    }
    row.push_back(t.first_error_s ? fmt::format("{:.3f}s", *t.first_error_s) : std::string("-"));
    rows.push_back(std::move(row));
  }
  for (const std::string& line : table_lines(rows)) {
    write_line(out, line);
  }
  std::vector<std::string> legend;
  for (const KnownAnswer& kind : plan.segments) {
    const std::string label = segment_label(kind);
    const std::string initials = label.substr(0, label.find(' '));
    const std::string name(name_of_choice(workload_table, kind.workload));
    const std::string entry = initials + " " + name;
    if (std::find(legend.begin(), legend.end(), entry) == legend.end()) {
      legend.push_back(entry);
    }
  }
  write_line(out, fmt::format("median segment rates in MGups; {}", fmt::join(legend, ", ")));
  if (any_slow) {
    write_line(out, "* more than 10% below the median of its performance level");
  }
}

} // namespace

std::string segment_label(const KnownAnswer& kind) {
  // The initials of the workload's words: standing_wave is "sw".
  std::string initials;
  bool word_start = true;
  for (const char c : name_of_choice(workload_table, kind.workload)) {
    if (word_start && c != '_') {
      initials += c;
    }
    word_start = c == '_';
  }
  return fmt::format("{} {}", initials, kind.grid_size);
}

std::vector<ProcessorRates> processor_rates(const StressPlan& plan, const StressTally& tally) {
  const std::size_t kinds = plan.segments.size();
  std::vector<ProcessorRates> rates(plan.walk.size());
  for (std::size_t p = 0; p < plan.walk.size(); ++p) {
    rates[p].median.resize(kinds);
    rates[p].slow.assign(kinds, false);
    for (std::size_t k = 0; k < kinds; ++k) {
      std::vector<double> values;
      for (const SegmentPoint& point : tally.processors[p].series) {
        if (point.ok && point.grid_size == plan.segments[k].grid_size &&
            point.workload == plan.segments[k].workload) {
          values.push_back(point.rate_mgups);
        }
      }
      rates[p].median[k] = median_of(std::move(values));
    }
  }
  for (std::size_t p = 0; p < plan.walk.size(); ++p) {
    for (std::size_t k = 0; k < kinds; ++k) {
      if (!rates[p].median[k]) {
        continue;
      }
      std::vector<double> peers;
      for (std::size_t q = 0; q < plan.walk.size(); ++q) {
        if (plan.walk[q].perf_level == plan.walk[p].perf_level && rates[q].median[k]) {
          peers.push_back(*rates[q].median[k]);
        }
      }
      const std::optional<double> level = median_of(std::move(peers));
      rates[p].slow[k] = *rates[p].median[k] < 0.9 * *level;
    }
  }
  return rates;
}

bool stress_passed(const StressOutcome& outcome) {
  // No error in no segment proves nothing.
  if (outcome.tally.error_count != 0 || outcome.tally.segments == 0) {
    return false;
  }
  return outcome.end == StressEnd::finished ||
         (outcome.end == StressEnd::interrupted && outcome.parameters.request.minutes == 0);
}

void print_stress_verdict(const StressOutcome& outcome, std::ostream& out, std::ostream& err) {
  const StressTally& tally = outcome.tally;
  const std::string elapsed = clock_text(static_cast<std::int64_t>(tally.elapsed_s));
  if (outcome.end == StressEnd::failed && tally.segments == 0) {
    write_line(err, "verdict: the stability test could not run");
    return;
  }
  print_table(outcome.parameters, tally, out);
  if (tally.error_count == 0) {
    print_banner(out, "  no errors found ");
    const std::uint64_t verified = tally.segments;
    if (stress_passed(outcome)) {
      write_line(out, fmt::format("verdict: stable, {} segments verified in {} without an error",
                                  verified, elapsed));
    } else {
      write_line(out,
                 fmt::format(
                     "verdict: not proven, the test ended after {} of {}; {} "
                     "segments verified without an error",
                     elapsed,
                     clock_text(static_cast<std::int64_t>(outcome.parameters.request.minutes) * 60),
                     verified));
    }
    return;
  }
  std::vector<std::string> names;
  for (std::size_t p = 0; p < tally.processors.size(); ++p) {
    if (tally.processors[p].errors != 0) {
      names.push_back(processor_name(outcome.parameters.plan.walk[p].logical));
    }
  }
  print_banner(err, fmt::format("  errors on processor{} {} ", names.size() > 1 ? "s" : "",
                                fmt::join(names, ", ")));
  write_line(err, fmt::format("verdict: unstable, {} error{} in {} segments on {} processor{}",
                              tally.error_count, tally.error_count > 1 ? "s" : "", tally.segments,
                              names.size(), names.size() > 1 ? "s" : ""));
}

StressOutcome run_stress(StressParameters parameters, const Machine& machine,
                         const WorkloadFactory& workloads, std::ostream& out, std::ostream& err) {
  StressOutcome outcome;
  outcome.parameters = std::move(parameters);
  const StressParameters& p = outcome.parameters;
  try {
    PlacementPlan pins;
    for (std::uint32_t t = 0; t < p.plan.threads && t < p.plan.walk.size(); ++t) {
      pins.push_back(p.plan.walk[t].logical);
    }
    RunState state(machine, p.plan.threads, std::move(pins), out, err);
    // With no time asked for, Ctrl-C is the test's normal end.
    state.interrupted_line = p.request.minutes == 0 ? "" : "stability test interrupted";
    StressRun kind(p, workloads, outcome.tally);
    state.fast_timer = machine.fast_timer_info();
    state.coarse_timer = machine.coarse_timer_info();
    init_large_pages();
    print_stress_header(p, machine, state.fast_timer, state.coarse_timer, out);
    // No score comes from this mode: the timers are stated, never judged.
    run_workers(state, kind);
    outcome.problems = state.problems;
  } catch (const std::exception& error) {
    const std::string message = fmt::format("the stability test failed: {}", error.what());
    write_line(err, message);
    outcome.problems.push_back({RunIssue::could_not_prepare, message});
  }
  const bool interrupted = was_interrupted(outcome.problems);
  if (!outcome.problems.empty() && !interrupted) {
    outcome.end = StressEnd::failed;
  } else if (p.request.stop_on_error && outcome.tally.error_count != 0) {
    outcome.end = StressEnd::stopped_on_error;
  } else if (interrupted) {
    outcome.end = StressEnd::interrupted;
  } else {
    outcome.end = StressEnd::finished;
  }
  print_stress_verdict(outcome, out, err);
  return outcome;
}

} // namespace velto
