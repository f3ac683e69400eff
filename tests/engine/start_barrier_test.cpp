// The barrier workers meet at: nobody passes a phase before everyone due has
// arrived, and a participant that drops out frees every later phase.
#include "engine/start_barrier.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velto {
namespace {

struct Scenario {
  const char* name;
  int participants;
  int phases;
  int dropper;     ///< the participant that leaves, or -1
  int drop_before; ///< the phase it arrives at last, dropping there
};

struct Outcome {
  int passed_early = 0; ///< passes seen before everyone due had arrived
  int passes = 0;
};

// Every participant arrives at each phase, counting its arrival first; after
// the phase it checks that everyone due at that phase had arrived. The whole
// run happens on a thread of its own so a lost wake-up fails the case.
std::optional<Outcome> run_scenario(const Scenario& s) {
  struct Shared {
    explicit Shared(const Scenario& s)
        : barrier(s.participants), arrivals(static_cast<std::size_t>(s.phases)) {}
    StartBarrier barrier;
    std::vector<std::atomic<int>> arrivals;
    std::atomic<int> passed_early{0};
    std::atomic<int> passes{0};
  };
  auto shared = std::make_shared<Shared>(s);
  auto promise = std::make_shared<std::promise<Outcome>>();
  std::future<Outcome> done = promise->get_future();
  std::thread runner([s, shared, promise] {
    std::vector<std::thread> threads;
    for (int p = 0; p < s.participants; ++p) {
      threads.emplace_back([&, p] {
        for (int phase = 0; phase < s.phases; ++phase) {
          shared->arrivals[static_cast<std::size_t>(phase)].fetch_add(1);
          if (p == s.dropper && phase == s.drop_before) {
            shared->barrier.arrive_and_drop();
            return;
          }
          shared->barrier.arrive_and_wait();
          const int due =
              s.dropper >= 0 && phase > s.drop_before ? s.participants - 1 : s.participants;
          if (shared->arrivals[static_cast<std::size_t>(phase)].load() < due) {
            shared->passed_early.fetch_add(1);
          }
          shared->passes.fetch_add(1);
        }
      });
    }
    for (std::thread& t : threads) {
      t.join();
    }
    promise->set_value({shared->passed_early.load(), shared->passes.load()});
  });
  if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    runner.detach();
    return std::nullopt;
  }
  runner.join();
  return done.get();
}

TEST(StartBarrier, PhasesHoldEveryoneUntilAllDueHaveArrived) {
  const Scenario scenarios[] = {
      {"one participant never waits", 1, 1000, -1, 0},
      {"two participants, many phases", 2, 5000, -1, 0},
      {"more participants than cores", 8, 1000, -1, 0},
      {"a drop at the first phase", 4, 1000, 0, 0},
      {"a drop in the middle", 4, 1000, 3, 500},
      {"the last but one leaves", 2, 1000, 1, 10},
      {"the only participant leaves", 1, 5, 0, 2},
  };
  for (const Scenario& s : scenarios) {
    const auto outcome = run_scenario(s);
    ASSERT_TRUE(outcome.has_value()) << s.name << ": somebody waited forever";
    EXPECT_EQ(outcome->passed_early, 0) << s.name;
    const int dropper_passes = s.dropper >= 0 ? s.drop_before : s.phases;
    const int others = s.dropper >= 0 ? s.participants - 1 : s.participants;
    EXPECT_EQ(outcome->passes, others * s.phases + (s.dropper >= 0 ? dropper_passes : 0)) << s.name;
  }
}

TEST(StartBarrier, DroppingOutReleasesThoseAlreadyWaiting) {
  // Three wait at the first phase; the fourth's drop is what completes it.
  StartBarrier barrier(4);
  std::atomic<int> released{0};
  std::vector<std::thread> waiting;
  for (int i = 0; i < 3; ++i) {
    waiting.emplace_back([&] {
      barrier.arrive_and_wait();
      released.fetch_add(1);
      barrier.arrive_and_wait(); // the next phase needs only the three
      released.fetch_add(1);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(released.load(), 0);
  barrier.arrive_and_drop();
  for (std::thread& t : waiting) {
    t.join();
  }
  EXPECT_EQ(released.load(), 6);
}

} // namespace
} // namespace velto
