// The fields of one run thread, as every kind of run that computes on them
// makes them: the workload, its allocation and initialisation, each failure
// said in the thread's words, and the reporter's lines and clock around them.
#pragma once

#include "engine/run_engine.hpp"
#include "solver/workload.hpp"

#include <cstdint>
#include <memory>

namespace velto {

/// The workload of `kind` for the worker's thread from `workloads`; null,
/// having failed the thread with "could not initalize workload {} in thread
/// {}", when there is none (the factory's or the memory's doing).
std::unique_ptr<Workload> thread_workload(const Worker& worker, const WorkloadFactory& workloads,
                                          WorkloadKind kind);

/// Allocates the workload's fields; false, having failed the thread with
/// "field allocation failed in thread {}" and the reason, when they cannot be had.
bool allocate_thread_fields(const Worker& worker, Workload& workload, const FieldConfig& config);

/// Initialises (or, with `restart`, zeroes and initialises) the solver's
/// fields; false, having failed the thread with "failed to initalize field in
/// thread {}" and the reason, when that fails.
bool initialize_thread_fields(const Worker& worker, Workload& workload);
bool restart_thread_fields(const Worker& worker, FieldSolver& solver);

/// The reporter's lines and clock from the first allocation to the common
/// start: "allocating fields.... " (with "(large pages)"), "initalizing
/// fields..." and "initialization took {}ms". Only the reporter's calls count.
class FieldsClock {
public:
  void allocating(const Worker& worker, bool large_pages);
  void initializing(const Worker& worker) const;
  /// Milliseconds on the fast timer since `allocating`, said and returned.
  std::int64_t initialized(const Worker& worker) const;

private:
  std::int64_t t0_ = 0;
};

} // namespace velto
