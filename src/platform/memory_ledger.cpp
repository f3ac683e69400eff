// The memory ledger: only code that is the same on every OS.
#include "platform/memory_ledger.hpp"

#include "platform/memory.hpp"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <utility>

namespace velto {

MemoryLedger::MemoryLedger(AvailableQuery available) : available_(std::move(available)) {}

bool MemoryLedger::reserve(std::uint64_t bytes) {
  const std::lock_guard lock(lock_);
  if (reserved_ == 0) {
    // Sampled once per busy period: what the blocks already held have taken
    // out of the available figure must not be counted twice.
    if (!sampled_) {
      budget_ = ledger_budget(available_ ? available_() : 0);
    }
    sampled_ = false;
  }
  if (bytes > budget_ || reserved_ > budget_ - bytes) {
    return false;
  }
  reserved_ += bytes;
  return true;
}

void MemoryLedger::release(std::uint64_t bytes) {
  const std::lock_guard lock(lock_);
  reserved_ -= std::min(bytes, reserved_);
}

std::uint64_t MemoryLedger::reserved() const {
  const std::lock_guard lock(lock_);
  return reserved_;
}

std::uint64_t MemoryLedger::sample_available() {
  const std::lock_guard lock(lock_);
  const std::uint64_t available = available_ ? available_() : 0;
  if (reserved_ == 0) {
    budget_ = ledger_budget(available);
    sampled_ = true;
  }
  return available;
}

void MemoryLedger::remember(void* block, Block what) {
  const std::lock_guard lock(lock_);
  blocks_.insert_or_assign(block, what);
}

std::optional<MemoryLedger::Block> MemoryLedger::forget(void* block) {
  const std::lock_guard lock(lock_);
  const auto it = blocks_.find(block);
  if (it == blocks_.end()) {
    return std::nullopt;
  }
  const Block what = it->second;
  blocks_.erase(it);
  return what;
}

std::uint64_t ledger_budget(std::uint64_t available) {
  if (available == 0) {
    return UINT64_MAX;
  }
  constexpr std::uint64_t kMinMargin = std::uint64_t{128} << 20;
  constexpr std::uint64_t kMaxMargin = std::uint64_t{1} << 30;
  const std::uint64_t margin = std::clamp(available / 32, kMinMargin, kMaxMargin);
  return available > margin ? available - margin : 0;
}

std::uint64_t ledger_charge(std::uint64_t size) {
  constexpr std::uint64_t kPage = 4096;
  if (size > UINT64_MAX - 2 * kPage) {
    return UINT64_MAX;
  }
  return (size + kPage - 1) / kPage * kPage + kPage;
}

std::uint64_t ledger_sets_that_fit(std::uint64_t available, std::uint64_t block_size,
                                   std::uint64_t blocks) {
  if (available == 0) {
    return UINT64_MAX;
  }
  const std::uint64_t charge = ledger_charge(block_size);
  if (blocks == 0 || charge > UINT64_MAX / blocks) {
    return 0;
  }
  return ledger_budget(available) / (charge * blocks);
}

bool block_request_fits(std::uint64_t size, std::uint64_t size_max) {
  // Generous for any runtime: 64 bytes of alignment slack and a header.
  constexpr std::uint64_t kSlack = 256;
  return size_max >= kSlack && size <= size_max - kSlack;
}

MemoryLedger& process_memory_ledger() {
  static MemoryLedger ledger(available_physical_memory);
  return ledger;
}

void* charged_allocation(MemoryLedger& ledger, std::size_t size, void* (*allocate)(std::size_t),
                         void (*release)(void*)) {
  const std::uint64_t charge = ledger_charge(size);
  if (!ledger.reserve(charge)) {
    return nullptr;
  }
  void* block = allocate(size);
  if (block == nullptr) {
    ledger.release(charge);
    return nullptr;
  }
  try {
    ledger.remember(block, {size, charge});
  } catch (const std::exception&) {
    release(block);
    ledger.release(charge);
    return nullptr;
  }
  return block;
}

void charged_release(MemoryLedger& ledger, void* block, void (*release)(void*)) {
  if (block == nullptr) {
    return;
  }
  const std::uint64_t charge = ledger.forget(block).value_or(MemoryLedger::Block{}).charge;
  // Freed before the charge goes back, so that the ledger never counts less
  // than the process holds.
  release(block);
  ledger.release(charge);
}

} // namespace velto
