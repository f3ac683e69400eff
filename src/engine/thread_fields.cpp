// The fields of one run thread.
#include "engine/thread_fields.hpp"

#include <fmt/format.h>

#include <exception>
#include <string>

namespace velto {

std::unique_ptr<Workload> thread_workload(const Worker& worker, const WorkloadFactory& workloads,
                                          WorkloadKind kind) {
  std::unique_ptr<Workload> workload;
  // Running out of memory for the workload object itself is the same failure
  // as a factory that has none: this thread has nothing to run.
  try {
    workload = workloads(kind, worker.index());
  } catch (const std::exception&) {
    workload = nullptr;
  }
  if (!workload) {
    worker.fail(fmt::format("could not initalize workload {} in thread {}",
                            name_of_choice(workload_table, kind), worker.index()));
  }
  return workload;
}

bool allocate_thread_fields(const Worker& worker, Workload& workload, const FieldConfig& config) {
  if (const StatusMessage error = workload.allocate(config)) {
    worker.fail(fmt::format("field allocation failed in thread {}\n{}", worker.index(), *error));
    return false;
  }
  return true;
}

namespace {

bool check_initialized(const Worker& worker, const StatusMessage& error) {
  if (error) {
    worker.fail(fmt::format("failed to initalize field in thread {}\n{}", worker.index(), *error));
    return false;
  }
  return true;
}

} // namespace

bool initialize_thread_fields(const Worker& worker, Workload& workload) {
  return check_initialized(worker, workload.initialize());
}

bool restart_thread_fields(const Worker& worker, FieldSolver& solver) {
  return check_initialized(worker, solver.restart());
}

void FieldsClock::allocating(const Worker& worker, bool large_pages) {
  if (worker.is_reporter()) {
    worker.say(std::string("allocating fields.... ") + (large_pages ? "(large pages)" : ""));
    t0_ = worker.machine().read_fast_timer();
  }
}

void FieldsClock::initializing(const Worker& worker) const {
  if (worker.is_reporter()) {
    worker.say("initalizing fields...");
  }
}

std::int64_t FieldsClock::initialized(const Worker& worker) const {
  const std::int64_t ms =
      ticks_to_milliseconds(worker.run().fast_timer, t0_, worker.machine().read_fast_timer());
  worker.say(fmt::format("initialization took {}ms", ms));
  return ms;
}

} // namespace velto
