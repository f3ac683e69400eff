// The share of other programs and the /proc parsers: only code that is the
// same on every OS (the parsers take text, so any host can test them).
#include "platform/cpu_load.hpp"

#include "platform/text_lines.hpp"

#include <algorithm>
#include <array>
#include <charconv>

namespace velto {

namespace {

// The next blank-separated number of `text` from `pos`; nothing when absent.
std::optional<std::uint64_t> next_number(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && text[pos] == ' ') {
    ++pos;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data() + pos, text.data() + text.size(), value);
  if (error != std::errc() || end == text.data() + pos) {
    return std::nullopt;
  }
  pos = static_cast<std::size_t>(end - text.data());
  return value;
}

} // namespace

std::optional<double> other_cpu_share(const CpuTimes& before, const CpuTimes& after) {
  if (!before.known || !after.known || after.processors == 0) {
    return std::nullopt;
  }
  const double wall = after.wall_s - before.wall_s;
  if (wall <= 0.0) {
    return std::nullopt;
  }
  const double others = (after.busy_s - before.busy_s) - (after.own_s - before.own_s);
  // The two counters tick at different moments, so a quiet machine can come
  // out a little below zero.
  return std::clamp(others / (static_cast<double>(after.processors) * wall), 0.0, 1.0);
}

ProcStatTotals parse_proc_stat(std::string_view text) {
  ProcStatTotals totals;
  bool malformed = false;
  for_each_line(text, [&](std::string_view line) {
    if (line.substr(0, 4) == "cpu ") {
      // user nice system idle iowait irq softirq steal [guest guest_nice]
      std::array<std::uint64_t, 8> fields{};
      std::size_t pos = 4;
      for (std::uint64_t& field : fields) {
        const auto value = next_number(line, pos);
        if (!value) {
          malformed = true;
          return;
        }
        field = *value;
      }
      // Guest time is already inside user and nice; idle and iowait are idle.
      totals.busy = fields[0] + fields[1] + fields[2] + fields[5] + fields[6] + fields[7];
      totals.ok = true;
    } else if (line.size() > 3 && line.substr(0, 3) == "cpu" && line[3] >= '0' && line[3] <= '9') {
      ++totals.processors;
    }
  });
  if (malformed) {
    return {};
  }
  if (totals.processors == 0) {
    totals.ok = false;
  }
  return totals;
}

std::optional<std::uint64_t> parse_proc_pid_stat_cpu(std::string_view text) {
  // The command name is in parentheses and may hold blanks and parentheses
  // itself; the fields after the last ')' are plain.
  const std::size_t close = text.rfind(')');
  if (close == std::string_view::npos) {
    return std::nullopt;
  }
  // After the name: state (field 3) and fields 4..13, some of which may be
  // negative (tpgid is -1 without a terminal), then utime and stime.
  std::size_t pos = close + 1;
  for (int field = 3; field <= 13; ++field) {
    while (pos < text.size() && text[pos] == ' ') {
      ++pos;
    }
    const std::size_t end = text.find(' ', pos);
    if (pos >= text.size() || end == std::string_view::npos) {
      return std::nullopt;
    }
    pos = end;
  }
  const auto utime = next_number(text, pos);
  const auto stime = next_number(text, pos);
  if (!utime || !stime) {
    return std::nullopt;
  }
  return *utime + *stime;
}

} // namespace velto
