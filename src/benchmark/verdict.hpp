// The verdict of one run: its problems and those its results show (missing
// results, timers that disagree), each thread's rate and the score.
#pragma once

#include "benchmark/run_records.hpp"

namespace velto {

/// The verdict of `result`. A run that was refused or stopped is invalid with
/// its problems (a refused one also because its results are missing), and
/// has no thread lines; one whose every thread delivered has them, and is
/// valid when every thread's fast and coarse timers agree within 31 ms.
ScoreReport judge_run(const RunResult& result);

} // namespace velto
