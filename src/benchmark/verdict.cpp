// Judging a run: validity, thread rates and the score.
#include "benchmark/verdict.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>

namespace velto {

namespace {

// The timers of one thread may disagree by up to 31 whole milliseconds.
constexpr std::uint64_t timer_tolerance_ms = 32;

std::uint64_t absolute_difference(std::int64_t a, std::int64_t b) {
  // In unsigned arithmetic so that readings far apart cannot overflow.
  const auto ua = static_cast<std::uint64_t>(a);
  const auto ub = static_cast<std::uint64_t>(b);
  return a >= b ? ua - ub : ub - ua;
}

} // namespace

const std::vector<RunProblem>& Verdict::reasons() const {
  static const std::vector<RunProblem> none;
  const auto* reasons = std::get_if<std::vector<RunProblem>>(&state_);
  return reasons != nullptr ? *reasons : none;
}

bool Verdict::interrupted() const {
  return was_interrupted(reasons());
}

ScoreReport judge_run(const RunResult& result) {
  ScoreReport report;
  report.facts = result.facts;
  std::vector<RunProblem> problems = result.problems;
  // A run stopped early, by a failure or by the user, has no verdict but its banner.
  if (result.end == RunEnd::stopped) {
    report.verdict = Verdict::invalid_for(std::move(problems));
    return report;
  }
  if (result.end == RunEnd::not_started || result.results.size() < result.expected_threads) {
    problems.push_back({RunIssue::results_missing, "not all threads produced a result"});
    report.verdict = Verdict::invalid_for(std::move(problems));
    return report;
  }
  double score = 0.0;
  for (const ThreadResult& r : result.results) {
    const double millions = static_cast<double>(r.updates) / 1000000.0;
    const double seconds = static_cast<double>(r.fast_us) / 1000000.0;
    const double rate = millions / seconds;
    report.threads.push_back({r, seconds, rate});
    score += rate;
  }
  for (const ThreadResult& r : result.results) {
    const std::int64_t fast_ms = r.fast_us / 1000;
    if (absolute_difference(fast_ms, r.coarse_ms) >= timer_tolerance_ms) {
      problems.push_back(
          {RunIssue::timers_disagree,
           fmt::format("disagreement between timers for total work is larger than tolerance\n"
                       "fast timer = {}ms    coarse timer = {}ms",
                       fast_ms, r.coarse_ms)});
      report.verdict = Verdict::invalid_for(std::move(problems));
      return report;
    }
  }
  report.verdict =
      problems.empty() ? Verdict::valid_with(score) : Verdict::invalid_for(std::move(problems));
  return report;
}

} // namespace velto
