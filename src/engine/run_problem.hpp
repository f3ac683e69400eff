// What every kind of run reports about how it went: why it is not valid, with
// the text the console showed, and how its threads ended.
#pragma once

#include "platform/name_table.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace velto {

/// Why a run is not valid.
enum class RunIssue : std::uint8_t {
  could_not_prepare,   ///< the run's bookkeeping or one of its threads could not be had
  timer_not_compliant, ///< the fast timer breaks the HWBOT rules and the check was not bypassed
  timer_overflow,      ///< a timer would overflow during the run
  worker_failed,       ///< a worker stopped with a message
  results_missing,     ///< fewer results than threads
  timers_disagree,     ///< a thread's fast and coarse timer disagree by 32 ms or more
  interrupted,         ///< the user interrupted the run
};

/// The codes of the issues, as result files name them.
inline constexpr NameTable<RunIssue, 7> run_issue_table = {{
    {RunIssue::could_not_prepare, "could_not_prepare"},
    {RunIssue::timer_not_compliant, "timer_not_compliant"},
    {RunIssue::timer_overflow, "timer_overflow"},
    {RunIssue::worker_failed, "worker_failed"},
    {RunIssue::results_missing, "results_missing"},
    {RunIssue::timers_disagree, "timers_disagree"},
    {RunIssue::interrupted, "interrupted"},
}};

/// One reason a run is invalid, with the text the console shows for it.
struct RunProblem {
  RunIssue issue = RunIssue::could_not_prepare;
  std::string message; ///< the lines printed on the error stream, without the last newline
  friend bool operator==(const RunProblem&, const RunProblem&) = default;
};

/// How the workers of a run ended.
enum class RunEnd : std::uint8_t {
  not_started, ///< refused before any worker ran: a timer check or the run's bookkeeping
  stopped,     ///< the stop request was raised: a worker failed, a thread could not start,
               ///< or the user interrupted the run
  finished,    ///< every worker ran to its end
};

/// True when one of `problems` is the user's interruption.
bool was_interrupted(const std::vector<RunProblem>& problems);

} // namespace velto
