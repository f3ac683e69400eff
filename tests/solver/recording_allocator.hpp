// A FieldAllocator for tests: hands out garbage-filled blocks, fails the calls
// it is told to fail, and records what is live and what was released.
#pragma once

#include "solver/field.hpp"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace velto::testing {

class RecordingAllocator final : public FieldAllocator {
public:
  /// Calls are numbered from 0; the ones in `failing_calls` return null.
  explicit RecordingAllocator(std::set<int> failing_calls = {})
      : failing_calls_(std::move(failing_calls)) {}

  ~RecordingAllocator() override {
    for (const auto& [block, kind] : live_) {
      std::free(block);
    }
  }

  void* allocate(std::size_t bytes, bool large_pages) override {
    const int call = calls_++;
    requests_.push_back({bytes, large_pages});
    if (failing_calls_.count(call) != 0) {
      return nullptr;
    }
    void* block = std::malloc(bytes);
    if (block != nullptr) {
      // Fresh pages are often zero already; garbage proves the buffer clears them.
      std::memset(block, 0xA5, bytes);
      live_[block] = large_pages;
    }
    return block;
  }

  void release(void* block, bool large_pages) override {
    if (block == nullptr) {
      return;
    }
    const auto it = live_.find(block);
    if (it == live_.end() || it->second != large_pages) {
      ++mismatched_releases_;
      return;
    }
    live_.erase(it);
    released_.push_back(block);
    std::free(block);
  }

  struct Request {
    std::size_t bytes;
    bool large_pages;
  };

  int calls() const { return calls_; }
  std::size_t live() const { return live_.size(); }
  bool is_live(const void* block) const { return live_.count(const_cast<void*>(block)) != 0; }
  const std::vector<void*>& released() const { return released_; }
  const std::vector<Request>& requests() const { return requests_; }
  int mismatched_releases() const { return mismatched_releases_; }

private:
  std::set<int> failing_calls_;
  int calls_ = 0;
  int mismatched_releases_ = 0;
  std::map<void*, bool> live_;
  std::vector<void*> released_;
  std::vector<Request> requests_;
};

} // namespace velto::testing
