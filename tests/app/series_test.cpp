#include "app/benchmark_series.hpp"
#include "app/record_writing.hpp"

#include "app/driver.hpp"
#include "support/scripted_machine.hpp"
#include "support/scripted_workload.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace velto {
namespace {

using scripted::Script;
using scripted::Stage;
using testing::ScriptedMachine;

// One invocation through velto_main on a scripted machine, one thread per run,
// each run's workload scripted by its own Script (the last repeated).
struct Recorded {
  int status = -1;
  std::string out;
  std::string err;
  int runs = 0;
  std::map<std::string, std::string> written; ///< by path
};

// A run of 200 steps in the fast timer's 1.000 s: `score` MGups.
void scores(Script& script, double score) {
  script.updates_per_step = static_cast<std::uint64_t>(score * 5000.0 + 0.5);
}

struct Plan {
  std::deque<Script> runs; ///< one per run, the last repeated
  std::string refused;     ///< why the record's path is refused
  std::string write_fails; ///< why the record's write fails
};

Script& valid_run(Plan& plan, double score) {
  Script& script = plan.runs.emplace_back();
  scores(script, score);
  return script;
}

Script& failing_run(Plan& plan, Stage stage) {
  Script& script = plan.runs.emplace_back();
  script.fail_stage = stage;
  script.failing_validate_time = std::chrono::milliseconds(0);
  return script;
}

Script& interrupted_run(Plan& plan) {
  Script& script = plan.runs.emplace_back();
  script.interrupt_stage = Stage::step;
  script.interrupt_at_step = 3;
  return script;
}

Recorded record(std::vector<std::string> args, Plan& plan) {
  ScriptedMachine machine;
  for (const std::string& path : {std::string("r.json"), std::string("no/such/dir/r.json")}) {
    if (!plan.refused.empty()) {
      machine.refused_paths[path] = plan.refused;
    }
    if (!plan.write_fails.empty()) {
      machine.failing_writes[path] = plan.write_fails;
    }
  }
  Recorded r;
  for (Script& script : plan.runs) {
    script.step_time = std::chrono::microseconds(0);
  }
  std::mutex factory_lock; // a scaling series has runs of several threads
  const WorkloadFactory workloads = [&](WorkloadKind kind, std::uint32_t index) {
    const std::lock_guard lock(factory_lock);
    const std::size_t k =
        std::min<std::size_t>(static_cast<std::size_t>(r.runs), plan.runs.size() - 1);
    ++r.runs;
    return scripted::scripted_factory(plan.runs[k])(kind, index);
  };
  args.insert(args.begin(), "velto");
  args.insert(args.end(), {"-s", "64", "-d", "1"});
  if (std::find(args.begin(), args.end(), "--scaling") == args.end()) {
    args.insert(args.end(), {"-n", "1"}); // a scaling series picks its own counts
  }
  std::istringstream in; // at end of input: the prompt returns at once
  std::ostringstream out;
  std::ostringstream err;
  r.status = velto_main(args, in, out, err, machine, workloads);
  r.out = out.str();
  r.err = err.str();
  r.written = machine.files;
  return r;
}

TEST(Series, UnwritableRecordPathIsRefusedBeforeAnyRun) {
  Plan plan;
  valid_run(plan, 100);
  plan.refused = "No such file or directory";
  const Recorded r = record({"--export-json", "no/such/dir/r.json"}, plan);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.runs, 0);
  EXPECT_EQ(r.err, "cannot write the result record to 'no/such/dir/r.json': No such file or "
                   "directory\n");
  EXPECT_EQ(r.out, ""); // no run, no prompt
  EXPECT_TRUE(r.written.empty());
}

TEST(Series, RecordIsWrittenBeforeThePromptForValidAndInvalidRuns) {
  struct Case {
    Stage fails;
    int status;
    std::string reason;
  };
  const Case cases[] = {
      {Stage::none, 0, ""},
      {Stage::create, 1, "worker_failed"},
      {Stage::validate, 1, "worker_failed"},
  };
  for (const Case& c : cases) {
    Plan plan;
    failing_run(plan, c.fails);
    const Recorded r = record({"--export-json", "r.json"}, plan);
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(r.out.ends_with("\npress enter to exit\n")) << r.out;
    ASSERT_EQ(r.written.count("r.json"), 1u);
    const nlohmann::json doc = nlohmann::json::parse(r.written.at("r.json"));
    EXPECT_EQ(doc["command_line"],
              nlohmann::json({"--export-json", "r.json", "-s", "64", "-d", "1", "-n", "1"}));
    EXPECT_EQ(doc["started_at"], "2025-12-09T03:13:20Z");
    EXPECT_EQ(doc["machine"]["os_name"], "Scripted OS 1");
    ASSERT_EQ(doc["runs"].size(), 1u);
    EXPECT_EQ(doc["runs"][0]["valid"], c.reason.empty());
    EXPECT_EQ(doc["runs"][0]["reasons"],
              c.reason.empty() ? nlohmann::json::array() : nlohmann::json({c.reason}));
  }
}

TEST(Series, FailedWriteIsOneLineAndStatusOne) {
  Plan plan;
  valid_run(plan, 200);
  plan.write_fails = "No space left on device";
  const Recorded r = record({"--export-json", "r.json", "--no-prompt"}, plan);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.ends_with("final score: 200.00 MGups\n")) << r.out;
  EXPECT_EQ(r.err, "cannot write the result record to 'r.json': No space left on device\n");
}

TEST(Series, NoPromptLeavesOutTheWaitForEnter) {
  for (bool valid : {true, false}) {
    Plan plan;
    failing_run(plan, valid ? Stage::none : Stage::step);
    const Recorded r = record({"--no-prompt"}, plan);
    EXPECT_EQ(r.status, valid ? 0 : 1);
    EXPECT_FALSE(r.out.ends_with("press enter to exit\n"));
    EXPECT_TRUE(r.written.empty()); // no record asked for: no file
  }
}

TEST(Series, RunsMakesEveryRunThenTheSummaryAndIsValidOnlyWhenAllAre) {
  struct Case {
    std::vector<std::string> args;
    std::function<void(Plan&)> plan;
    int runs;
    std::string last_lines;
    int status;
  };
  const Case cases[] = {
      {{"--runs", "3"},
       [](Plan& p) {
         valid_run(p, 405.12);
         valid_run(p, 420.90);
         valid_run(p, 412.30);
       },
       3,
       "MGups\nruns: 3, valid: 3, median 412.30 MGups, min 405.12, max 420.90, spread 3.8%\n"
       "press enter to exit\n",
       0},
      {{"--runs", "2"},
       [](Plan& p) {
         valid_run(p, 100);
         failing_run(p, Stage::validate);
       },
       2,
       "validating result..\n"
       "runs: 2, valid: 1, median 100.00 MGups, min 100.00, max 100.00, spread 0.0%\n"
       "press enter to exit\n",
       1},
      {{"--runs", "3"},
       [](Plan& p) { failing_run(p, Stage::validate); },
       3,
       "validating result..\nruns: 3, valid: 0\npress enter to exit\n",
       1},
      // An interrupted run ends the series, with no wait for Enter; the summary
      // counts the runs made.
      {{"--runs", "5"},
       [](Plan& p) {
         valid_run(p, 100);
         interrupted_run(p);
       },
       2,
       " iterations\n"
       "runs: 2, valid: 1, median 100.00 MGups, min 100.00, max 100.00, spread 0.0%\n",
       1},
      // One run, as asked by default or explicitly, has no summary line.
      {{"--runs", "1"}, [](Plan& p) { valid_run(p, 100); }, 1, "MGups\npress enter to exit\n", 0},
  };
  for (const Case& c : cases) {
    Plan plan;
    c.plan(plan);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--export-json", "r.json"});
    const Recorded r = record(args, plan);
    EXPECT_EQ(r.runs, c.runs) << c.args[1];
    EXPECT_EQ(r.status, c.status) << c.args[1];
    EXPECT_TRUE(r.out.ends_with(c.last_lines)) << r.out.substr(r.out.size() - 200);
    ASSERT_EQ(r.written.count("r.json"), 1u) << c.args[1];
    const nlohmann::json doc = nlohmann::json::parse(r.written.at("r.json"));
    EXPECT_EQ(doc["runs"].size(), static_cast<std::size_t>(c.runs)) << c.args[1];
    EXPECT_EQ(doc["summary"]["runs"], c.runs) << c.args[1];
    EXPECT_EQ(doc["config"]["runs"], std::stoi(c.args[1])) << c.args[1];
  }
}

TEST(Series, ScalingRunsEveryCountThenItsTableAndRecordsEveryRun) {
  Plan plan;
  valid_run(plan, 100); // every thread of every run: 100 MGups
  const Recorded r = record({"--scaling", "--runs", "2", "--export-json", "r.json"}, plan);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.ends_with("runs: 2, valid: 2, median 200.00 MGups, min 200.00, max 200.00, "
                              "spread 0.0%\n"
                              "thread scaling, median of 2 runs at each count\n"
                              "threads   MGups  speed-up  efficiency\n"
                              "      1  100.00     1.00x      100.0%\n"
                              "      2  200.00     2.00x      100.0%\n"
                              "press enter to exit\n"))
      << r.out;
  const nlohmann::json doc = nlohmann::json::parse(r.written.at("r.json"));
  EXPECT_EQ(doc["config"]["scaling"], true);
  EXPECT_FALSE(doc.contains("roofline"));
  ASSERT_EQ(doc["runs"].size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(doc["runs"][i]["threads_used"], i < 2 ? 1 : 2);
    EXPECT_EQ(doc["runs"][i]["roofline_pct"], nullptr);
  }
  EXPECT_EQ(doc["scaling"]["thread_counts"], nlohmann::json({1, 2}));
  EXPECT_EQ(doc["scaling"]["points"][1]["speedup"], 2.0);
  // The summary is the largest count's, the machine's score.
  EXPECT_EQ(doc["summary"]["runs"], 2);
  EXPECT_EQ(doc["summary"]["median_mgups"], 200.0);
}

} // namespace
} // namespace velto
