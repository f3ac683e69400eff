// The console's report of a run's verdict: the per-thread table, the banner
// and the score lines.
#pragma once

#include "benchmark/run_records.hpp"

#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

namespace velto {

/// "{:.2f} MGups" above 100, else "{:.4g} MGups".
std::string format_score(double score);

/// Prints the verdict of judge_run: the table (when every thread delivered),
/// then the valid banner with the score lines on `out`, or the invalid banner
/// with the problems the verdict found itself on `err` (the run's own were
/// printed when they happened). `brand` names the processor on the score lines.
ScoreReport print_report(const RunResult& result, std::string_view brand, std::ostream& out,
                         std::ostream& err);

} // namespace velto
