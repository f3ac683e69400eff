#include "record/result_record.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace velto {
namespace {

using nlohmann::json;

ThreadScore thread(std::uint32_t index, std::uint64_t iterations, std::int64_t fast_us,
                   std::int64_t coarse_ms) {
  ThreadResult r{index, coarse_ms, fast_us, iterations, iterations * 2 * 64 * 64 * 64};
  const double seconds = static_cast<double>(fast_us) / 1e6;
  return {r, seconds, static_cast<double>(r.updates) / 1e6 / seconds};
}

// A machine recorded from a two-core Linux box, and a two-thread numa run.
RecordInputs recorded_inputs() {
  RecordInputs in;
  in.build = {"3.4.5", "linux", "x86_64", "gcc", "12.2.0"};
  in.command_line = {"-s", "64", "--export-json", "r.json"};
  in.started_at = "2026-12-09T03:00:00Z";
  in.finished_at = "2026-12-09T03:00:05Z";
  in.config.thread_count = 2;
  in.config.duration = 0;
  in.config.grid_size = 64;
  in.config.threading = Threading::numa;
  in.config.bypass_timer_check = true;
  in.machine.cpu = {"Example CPU @ 3.00GHz", CpuVendor::amd, 0xF, 0x31};
  in.machine.features = {"SSE", "SSE2", "AVX2"};
  Core c0{0, 0, {{0, 0, 0, 0}}};
  Core c1{1, 0, {{0, 1, 1, 0}}};
  in.machine.topology = {{{0, {{0, {c0, c1}}}}}, 1};
  in.machine.total_memory_bytes = 24ull << 30;
  in.machine.available_memory_bytes = 0; // unknown
  in.machine.os_name = "Debian GNU/Linux 12 (bookworm)";
  in.machine.os_version = "6.1.0";
  in.timers.fast = {1000000000, 1000000000, TimerSource::tsc};
  in.timers.coarse = {1000, 250, TimerSource::unknown};
  in.timers.compliant = false;

  ScoreReport valid;
  valid.threads = {thread(1, 300, 1000500, 1001), thread(0, 310, 1002000, 1000)};
  valid.verdict = Verdict::valid_with(valid.threads[0].rate + valid.threads[1].rate);
  // Worker 0 pinned to processor 1, worker 1 unpinned.
  valid.facts = {2, 1, 42, {{0, 0, 1, 0}}, {{1.0, 305.0, 310}}, 0.25};
  ScoreReport aborted;
  aborted.verdict =
      Verdict::invalid_for({{RunIssue::timer_not_compliant, "Fast Timer is not HWBOT compliant"},
                            {RunIssue::results_missing, "not all threads produced a result"},
                            {RunIssue::results_missing, "not all threads produced a result"}});
  aborted.facts = {2, 1, -1, {}, {}, std::nullopt};
  in.runs = {valid, aborted};
  return in;
}

TEST(ResultRecord, NamesItsFormatFirstAndKeepsTheInputs) {
  const std::string text = result_record_text(recorded_inputs());
  ASSERT_EQ(text.back(), '\n');
  const json record = json::parse(text);
  EXPECT_EQ(text.rfind("{\n  \"schema\": \"velto-result\",\n  \"schema_version\": 2,\n  "
                       "\"kind\": \"benchmark\",",
                       0),
            0u)
      << text.substr(0, 80);
  EXPECT_EQ(record["velto"]["compiler"]["id"], "gcc");
  EXPECT_EQ(record["command_line"], json({"-s", "64", "--export-json", "r.json"}));
  EXPECT_EQ(record["config"]["threads"], 2);
  EXPECT_EQ(record["config"]["duration_s"], 0); // as asked; the run says 1
  EXPECT_EQ(record["config"]["threading"], "numa");
  EXPECT_EQ(record["machine"]["vendor"], "amd");
  EXPECT_EQ(record["machine"]["family"], 15);
  EXPECT_EQ(record["machine"]["memory"]["total_bytes"], 24ull << 30);
  EXPECT_TRUE(record["machine"]["memory"]["available_bytes"].is_null());
  const json& topology = record["machine"]["topology"];
  EXPECT_EQ(topology["numa_nodes"], 1);
  EXPECT_EQ(topology["llcs"], 1);
  EXPECT_EQ(topology["cores"], 2);
  EXPECT_EQ(topology["logical_processors"], 2);
  EXPECT_EQ(topology["nodes"][0]["llcs"][0]["cores"][1]["logicals"][0]["os"], 1);
  EXPECT_EQ(record["timers"]["fast"]["source"], "TSC");
  EXPECT_EQ(record["timers"]["coarse"]["report_frequency_hz"], 250);
  EXPECT_TRUE(record["timers"]["bypassed"]); // not compliant, and the check was bypassed
}

TEST(ResultRecord, ValidRunKeepsTheReportedFiguresInFinishingOrder) {
  const RecordInputs in = recorded_inputs();
  const json run = json::parse(result_record_text(in))["runs"][0];
  EXPECT_TRUE(run["valid"]);
  EXPECT_EQ(run["reasons"], json::array());
  EXPECT_EQ(run["threads_used"], 2);
  EXPECT_EQ(run["init_ms"], 42);
  // The same double, not recomputed.
  EXPECT_EQ(run["score_mgups"].get<double>(), in.runs[0].verdict.score());
  ASSERT_EQ(run["threads"].size(), 2u);
  const json& first = run["threads"][0];
  EXPECT_EQ(first["index"], 1);
  EXPECT_TRUE(first["logical_processor"].is_null()); // beyond the plan: unpinned
  EXPECT_EQ(run["threads"][1]["logical_processor"], 1);
  EXPECT_EQ(first["iterations"], 300);
  EXPECT_EQ(first["updates"], 300ull * 2 * 64 * 64 * 64);
  EXPECT_EQ(first["fast_us"], 1000500);
  EXPECT_EQ(first["rate_mgups"].get<double>(), in.runs[0].threads[0].rate);
  // Drift in the whole milliseconds the validity check compares, signed.
  EXPECT_EQ(first["timer_drift_ms"], -1);
  EXPECT_EQ(run["threads"][1]["timer_drift_ms"], 2);
  EXPECT_EQ(run["samples"],
            json::parse(R"([{"t_s": 1.0, "rate_mgups": 305.0, "iterations": 310}])"));
  EXPECT_EQ(run["other_cpu_share"], 0.25);
  EXPECT_TRUE(run["throttle_pct"].is_null()); // a run of 1 s
}

TEST(ResultRecord, InvalidRunSaysWhyOnceAndHasNoScore) {
  const json record = json::parse(result_record_text(recorded_inputs()));
  const json& run = record["runs"][1];
  EXPECT_FALSE(run["valid"]);
  EXPECT_EQ(run["reasons"], json({"timer_not_compliant", "results_missing"}));
  EXPECT_EQ(run["messages"].size(), 3u);
  EXPECT_TRUE(run["score_mgups"].is_null());
  EXPECT_TRUE(run["init_ms"].is_null());
  EXPECT_EQ(run["threads"], json::array());
  EXPECT_EQ(run["samples"], json::array());
  EXPECT_TRUE(run["other_cpu_share"].is_null());
  // The summary is over the one valid run.
  EXPECT_EQ(record["summary"]["runs"], 2);
  EXPECT_EQ(record["summary"]["valid_runs"], 1);
  EXPECT_TRUE(record["summary"]["stddev_mgups"].is_null());
  EXPECT_EQ(record["summary"]["spread_pct"], 0.0);
}

TEST(ResultRecord, InterruptedRunAndNoValidRun) {
  RecordInputs in = recorded_inputs();
  in.runs.resize(1);
  in.runs[0].verdict = Verdict::invalid_for({{RunIssue::interrupted, "run interrupted; aborting"}});
  const json record = json::parse(result_record_text(in));
  EXPECT_EQ(record["runs"][0]["reasons"], json({"interrupted"}));
  EXPECT_EQ(record["runs"][0]["messages"], json({"run interrupted; aborting"}));
  for (const char* figure :
       {"median_mgups", "min_mgups", "max_mgups", "mean_mgups", "stddev_mgups", "spread_pct"}) {
    EXPECT_TRUE(record["summary"][figure].is_null()) << figure;
  }
}

TEST(ResultRecord, LongRunHasItsThrottle) {
  RecordInputs in = recorded_inputs();
  in.runs.resize(1);
  in.runs[0].facts.duration = 10;
  in.runs[0].facts.samples.clear();
  for (int s = 1; s <= 11; ++s) {
    in.runs[0].facts.samples.push_back({static_cast<double>(s), s <= 3 ? 200.0 : 190.0, 0});
  }
  const json record = json::parse(result_record_text(in));
  EXPECT_DOUBLE_EQ(record["runs"][0]["throttle_pct"].get<double>(), -5.0);
}

TEST(ResultRecord, TextThatIsNotUtf8IsReplacedNotFatal) {
  RecordInputs in = recorded_inputs();
  in.command_line = {"--export-json", "caf\xe9.json"};
  const json record = json::parse(result_record_text(in));
  EXPECT_EQ(record["command_line"][1], "caf\xef\xbf\xbd.json");
}

TEST(ResultRecord, Iso8601Utc) {
  struct Case {
    std::int64_t seconds;
    const char* text;
  };
  const Case cases[] = {
      {0, "1970-01-01T00:00:00Z"},
      {951782400, "2000-02-29T00:00:00Z"},
      {1796785965, "2026-12-09T03:12:45Z"},
      {4102444799, "2099-12-31T23:59:59Z"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(iso8601_utc(c.seconds), c.text);
  }
}

TEST(ResultRecord, FeatureListSplitsOnBlanks) {
  EXPECT_EQ(split_feature_list("SSE SSE2 AVX10.1-256"),
            (std::vector<std::string>{"SSE", "SSE2", "AVX10.1-256"}));
  EXPECT_EQ(split_feature_list(" SSE  AVX "), (std::vector<std::string>{"SSE", "AVX"}));
  EXPECT_TRUE(split_feature_list("").empty());
}

TEST(ResultRecord, StressRecordKeepsErrorsAndProcessorsInsteadOfRuns) {
  RecordInputs in = recorded_inputs();
  StressOutcome stress;
  StressPlan& plan = stress.parameters.plan;
  plan.threads = 2;
  plan.grid_sizes = {64};
  plan.segments = {{WorkloadKind::standing_wave, 64, 1000, 0xabcull}};
  plan.walk = {{{0, 0, 0, 0}, 0, 0}, {{0, 1, 5, 1}, 1, 0}};
  stress.tally.processors.resize(2);
  ProcessorTally& second = stress.tally.processors[1];
  second = {2, 2, 1.5, {}, 1, 0};
  add_point(second, {0.5, WorkloadKind::standing_wave, 64, 300.0, true});
  stress.tally.errors = {
      {1.5, 1, 1, WorkloadKind::standing_wave, 64, 3, 0xabcull, 0x1ull, ""},
      {2.5, 1, 0, WorkloadKind::standing_wave, 64, 4, {}, {}, "energy check failed"}};
  stress.tally.error_count = 2;
  stress.tally.segments = 2;
  stress.end = StressEnd::stopped_on_error;
  in.stress = stress;
  const json record = json::parse(result_record_text(in));
  EXPECT_EQ(record["kind"], "stress");
  EXPECT_FALSE(record.contains("runs") || record.contains("summary"));
  const json& s = record["stress"];
  EXPECT_EQ(s["end"], "stopped_on_error");
  EXPECT_EQ(s["known_answers"][0]["hash"], "0x0000000000000abc");
  const json hash = {{"t_s", 1.5},
                     {"processor", 5},
                     {"group", 1},
                     {"core", 1},
                     {"node", 1},
                     {"thread", 1},
                     {"workload", "standing_wave"},
                     {"grid_size", 64},
                     {"segment", 3},
                     {"kind", "hash"},
                     {"expected_hash", "0x0000000000000abc"},
                     {"found_hash", "0x0000000000000001"},
                     {"message", nullptr}};
  EXPECT_EQ(s["errors"][0], hash);
  EXPECT_EQ(s["errors"][1]["kind"], "check");
  EXPECT_EQ(s["errors"][1]["expected_hash"], nullptr);
  EXPECT_EQ(s["errors"][1]["message"], "energy check failed");
  EXPECT_EQ(s["processors"][1]["median_mgups"], json({{"standing_wave", {{"64", 300.0}}}}));
  EXPECT_EQ(s["processors"][1]["first_error_s"], 1.5);
  EXPECT_EQ(s["processors"][0]["median_mgups"], json::object());
}

} // namespace
} // namespace velto
