// Memory services: only code that is the same on every OS.
#include "platform/memory.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <unordered_map>
#include <utility>

namespace velto {

MemoryLedger::MemoryLedger(AvailableQuery available) : available_(std::move(available)) {}

bool MemoryLedger::reserve(std::uint64_t bytes) {
  const std::lock_guard lock(lock_);
  if (reserved_ == 0) {
    // Sampled once per busy period: what the blocks already held have taken
    // out of the available figure must not be counted twice.
    budget_ = ledger_budget(available_ ? available_() : 0);
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

void MemoryLedger::set_query(AvailableQuery available) {
  const std::lock_guard lock(lock_);
  available_ = std::move(available);
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

bool block_request_fits(std::uint64_t size, std::uint64_t size_max) {
  // Generous for any runtime: 64 bytes of alignment slack and a header.
  constexpr std::uint64_t kSlack = 256;
  return size_max >= kSlack && size <= size_max - kSlack;
}

namespace {

std::mutex g_charges_lock;
std::unordered_map<void*, std::uint64_t>& charges() {
  static std::unordered_map<void*, std::uint64_t> map;
  return map;
}

} // namespace

MemoryLedger& process_memory_ledger() {
  static MemoryLedger ledger(available_physical_memory);
  return ledger;
}

void set_available_memory_query(MemoryLedger::AvailableQuery query) {
  process_memory_ledger().set_query(
      query ? std::move(query) : MemoryLedger::AvailableQuery(available_physical_memory));
}

void* charged_allocation(std::size_t size, void* (*allocate)(std::size_t), void (*release)(void*)) {
  const std::uint64_t charge = ledger_charge(size);
  MemoryLedger& ledger = process_memory_ledger();
  if (!ledger.reserve(charge)) {
    return nullptr;
  }
  void* block = allocate(size);
  if (block == nullptr) {
    ledger.release(charge);
    return nullptr;
  }
  try {
    const std::lock_guard lock(g_charges_lock);
    charges()[block] = charge;
  } catch (const std::exception&) {
    release(block);
    ledger.release(charge);
    return nullptr;
  }
  return block;
}

void charged_release(void* block, void (*release)(void*)) {
  if (block == nullptr) {
    return;
  }
  std::uint64_t charge = 0;
  {
    const std::lock_guard lock(g_charges_lock);
    const auto it = charges().find(block);
    if (it != charges().end()) {
      charge = it->second;
      charges().erase(it);
    }
  }
  // Freed before the charge goes back, so that the ledger never counts less
  // than the process holds.
  release(block);
  process_memory_ledger().release(charge);
}

std::size_t round_up_to_page(std::size_t size, std::size_t page) {
  if (page == 0) {
    return 0;
  }
  const std::size_t rounded = (size + page - 1) & (0 - page);
  // A request within one page of the top of the address space wraps to a small
  // number; it can never be satisfied, so it must not become a tiny block.
  return rounded < size ? 0 : rounded;
}

std::uint64_t parse_meminfo_bytes(std::string_view meminfo, std::string_view key) {
  std::size_t line_start = 0;
  while (line_start < meminfo.size()) {
    std::size_t line_end = meminfo.find('\n', line_start);
    if (line_end == std::string_view::npos) {
      line_end = meminfo.size();
    }
    const std::string_view line = meminfo.substr(line_start, line_end - line_start);
    line_start = line_end + 1;
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ':') {
      continue;
    }
    std::size_t i = key.size() + 1;
    while (i < line.size() && line[i] == ' ') {
      ++i;
    }
    std::uint64_t kib = 0;
    bool any_digit = false;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
      const auto digit = static_cast<std::uint64_t>(line[i] - '0');
      if (kib > (UINT64_MAX - digit) / 10) {
        return 0;
      }
      kib = kib * 10 + digit;
      any_digit = true;
    }
    if (!any_digit || line.substr(i) != " kB" || kib > UINT64_MAX / 1024) {
      return 0;
    }
    return kib * 1024;
  }
  return 0;
}

std::string format_bytes(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  auto x = static_cast<double>(bytes);
  int i = 0;
  while (x >= 1024.0 && i < 6) {
    x *= 0.0009765625;
    ++i;
  }
  if (i == 0) {
    return fmt::format("{} {}", bytes, "B");
  }
  return fmt::format("{:.2f} {}", x, kUnits[i - 1]);
}

std::string format_quantity(std::uint64_t value, std::string_view unit) {
  static constexpr const char* kPrefixes[] = {"K", "M", "G", "T", "P", "E"};
  auto x = static_cast<double>(value);
  int i = 0;
  while (x >= 1000.0 && i < 6) {
    x /= 1000.0;
    ++i;
  }
  if (i == 0) {
    return fmt::format("{} {}{}", value, "", unit);
  }
  return fmt::format("{:.2f} {}{}", x, kPrefixes[i - 1], unit);
}

} // namespace velto
