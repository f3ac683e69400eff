// A workload for the run tests: cheap steps, a failure on purpose at a chosen
// stage of a chosen thread, and a record of how the worker called it.
#pragma once

#include "platform/interrupt.hpp"
#include "solver/workload.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace velto::scripted {

enum class Stage { none, create, allocate, initialize, before_step, step, after_step, validate };

inline const char* stage_name(Stage stage) {
  switch (stage) {
  case Stage::none:
    return "none";
  case Stage::create:
    return "create";
  case Stage::allocate:
    return "allocate";
  case Stage::initialize:
    return "initialize";
  case Stage::before_step:
    return "before_step";
  case Stage::step:
    return "step";
  case Stage::after_step:
    return "after_step";
  case Stage::validate:
    return "validate";
  }
  return "?";
}

struct Script {
  Stage fail_stage = Stage::none;
  std::uint32_t fail_thread = 0;
  std::uint64_t fail_at_step = 0; ///< step index at which a loop stage fails
  std::chrono::microseconds step_time{500};
  std::uint64_t updates_per_step = 1000;
  /// How long a failing validate takes, so that the others finish first.
  std::chrono::milliseconds failing_validate_time{200};
  /// Where an interruption comes in, delivered as the OS handler delivers Ctrl-C
  /// (a loop stage at step interrupt_at_step).
  Stage interrupt_stage = Stage::none;
  std::uint32_t interrupt_thread = 0;
  std::uint64_t interrupt_at_step = 0;
  std::atomic<int> interruptions{0}; ///< deliveries made, and what they did
  std::atomic<int> interruptions_that_stopped{0};

  std::atomic<int> made{0};                      ///< workloads the factory made
  std::atomic<int> alive{0};                     ///< made and not yet destroyed
  std::atomic<int> contract_breaches{0};         ///< calls out of the documented order
  std::atomic<std::uint64_t> validated_steps{0}; ///< sum of what validate received
};

class ScriptedWorkload final : public Workload {
public:
  ScriptedWorkload(Script& script, std::uint32_t thread_index)
      : Workload(thread_index), script_(script) {
    ++script_.alive;
  }
  ~ScriptedWorkload() override { --script_.alive; }

  StatusMessage allocate(const FieldConfig& config) override {
    if (config.dx != 0.01 || allocated_) {
      ++script_.contract_breaches;
    }
    allocated_ = true;
    interrupts(Stage::allocate, 0);
    return fails(Stage::allocate);
  }
  StatusMessage initialize() override {
    if (!allocated_ || initialized_) {
      ++script_.contract_breaches;
    }
    initialized_ = true;
    interrupts(Stage::initialize, 0);
    return fails(Stage::initialize);
  }
  StatusMessage before_step(std::uint64_t index) override {
    if (!initialized_ || index != steps_) {
      ++script_.contract_breaches;
    }
    return fails_at(Stage::before_step, index);
  }
  StatusMessage step() override {
    if (script_.step_time.count() > 0) {
      std::this_thread::sleep_for(script_.step_time);
    }
    interrupts(Stage::step, steps_);
    return fails_at(Stage::step, steps_);
  }
  StatusMessage after_step(std::uint64_t index) override {
    if (index != steps_) {
      ++script_.contract_breaches;
    }
    ++steps_;
    return fails_at(Stage::after_step, index);
  }
  StatusMessage validate(std::uint64_t completed) override {
    if (completed != steps_) {
      ++script_.contract_breaches;
    }
    script_.validated_steps += completed;
    interrupts(Stage::validate, 0);
    StatusMessage status = fails(Stage::validate);
    if (status) {
      std::this_thread::sleep_for(script_.failing_validate_time);
    }
    return status;
  }
  std::uint64_t updates_per_step() const override { return script_.updates_per_step; }

private:
  StatusMessage fails(Stage stage) const {
    if (script_.fail_stage == stage && thread_index() == script_.fail_thread) {
      return std::string("boom ") + stage_name(stage);
    }
    return std::nullopt;
  }
  void interrupts(Stage stage, std::uint64_t index) const {
    const bool loop = stage > Stage::initialize && stage < Stage::validate;
    if (script_.interrupt_stage == stage && thread_index() == script_.interrupt_thread &&
        (!loop || index == script_.interrupt_at_step)) {
      ++script_.interruptions;
      if (process_interrupt_latch().deliver() == InterruptAction::stop_run) {
        ++script_.interruptions_that_stopped;
      }
    }
  }
  StatusMessage fails_at(Stage stage, std::uint64_t index) const {
    return index == script_.fail_at_step ? fails(stage) : std::nullopt;
  }

  Script& script_;
  bool allocated_ = false;
  bool initialized_ = false;
  std::uint64_t steps_ = 0;
};

inline WorkloadFactory scripted_factory(Script& script) {
  return [&script](WorkloadKind, std::uint32_t index) -> std::unique_ptr<Workload> {
    if (script.fail_stage == Stage::create && index == script.fail_thread) {
      return nullptr;
    }
    ++script.made;
    return std::make_unique<ScriptedWorkload>(script, index);
  };
}

} // namespace velto::scripted
