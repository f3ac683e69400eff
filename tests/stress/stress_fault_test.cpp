// The stability test catches a flipped bit where it happened: one bit of one
// value (either field, any of the four components, faces and interior, every
// bit position, any step) flipped in most segments of a run; each must be
// reported in the segment it hit, on the processor it hit, and nowhere else.
// A flip can also vanish: an interior value the kernels rewrite before the
// segment ends; those are counted, and a face, a fourth component or a flip
// after the last step must never vanish.
#include "stress/stress_test.hpp"
#include "support/scripted_machine.hpp"
#include "support/segment_hash.hpp"
#include "support/step_hook.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <tuple>

namespace velto {
namespace {

constexpr std::uint64_t kSteps = 4; // a short segment: any step can be hit
// Steps of one thread in one run: a flip that fails a check ends its segment
// early, so a run has at most this many segments per thread, and its errors
// stay under the 1000 a tally keeps.
constexpr std::uint32_t kStepsPerThread = 600;
// The sanitizers run the same test on fewer flips: it is their races and
// leaks that matter there, not the count.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr std::uint64_t kFlips = 300;
#else
constexpr std::uint64_t kFlips = 2000;
#endif

std::uint64_t mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

struct Flip {
  std::uint64_t step = 0;
  bool h = false;
  bool face = false;
  std::uint64_t x = 0, y = 0, z = 0;
  unsigned component = 0;
  unsigned bit = 0;
};

// The flip of a segment, drawn from (run, thread, segment); every fourth
// segment is left clean.
std::optional<Flip> flip_for(std::uint32_t run, std::uint32_t thread, std::uint64_t segment,
                             std::uint64_t edge) {
  if (segment % 4 == 3) {
    return std::nullopt;
  }
  std::uint64_t r = mix((std::uint64_t{run} << 48) ^ (std::uint64_t{thread} << 32) ^ segment);
  const auto next = [&r](std::uint64_t n) { return (r = mix(r)) % n; };
  Flip flip;
  flip.step = next(kSteps);
  flip.h = next(2) == 1;
  flip.face = next(3) == 0;
  flip.component = static_cast<unsigned>(next(4));
  flip.bit = static_cast<unsigned>(next(64));
  std::uint64_t* const coords[] = {&flip.x, &flip.y, &flip.z};
  for (std::uint64_t* c : coords) {
    *c = 1 + next(edge - 2);
  }
  if (flip.face) {
    *coords[next(3)] = next(2) == 0 ? 0 : edge - 1;
  }
  return flip;
}

void apply(const Flip& flip, FieldState& fields) {
  FieldGrid& grid = flip.h ? fields.h : fields.e;
  FieldNode& node = grid.nodes.data()[(flip.x * grid.edge + flip.y) * grid.edge + flip.z];
  double* const values[] = {&node.x, &node.y, &node.z, &node.w};
  std::uint64_t bits = 0;
  std::memcpy(&bits, values[flip.component], sizeof bits);
  bits ^= std::uint64_t{1} << flip.bit;
  std::memcpy(values[flip.component], &bits, sizeof bits);
}

struct Injected {
  Flip flip;
  std::uint32_t processor = 0; // os number the thread was pinned to
  bool finished = false;       // the segment reached its last step
};

TEST(StressFaults, EveryFlipIsReportedInItsSegmentOnItsProcessorOrVanishes) {
  testing::ScriptedMachine machine;
  for (std::uint32_t c = 0; c < 2; ++c) { // two cores of two processors each
    Core core;
    core.id = c;
    core.logicals = {{0, c, 2 * c, 0}, {1, c, 2 * c + 1, 0}};
    machine.topology.nodes.resize(1);
    machine.topology.nodes[0].llcs.resize(1);
    machine.topology.nodes[0].llcs[0].cores.push_back(core);
  }
  machine.topology.perf_level_count = 1;
  // One coarse reading per step: a minute is kStepsPerThread steps.
  machine.coarse_step_us = 60'000'000 / kStepsPerThread;

  StressRequest request;
  request.minutes = 1;
  request.thread_count = 2;
  request.grid_size = 64;
  auto made = make_stress_plan(request, machine.topology, 0);
  ASSERT_TRUE(std::holds_alternative<StressPlan>(made));
  StressPlan plan = std::get<StressPlan>(made);
  ASSERT_EQ(plan.segments.size(), 2u);
  for (KnownAnswer& answer : plan.segments) { // both workloads, short segments
    answer.steps = kSteps;
    const SegmentHash clean = segment_hash(answer.workload, 64, kSteps);
    ASSERT_TRUE(clean.hash) << clean.failure;
    answer.hash = *clean.hash;
  }

  std::uint64_t injected = 0, detected = 0, attributed = 0, vanished = 0, last_step = 0;
  std::set<std::tuple<bool, bool, unsigned, unsigned, std::uint64_t>> covered;
  for (std::uint32_t run = 0; injected < kFlips && run < 20; ++run) {
    std::mutex lock;
    std::map<std::pair<std::uint32_t, std::uint64_t>, Injected> flips;
    const StressParameters parameters{plan, request, run, false};
    const testing::StepHook flip_bits = [&](std::uint32_t thread, std::uint64_t segment,
                                            std::uint64_t step, FieldState& fields) {
      const std::optional<Flip> flip = flip_for(run, thread, segment, fields.e.edge);
      if (!flip) {
        return;
      }
      const std::lock_guard hold(lock);
      if (step == flip->step) {
        apply(*flip, fields);
        flips[{thread, segment}] = {*flip, testing::ScriptedMachine::pinned_here()->os, false};
      }
      if (step + 1 == kSteps) {
        flips.at({thread, segment}).finished = true;
      }
    };
    std::ostringstream out, err;
    const StressOutcome outcome =
        run_stress(parameters, machine, testing::hooked_workloads(flip_bits), out, err);
    ASSERT_EQ(outcome.end, StressEnd::finished) << err.str();
    ASSERT_EQ(outcome.tally.errors.size(), outcome.tally.error_count);

    std::map<std::pair<std::uint32_t, std::uint64_t>, const StressError*> errors;
    for (const StressError& error : outcome.tally.errors) {
      errors[{error.thread, error.segment}] = &error;
      EXPECT_EQ(flips.count({error.thread, error.segment}), 1u)
          << "an error without a flip: thread " << error.thread << " segment " << error.segment;
    }
    for (const auto& [where, flip] : flips) {
      if (!flip.finished) {
        continue; // the segment the end of the test cut short
      }
      ++injected;
      const Flip& f = flip.flip;
      covered.insert({f.h, f.face, f.component, f.bit, f.step});
      last_step += f.step + 1 == kSteps ? 1 : 0;
      const auto error = errors.find(where);
      if (error == errors.end()) {
        ++vanished;
        EXPECT_FALSE(f.face || f.component == 3 || f.step + 1 == kSteps)
            << "a flip that cannot vanish went unreported: thread " << where.first << " segment "
            << where.second << " step " << f.step << " component " << f.component << " bit "
            << f.bit;
        continue;
      }
      ++detected;
      attributed += plan.walk[error->second->processor].logical.os == flip.processor ? 1 : 0;
    }
  }
  EXPECT_GE(injected, kFlips);
  EXPECT_EQ(attributed, detected);
  std::set<unsigned> bits, components;
  std::set<std::uint64_t> steps;
  for (const auto& [h, face, component, bit, step] : covered) {
    bits.insert(bit);
    components.insert(component);
    steps.insert(step);
  }
  EXPECT_EQ(bits.size(), 64u);
  EXPECT_EQ(components.size(), 4u);
  EXPECT_EQ(steps.size(), kSteps);
  std::cout << "injected " << injected << ", detected " << detected << ", attributed " << attributed
            << ", vanished " << vanished << " (interior values before the last "
            << "step; " << last_step << " flips after the last step, all detected)\n";
}

} // namespace
} // namespace velto
