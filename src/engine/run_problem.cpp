// What every kind of run reports about how it went.
#include "engine/run_problem.hpp"

#include <algorithm>

namespace velto {

bool was_interrupted(const std::vector<RunProblem>& problems) {
  return std::any_of(problems.begin(), problems.end(),
                     [](const RunProblem& p) { return p.issue == RunIssue::interrupted; });
}

} // namespace velto
