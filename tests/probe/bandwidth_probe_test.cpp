#include "probe/bandwidth_probe.hpp"

#include "support/scripted_machine.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

namespace velto {
namespace {

constexpr std::uint64_t mib = std::uint64_t{1} << 20;

TEST(BandwidthProbe, SizeAimsForOneGibibyteWithinMemoryButNeverBelowEightCaches) {
  struct Case {
    const char* name;
    std::uint32_t threads;
    std::uint64_t llc;
    std::uint64_t available;
    std::uint64_t size_max;
    std::variant<std::uint64_t, std::string> expected; ///< working set or refusal
  };
  const Case cases[] = {
      {"memory unknown", 1, 32 * mib, 0, UINT64_MAX, 1024 * mib},
      // 1 GiB over six arrays, each rounded up to whole 64-byte lines.
      {"three threads", 3, 32 * mib, 0, UINT64_MAX, std::uint64_t{1073741952}},
      {"large caches", 2, 512 * mib, 0, UINT64_MAX, 4096 * mib},
      {"halved to what the ledger grants", 1, 32 * mib, 1024 * mib, UINT64_MAX, 512 * mib},
      {"not even eight caches", 1, 32 * mib, 300 * mib, SIZE_MAX,
       "not enough memory for its 256.00 MiB of arrays"},
      {"32-bit address space", 4, 512 * mib, 0, UINT32_MAX,
       "not enough memory for its 4.00 GiB of arrays"},
  };
  for (const Case& c : cases) {
    const auto size = size_probe(c.threads, c.llc, c.available, c.size_max);
    if (const auto* bytes = std::get_if<std::uint64_t>(&c.expected)) {
      ASSERT_TRUE(std::holds_alternative<ProbeSize>(size)) << c.name;
      const ProbeSize& probe = std::get<ProbeSize>(size);
      EXPECT_EQ(probe.working_set_bytes, *bytes) << c.name;
      EXPECT_EQ(probe.elements * 16 * c.threads, probe.working_set_bytes) << c.name;
      EXPECT_EQ(probe.elements % 8, 0u) << c.name;
    } else {
      ASSERT_TRUE(std::holds_alternative<std::string>(size)) << c.name;
      EXPECT_EQ(std::get<std::string>(size), std::get<std::string>(c.expected)) << c.name;
    }
  }
}

TEST(BandwidthProbe, ArithmeticOnASmallArray) {
  std::vector<double> x = {1, 2, 3, 4, 5, 6, 7, 8, -9};
  std::vector<double> y = {0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
  daxpy_pass(y.data(), x.data(), 7, 0.25); // the last two stay as they were
  EXPECT_EQ(y, (std::vector<double>{0.75, 1.0, 1.25, 1.5, 1.75, 2.0, 2.25, 0.5, 0.5}));

  EXPECT_DOUBLE_EQ(bandwidth_gb_s(3'000'000'000, 1500, 1000), 2.0);
  EXPECT_EQ(bandwidth_gb_s(3'000'000'000, 0, 1000), 0.0);
  EXPECT_DOUBLE_EQ(roofline_mgups(48.0), 500.0);

  // Two threads, three repeats: the second repeat's staggered span (100..160)
  // is the shortest; a thread's own pass never counts alone.
  const std::vector<std::int64_t> starts = {0, 100, 300, 5, 110, 300};
  const std::vector<std::int64_t> ends = {90, 150, 380, 80, 160, 390};
  EXPECT_EQ(best_span(starts, ends, 3), 60);
  EXPECT_EQ(best_span({0, 0}, {0, 0}, 1), 0);
}

TEST(BandwidthProbe, Lines) {
  BandwidthMeasurement m;
  m.bandwidth_gb_s = 53.61;
  m.roofline_mgups = 558.4375;
  EXPECT_EQ(roofline_line(m, 541.0), "memory roofline: 558.44 MGups (53.61 GB/s at 96 bytes per "
                                     "update), score at 96.9% of it");
  EXPECT_EQ(measuring_line(2, 1024 * mib),
            "measuring memory bandwidth with 2 threads over 1.00 GiB...");
  EXPECT_EQ(measuring_line(1, 16 * mib),
            "measuring memory bandwidth with 1 thread over 16.00 MiB...");
}

TEST(BandwidthProbe, MeasuresOnTheRunEngineOrSaysWhyNot) {
  struct Case {
    bool real_time;
    bool measured;
    std::string err;
  };
  const Case cases[] = {
      {true, true, ""},
      {false, false, "memory bandwidth not measured: the fast timer did not advance\n"},
  };
  for (const Case& c : cases) {
    testing::ScriptedMachine machine;
    machine.real_time = c.real_time;
    // A 1 MiB cache and a ledger budget of 32 MiB: the arrays halve to 16 MiB.
    machine.cpu = RecordedCpuidSource(
        {{0x80000000, 0, {0x80000006, 0, 0, 0}}, {0x80000006, 0, {0, 0, 0, 2u << 18}}}, 0);
    machine.available = 160 * mib;
    ThreadPlan plan;
    plan.thread_count = 2;
    std::ostringstream out;
    std::ostringstream err;
    const ProbeOutcome outcome = measure_bandwidth(
        plan, Threading::os, llc_total_bytes(machine.topology, machine.cpu), machine, out, err);
    EXPECT_EQ(out.str(), "measuring memory bandwidth with 2 threads over 16.00 MiB...\n");
    EXPECT_EQ(err.str(), c.err);
    EXPECT_FALSE(outcome.interrupted);
    ASSERT_EQ(outcome.measurement.has_value(), c.measured);
    if (c.measured) {
      const BandwidthMeasurement& m = *outcome.measurement;
      EXPECT_EQ(m.threads, 2u);
      EXPECT_EQ(m.working_set_bytes, 16 * mib);
      EXPECT_EQ(m.repeats, probe_repeats);
      EXPECT_GT(m.bandwidth_gb_s, 0.0);
      EXPECT_DOUBLE_EQ(m.roofline_mgups, m.bandwidth_gb_s * 1000.0 / 96.0);
      EXPECT_GT(m.duration_s, 0.0);
    }
  }
}

} // namespace
} // namespace velto
