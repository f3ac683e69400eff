// The stability test's decisions: the plan for a request on a machine, the
// thinned rate series, the pulse schedule, the slow marks and the lines.
#include "platform/memory_ledger.hpp"
#include "solver/field.hpp"
#include "stress/stress_plan.hpp"
#include "stress/stress_run.hpp"
#include "stress/stress_test.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <variant>
#include <vector>

namespace velto {
namespace {

// `cores` cores of `smt` processors at `level`, core c's processor j being os
// number first_os + smt·c + j, in one node and one cache.
Topology cores_of(std::uint32_t cores, std::uint32_t smt, std::uint32_t level = 0,
                  std::uint32_t first_os = 0, Topology topology = {}) {
  topology.perf_level_count = std::max(topology.perf_level_count, level + 1);
  if (topology.nodes.empty()) {
    topology.nodes.emplace_back().llcs.emplace_back();
  }
  Llc& llc = topology.nodes[0].llcs[0];
  for (std::uint32_t c = 0; c < cores; ++c) {
    Core core;
    core.id = static_cast<std::uint32_t>(llc.cores.size());
    core.perf_level = level;
    for (std::uint32_t j = 0; j < smt; ++j) {
      core.logicals.push_back({j, core.id, first_os + smt * c + j, 0});
    }
    llc.cores.push_back(core);
  }
  return topology;
}

// Memory for `threads` threads' fields at 64 and `size`, as the ledger counts it.
std::uint64_t memory_for(std::uint64_t threads, std::uint64_t size) {
  const std::uint64_t charge =
      fields_per_thread * (ledger_charge(field_bytes(64)) + ledger_charge(field_bytes(size)));
  std::uint64_t bytes = charge * threads;
  while (ledger_budget(bytes) < charge * threads) {
    bytes += bytes / 64;
  }
  return bytes;
}

TEST(StressPlan, ThreadsSizesSegmentsAndWalkForEachRequest) {
  using Sizes = std::vector<std::uint64_t>;
  struct Case {
    std::string name;
    StressRequest request;
    std::uint64_t memory;
    std::uint32_t threads;
    Sizes sizes;
    std::size_t segments;
  };
  StressRequest cycle;
  cycle.load = StressLoad::cycle;
  StressRequest three;
  three.thread_count = 3;
  StressRequest nine;
  nine.thread_count = 9;
  StressRequest one_kind;
  one_kind.grid_size = 128;
  one_kind.workload = WorkloadKind::soft_gaussian;
  const Case cases[] = {
      {"every processor, both sizes", {}, 0, 4, {64, 192}, 4},
      {"cycle: one thread", cycle, 0, 1, {64, 192}, 4},
      {"-n limits", three, 0, 3, {64, 192}, 4},
      {"-n beyond the processors", nine, 0, 4, {64, 192}, 4},
      {"192 does not fit: 128", {}, memory_for(3, 192), 4, {64, 128}, 4},
      {"the ledger has the last word", {}, memory_for(2, 128), 2, {64, 128}, 4},
      {"one size, one workload", one_kind, 0, 4, {128}, 1},
  };
  for (const Case& c : cases) {
    const auto made = make_stress_plan(c.request, cores_of(2, 2), c.memory);
    ASSERT_TRUE(std::holds_alternative<StressPlan>(made)) << c.name;
    const StressPlan& plan = std::get<StressPlan>(made);
    EXPECT_EQ(plan.threads, c.threads) << c.name;
    EXPECT_EQ(plan.grid_sizes, c.sizes) << c.name;
    ASSERT_EQ(plan.segments.size(), c.segments) << c.name;
    for (const KnownAnswer& segment : plan.segments) {
      EXPECT_NE(std::find(c.sizes.begin(), c.sizes.end(), segment.grid_size), c.sizes.end());
    }
  }
}

TEST(StressPlan, A32BitProgramsAddressSpaceLimitsItsFields) {
  // Six threads' fields at 64 and 192 fit in 3 GiB, twenty at 64 and 128.
  for (const auto& [processors, threads, largest] :
       {std::tuple{6u, 6u, 192u}, std::tuple{8u, 8u, 128u}, std::tuple{32u, 20u, 128u}}) {
    const auto made = make_stress_plan({}, cores_of(processors, 1), 0, UINT32_MAX);
    ASSERT_TRUE(std::holds_alternative<StressPlan>(made)) << processors;
    EXPECT_EQ(std::get<StressPlan>(made).threads, threads) << processors;
    EXPECT_EQ(std::get<StressPlan>(made).grid_sizes.back(), largest) << processors;
  }
}

TEST(StressPlan, WalksEachLevelsCoresBeforeTheirSiblings) {
  const Topology hybrid = cores_of(2, 1, 1, 4, cores_of(2, 2));
  const auto made = make_stress_plan({}, hybrid, 0);
  ASSERT_TRUE(std::holds_alternative<StressPlan>(made));
  std::vector<std::uint32_t> order;
  std::vector<std::uint32_t> levels;
  for (const StressProcessor& p : std::get<StressPlan>(made).walk) {
    order.push_back(p.logical.os);
    levels.push_back(p.perf_level);
  }
  EXPECT_EQ(order, (std::vector<std::uint32_t>{0, 2, 1, 3, 4, 5}));
  EXPECT_EQ(levels, (std::vector<std::uint32_t>{0, 0, 0, 0, 1, 1}));
}

TEST(StressPlan, RefusesWhatItCannotTest) {
  StressRequest unknown_size;
  unknown_size.grid_size = 320;
  struct Case {
    StressRequest request;
    Topology topology;
    std::uint64_t memory;
    std::string refusal;
  };
  const Case cases[] = {
      {unknown_size, cores_of(2, 1), 0,
       "Invalid size '320' for a stability test, must be one of: 64, 128, 192, 256"},
      {{},
       Topology{},
       0,
       "the stability test pins its threads and no processor topology was detected; aborting"},
      {{},
       cores_of(2, 1),
       1024,
       "not enough memory for one thread of the stability test at 64 and 128; aborting"},
  };
  for (const Case& c : cases) {
    const auto made = make_stress_plan(c.request, c.topology, c.memory);
    ASSERT_TRUE(std::holds_alternative<std::string>(made)) << c.refusal;
    EXPECT_EQ(std::get<std::string>(made), c.refusal);
  }
}

TEST(StressTally, SeriesThinsToEvenlySpacedPoints) {
  for (const std::size_t added : {std::size_t{1999}, std::size_t{2001}, std::size_t{9000}}) {
    ProcessorTally tally;
    for (std::size_t i = 0; i < added; ++i) {
      add_point(tally, {static_cast<double>(i), WorkloadKind::standing_wave, 64, 1.0, true});
    }
    ASSERT_LE(tally.series.size(), max_series_points) << added;
    EXPECT_GE(tally.series.size(), max_series_points / 2) << added;
    EXPECT_EQ(tally.series.front().t_s, 0.0) << added;
    for (std::size_t i = 1; i < tally.series.size(); ++i) {
      ASSERT_EQ(tally.series[i].t_s - tally.series[i - 1].t_s, static_cast<double>(tally.stride))
          << added << " at " << i;
    }
  }
}

TEST(PulseSchedule, SameSeedSameIntervalsWithinBounds) {
  const auto intervals = [](std::uint64_t seed) {
    PulseSchedule schedule(seed);
    std::vector<std::int64_t> ends;
    bool expected_on = true;
    for (std::int64_t t = 0; ends.size() < 200; ++t) {
      EXPECT_EQ(schedule.on_at(t), expected_on) << t;
      if (t + 1 == schedule.interval_end_ms()) {
        ends.push_back(schedule.interval_end_ms());
        expected_on = !expected_on;
      }
    }
    return ends;
  };
  const std::vector<std::int64_t> first = intervals(42);
  EXPECT_EQ(first, intervals(42));
  EXPECT_NE(first, intervals(43));
  std::int64_t previous = 0;
  for (const std::int64_t end : first) {
    EXPECT_GE(end - previous, PulseSchedule::shortest_ms);
    EXPECT_LE(end - previous, PulseSchedule::longest_ms);
    previous = end;
  }
}

TEST(StressRates, SlowMeansTenPercentBelowItsLevelsMedianForTheSameKind) {
  StressPlan plan;
  plan.segments = {{WorkloadKind::standing_wave, 64, 1, 0},
                   {WorkloadKind::soft_gaussian, 64, 1, 0}};
  // Level 0: 100, 100, 100, 85 (slow), 95; level 1, half as fast: 50, 50;
  // and one processor that never ran. Each soft gaussian segment runs at half
  // the rate: kept apart, it neither hides nor makes a slow processor.
  const std::vector<std::pair<std::uint32_t, double>> rates = {
      {0, 100}, {0, 100}, {0, 100}, {0, 85}, {0, 95}, {1, 50}, {1, 50}, {1, 0}};
  StressTally tally;
  for (std::uint32_t p = 0; p < rates.size(); ++p) {
    plan.walk.push_back({{0, p, p, 0}, 0, rates[p].first});
    ProcessorTally& t = tally.processors.emplace_back();
    const double r = rates[p].second;
    if (r > 0) {
      add_point(t, {1.0, WorkloadKind::standing_wave, 64, r, true});
      add_point(t, {2.0, WorkloadKind::standing_wave, 64, 3 * r, true});
      add_point(t, {3.0, WorkloadKind::standing_wave, 64, 999.0, false}); // an error's point
      add_point(t, {4.0, WorkloadKind::soft_gaussian, 64, r / 2, true});
    }
  }
  const std::vector<ProcessorRates> result = processor_rates(plan, tally);
  const std::vector<bool> slow = {false, false, false, true, false, false, false, false};
  for (std::size_t p = 0; p < rates.size(); ++p) {
    EXPECT_EQ(result[p].slow, std::vector<bool>(2, slow[p])) << p;
    if (rates[p].second > 0) {
      EXPECT_DOUBLE_EQ(*result[p].median[0], 2 * rates[p].second) << p;
      EXPECT_DOUBLE_EQ(*result[p].median[1], rates[p].second / 2) << p;
    } else {
      EXPECT_FALSE(result[p].median[0] || result[p].median[1]);
    }
  }
}

TEST(StressLines, StatusAndErrorLines) {
  EXPECT_EQ(segment_label({WorkloadKind::soft_gaussian, 192, 80, 0}), "sg 192");
  EXPECT_EQ(stress_status_line(3723, 120, 10, 1, 1234.56),
            "\rstability test 1:02:03/2:00:00  10 segments  1 error  1234.6 MGups");
  EXPECT_EQ(stress_status_line(5, 0, 0, 2, 0.0),
            "\rstability test 0:00:05 until Ctrl-C  0 segments  2 errors  0.0 MGups");
  const StressProcessor processor{{1, 3, 7, 1}, 0, 0};
  StressError hash{12.5, 0, 2, WorkloadKind::soft_gaussian, 192, 4, 0xabcull, 0x1ull, ""};
  EXPECT_EQ(stress_error_line(hash, processor),
            "error at 12.500s on processor 1:7 (core 3, node 0), thread 2, soft_gaussian at 192: "
            "hash 0x0000000000000001 instead of the known answer 0x0000000000000abc");
  EXPECT_EQ(one_line("\nenergy ratio failure in thread 0\nenergy_init = 1.0\n\n"),
            "energy ratio failure in thread 0; energy_init = 1.0");
  StressError check{0.25, 0, 0, WorkloadKind::standing_wave, 64, 0, {}, {}, "energy check failed"};
  EXPECT_EQ(stress_error_line(check, {{0, 0, 0, 0}, 1, 0}),
            "error at 0.250s on processor 0 (core 0, node 1), thread 0, standing_wave at 64: "
            "energy check failed");
}

} // namespace
} // namespace velto
