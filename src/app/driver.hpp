// The main flow: parse, validate, then exactly one action.
#pragma once

#include "platform/machine.hpp"
#include "solver/workload.hpp"

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

/// Runs one invocation: `arguments` as main received them (the first is the
/// program's path), on `machine`, each run thread's workload from `workloads`.
/// Returns the exit status, 0 or 1; an exception from below ends in
/// write_fatal_error and 1. A write to `out` or `err` that failed makes the
/// status 1; for `out` the error stream then says "could not write to standard
/// output".
int velto_main(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
               std::ostream& err, const Machine& machine = live_machine(),
               const WorkloadFactory& workloads = make_workload);

/// "fatal error: {what}; aborting" on `err`, for a failure nothing below the
/// entry point caught. Never throws.
void write_fatal_error(std::ostream& err, std::string_view what) noexcept;

} // namespace velto
