// A stability test through velto_main on a scripted machine of two cores of
// two processors: how it ends (its time, a flipped bit with --stop-on-error,
// Ctrl-C with and without a set time), what it prints and its record.
#include "app/driver.hpp"
#include "platform/interrupt.hpp"
#include "support/scripted_machine.hpp"
#include "support/step_hook.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace velto {
namespace {

struct Invocation {
  int status = -1;
  std::string out;
  std::string err;
  nlohmann::json record;
};

// `arguments` after "velto --stress M -s 64 --workload soft_gaussian -n 2
// --no-prompt --export-json r.json"; one minute is `steps` steps of each thread.
Invocation stress(const std::string& minutes, std::vector<std::string> arguments,
                  const testing::StepHook& hook = {}, std::int64_t steps = 700) {
  testing::ScriptedMachine machine;
  machine.topology.perf_level_count = 1;
  Llc& llc = machine.topology.nodes.emplace_back().llcs.emplace_back();
  for (std::uint32_t c = 0; c < 2; ++c) {
    Core& core = llc.cores.emplace_back();
    core.id = c;
    core.logicals = {{0, c, 2 * c, 0}, {1, c, 2 * c + 1, 0}};
  }
  machine.coarse_step_us = 60'000'000 / steps; // one coarse reading per step
  std::vector<std::string> args = {"velto", "--stress",    minutes,         "-s",
                                   "64",    "--workload",  "soft_gaussian", "-n",
                                   "2",     "--no-prompt", "--export-json", "r.json"};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::istringstream in;
  std::ostringstream out, err;
  Invocation r;
  r.status = velto_main(args, in, out, err, machine,
                        hook ? testing::hooked_workloads(hook) : WorkloadFactory(make_workload));
  r.out = out.str();
  r.err = err.str();
  if (machine.files.count("r.json") != 0) {
    r.record = nlohmann::json::parse(machine.files["r.json"]);
  }
  return r;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

TEST(StressInvocation, ATestThatRunsItsTimeWithoutErrorIsStable) {
  const Invocation r = stress("1", {});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("running with 2 threads (stability test)\n64 x 64 x 64 grid\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("\n==================\n  no errors found \n==================\n"
                       "verdict: stable, "),
            std::string::npos)
      << r.out;
  const nlohmann::json& s = r.record.at("stress");
  EXPECT_EQ(r.record.at("kind"), "stress");
  EXPECT_EQ(s.at("end"), "finished");
  EXPECT_EQ(s.at("error_count"), 0);
  EXPECT_EQ(s.at("threads"), 2);
  EXPECT_EQ(s.at("processors").size(), 4u);
  EXPECT_GE(s.at("segments").get<int>(), 2); // a full segment of each thread
}

// A face value of thread 1's fields flipped in its first segment.
void flip_a_face(std::uint32_t thread, std::uint64_t segment, std::uint64_t step,
                 FieldState& fields) {
  if (thread == 1 && segment == 0 && step == 5) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &fields.h.nodes.data()[0].w, sizeof bits);
    bits ^= 1;
    std::memcpy(&fields.h.nodes.data()[0].w, &bits, sizeof bits);
  }
}

TEST(StressInvocation, StopOnErrorEndsAtTheFirstErrorWithStatusOne) {
  const Invocation r = stress("1", {"--stop-on-error"}, flip_a_face);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(count(r.err, "\nerror at "), 0u);
  EXPECT_EQ(r.err.rfind("error at ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(", thread 1, soft_gaussian at 64: hash 0x"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\nverdict: unstable, 1 error in "), std::string::npos) << r.err;
  const nlohmann::json& s = r.record.at("stress");
  EXPECT_EQ(s.at("end"), "stopped_on_error");
  EXPECT_EQ(s.at("error_count"), 1);
  EXPECT_LE(s.at("segments").get<int>(), 2); // thread 0's first at most: nothing after the error
  EXPECT_EQ(s.at("errors").at(0).at("segment"), 0);
}

TEST(StressInvocation, CtrlCIsTheEndOfAnUntimedTestAndCutsATimedOneShort) {
  const testing::StepHook ctrl_c = [](std::uint32_t thread, std::uint64_t segment,
                                      std::uint64_t step, FieldState&) {
    if (thread == 0 && segment == 1 && step == 0) {
      process_interrupt_latch().deliver();
    }
  };
  struct Case {
    std::string minutes;
    int status;
    std::string err;
    std::string verdict;
  };
  const Case cases[] = {
      {"0", 0, "", "verdict: stable, "},
      {"1", 1, "stability test interrupted\n", "verdict: not proven, the test ended after "},
  };
  for (const Case& c : cases) {
    const Invocation r = stress(c.minutes, {}, ctrl_c);
    EXPECT_EQ(r.status, c.status) << c.minutes;
    EXPECT_EQ(r.err, c.err) << c.minutes;
    EXPECT_NE(r.out.find("\n" + c.verdict), std::string::npos) << c.minutes << r.out;
    EXPECT_EQ(r.record.at("stress").at("end"), "interrupted") << c.minutes;
  }
}

} // namespace
} // namespace velto
