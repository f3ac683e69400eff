// The driver's printouts. Only code that is the same on every OS.
#include "app/printouts.hpp"

#include "app/options.hpp"
#include "platform/format.hpp"
#include "platform/output.hpp"
#include "solver/field.hpp"

#include <fmt/format.h>

namespace velto {

namespace {

// What the timer report says of each maker.
constexpr NameTable<CpuVendor, 3> vendor_lines = {{
    {CpuVendor::intel, "Intel detected"},
    {CpuVendor::amd, "AMD detected"},
    {CpuVendor::unknown, "unknown vendor"},
}};

} // namespace

void print_memory_table(std::ostream& out) {
  write_line(out, fmt::format("{:<12}    {:>10}", "field size", "memory used per thread"));
  for (std::uint64_t size : grid_sizes) {
    write_line(out, fmt::format("  {:<12}    {:>12}", size, format_bytes(memory_per_thread(size))));
  }
}

void print_timer_report(const TimerFacts& r, std::ostream& out) {
  const auto hz = [](std::int64_t value) {
    return format_quantity(static_cast<std::uint64_t>(value), "Hz");
  };
  write_line(out, fmt::format("Fast timer: {}", timer_source_name(r.fast.source)));
  write_line(out, "underlying frequency: " + hz(r.fast.report_frequency));
  write_line(out, "report frequency: " + hz(r.fast.frequency));
  write_line(out, "Coarse timer: ");
  write_line(out, "underlying frequency: " + hz(r.coarse.report_frequency));
  write_line(out, "report frequency: " + hz(r.coarse.frequency));
  write_line(out, "");
  write_line(out, "tsc info:");
  write_line(out, "tsc: " + format_quantity(r.tsc.tsc_frequency, "Hz"));
  write_line(out, "crystal: " + format_quantity(r.tsc.crystal_frequency, "Hz"));
  write_line(out, fmt::format("invariant: {}", r.tsc.invariant));
  write_line(out, "");
  write_line(out, r.cpu.brand);
  write_line(out, name_of_choice(vendor_lines, r.cpu.vendor));
  write_line(out, fmt::format("detected family: {:x} model: {:x}", r.cpu.family, r.cpu.model));
  write_line(out, "");
  if (r.compliant) {
    write_line(out, "Fast timer is hwbot compliant");
  } else {
    write_line(out, "Fast timer is not compliant with HWBOT rules");
    write_line(out, timer_bypass_advice);
  }
}

std::string grid_size_limit_message(std::uint64_t grid_size, std::uint64_t size_max) {
  switch (check_grid_size(grid_size, size_max)) {
  case GridSizeLimit::address_space:
    return fmt::format("grid size {} is too large for the address space", grid_size);
  case GridSizeLimit::memory_calculation:
    return fmt::format("grid size {} would overflow memory calculation", grid_size);
  case GridSizeLimit::slice_buffer:
    return fmt::format("grid size {} would overflow slice buffer", grid_size);
  case GridSizeLimit::ok:
    break;
  }
  return {};
}

} // namespace velto
