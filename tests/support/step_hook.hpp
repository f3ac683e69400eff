// Workloads that call a test's function after each step of a stability test's
// segment, with the fields: how the stability tests corrupt a value.
#pragma once

#include "solver/soft_gaussian.hpp"
#include "solver/standing_wave.hpp"
#include "solver/workload.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace velto::testing {

/// Called with the thread, its count of segments before this one, the step
/// and the fields.
using StepHook = std::function<void(std::uint32_t thread, std::uint64_t segment, std::uint64_t step,
                                    FieldState& fields)>;

/// `Solver`, calling the hook after each step's kernels. A segment begins at its step 0;
/// a thread's solvers share its count of segments.
template <class Solver> class HookedSolver final : public Solver {
public:
  HookedSolver(std::uint32_t thread, const StepHook& hook,
               std::shared_ptr<std::atomic<std::uint64_t>> segments)
      : Solver(thread), hook_(hook), segments_(std::move(segments)) {}

  StatusMessage before_step(std::uint64_t step) override {
    if (step == 0) {
      segment_ = segments_->fetch_add(1);
    }
    return Solver::before_step(step);
  }
  // Where the hook always came: after the step's kernels, before its checks.
  StatusMessage after_step(std::uint64_t step) override {
    hook_(this->thread_index(), segment_, step, this->state());
    return Solver::after_step(step);
  }

private:
  const StepHook& hook_;
  std::shared_ptr<std::atomic<std::uint64_t>> segments_;
  std::uint64_t segment_ = 0;
};

/// The real workloads, each calling `hook` after its steps; `hook` must
/// outlive the factory.
inline WorkloadFactory hooked_workloads(const StepHook& hook) {
  auto lock = std::make_shared<std::mutex>();
  auto counts =
      std::make_shared<std::map<std::uint32_t, std::shared_ptr<std::atomic<std::uint64_t>>>>();
  return
      [&hook, lock, counts](WorkloadKind kind, std::uint32_t thread) -> std::unique_ptr<Workload> {
        std::shared_ptr<std::atomic<std::uint64_t>> segments;
        {
          const std::lock_guard hold(*lock);
          auto& slot = (*counts)[thread];
          if (!slot) {
            slot = std::make_shared<std::atomic<std::uint64_t>>(0);
          }
          segments = slot;
        }
        if (kind == WorkloadKind::standing_wave) {
          return std::make_unique<HookedSolver<StandingWave>>(thread, hook, segments);
        }
        return std::make_unique<HookedSolver<SoftGaussian>>(thread, hook, segments);
      };
}

} // namespace velto::testing
