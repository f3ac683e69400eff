#include "app/series.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

namespace velto {
namespace {

// One invocation through velto_main with the record's file and probes faked.
struct Recorded {
  int status = -1;
  std::string out;
  std::string err;
  int runs = 0;
  std::vector<std::string> checked; // paths the check saw
  std::string written_path;
  std::string written_text;
};

struct Fakes {
  std::vector<ScoreReport> reports; // one per run, the last repeated
  std::string check_reason;         // what the path check answers
  std::string write_reason;         // what the write answers
};

ScoreReport valid_run(double score) {
  ScoreReport report;
  report.valid = true;
  report.score = score;
  report.facts.threads = 1;
  report.facts.duration = 1;
  return report;
}

ScoreReport invalid_run(RunIssue issue, std::string message) {
  ScoreReport report;
  report.problems = {{issue, std::move(message)}};
  return report;
}

Recorded record(std::vector<std::string> args, const Fakes& fakes) {
  Recorded r;
  DriverServices services;
  services.show_fish = [] {};
  services.run_benchmark = [&](RunConfig, TopologyCache&, std::ostream& out, std::ostream&) {
    out << "(run)\n";
    const std::size_t k =
        std::min<std::size_t>(static_cast<std::size_t>(r.runs), fakes.reports.size() - 1);
    ++r.runs;
    return fakes.reports[k];
  };
  services.check_record_path = [&](const std::string& path) {
    r.checked.push_back(path);
    return fakes.check_reason;
  };
  services.write_record = [&](const std::string& path, std::string_view text) {
    r.written_path = path;
    r.written_text = std::string(text);
    return fakes.write_reason;
  };
  services.probe_machine = [](TopologyCache&) { return MachineFacts{}; };
  services.probe_timers = [] { return TimerFacts{}; };
  services.now = [] { return std::string("2026-12-09T03:00:00Z"); };
  args.insert(args.begin(), "velto");
  std::istringstream in; // at end of input: the prompt returns at once
  std::ostringstream out;
  std::ostringstream err;
  r.status = velto_main(args, in, out, err, services);
  r.out = out.str();
  r.err = err.str();
  return r;
}

TEST(Series, UnwritableRecordPathIsRefusedBeforeAnyRun) {
  const Recorded r = record({"-s", "64", "--export-json", "no/such/dir/r.json"},
                            {{valid_run(100)}, "No such file or directory", ""});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.runs, 0);
  EXPECT_EQ(r.checked, std::vector<std::string>{"no/such/dir/r.json"});
  EXPECT_EQ(r.err, "cannot write the result record to 'no/such/dir/r.json': No such file or "
                   "directory\n");
  EXPECT_EQ(r.out, ""); // no run, no prompt
  EXPECT_EQ(r.written_path, "");
}

TEST(Series, RecordIsWrittenBeforeThePromptForValidAndInvalidRuns) {
  struct Case {
    ScoreReport report;
    int status;
    bool valid;
  };
  const Case cases[] = {
      {valid_run(412.5), 0, true},
      {invalid_run(RunIssue::timer_not_compliant, "Fast Timer is not HWBOT compliant"), 1, false},
      {invalid_run(RunIssue::worker_failed, "field allocation failed in thread 0"), 1, false},
  };
  for (const Case& c : cases) {
    const Recorded r = record({"-s", "64", "--export-json", "r.json"}, {{c.report}, "", ""});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "(run)\npress enter to exit\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.written_path, "r.json");
    const nlohmann::json doc = nlohmann::json::parse(r.written_text);
    EXPECT_EQ(doc["command_line"], nlohmann::json({"-s", "64", "--export-json", "r.json"}));
    ASSERT_EQ(doc["runs"].size(), 1u);
    EXPECT_EQ(doc["runs"][0]["valid"], c.valid);
    EXPECT_EQ(doc["runs"][0]["reasons"].size(), c.valid ? 0u : 1u);
  }
}

TEST(Series, FailedWriteIsOneLineAndStatusOne) {
  const Recorded r = record({"-s", "64", "--export-json", "r.json", "--no-prompt"},
                            {{valid_run(200)}, "", "No space left on device"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "(run)\n");
  EXPECT_EQ(r.err, "cannot write the result record to 'r.json': No space left on device\n");
}

TEST(Series, NoPromptLeavesOutTheWaitForEnter) {
  for (bool valid : {true, false}) {
    const ScoreReport report =
        valid ? valid_run(150) : invalid_run(RunIssue::timers_disagree, "disagreement");
    const Recorded r = record({"-s", "64", "--no-prompt"}, {{report}, "", ""});
    EXPECT_EQ(r.status, valid ? 0 : 1);
    EXPECT_EQ(r.out, "(run)\n");
    EXPECT_TRUE(r.checked.empty()); // no record asked for: no path, no file
    EXPECT_EQ(r.written_path, "");
  }
}

TEST(Series, RunsMakesEveryRunThenTheSummaryAndIsValidOnlyWhenAllAre) {
  struct Case {
    std::vector<std::string> args;
    std::vector<ScoreReport> reports;
    int runs;
    std::string last_lines;
    int status;
  };
  const ScoreReport bad = invalid_run(RunIssue::worker_failed, "failed");
  const ScoreReport interrupted = invalid_run(RunIssue::interrupted, "run interrupted; aborting");
  const Case cases[] = {
      {{"--runs", "3"},
       {valid_run(405.12), valid_run(420.90), valid_run(412.30)},
       3,
       "(run)\nruns: 3, valid: 3, median 412.30 MGups, min 405.12, max 420.90, spread 3.8%\n"
       "press enter to exit\n",
       0},
      {{"--runs", "2"},
       {valid_run(100), bad},
       2,
       "(run)\nruns: 2, valid: 1, median 100.00 MGups, min 100.00, max 100.00, spread 0.0%\n"
       "press enter to exit\n",
       1},
      {{"--runs", "3"}, {bad}, 3, "(run)\nruns: 3, valid: 0\npress enter to exit\n", 1},
      // An interrupted run ends the series, with no wait for Enter; the summary
      // counts the runs made.
      {{"--runs", "5"},
       {valid_run(100), interrupted},
       2,
       "(run)\nruns: 2, valid: 1, median 100.00 MGups, min 100.00, max 100.00, spread 0.0%\n",
       1},
      // One run, as asked by default or explicitly, has no summary line.
      {{"--runs", "1"}, {valid_run(100)}, 1, "(run)\npress enter to exit\n", 0},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-s", "64", "--export-json", "r.json"});
    const Recorded r = record(args, {c.reports, "", ""});
    EXPECT_EQ(r.runs, c.runs) << c.args[1];
    EXPECT_EQ(r.status, c.status) << c.args[1];
    EXPECT_TRUE(r.out.ends_with(c.last_lines)) << r.out;
    const nlohmann::json doc = nlohmann::json::parse(r.written_text);
    EXPECT_EQ(doc["runs"].size(), static_cast<std::size_t>(c.runs)) << c.args[1];
    EXPECT_EQ(doc["summary"]["runs"], c.runs) << c.args[1];
    EXPECT_EQ(doc["config"]["runs"], std::stoi(c.args[1])) << c.args[1];
  }
}

} // namespace
} // namespace velto
