// The lines that open a run.
#include "engine/run_header.hpp"

#include "engine/machine_facts.hpp"
#include "platform/cpu.hpp"
#include "platform/format.hpp"
#include "platform/output.hpp"

#include <fmt/format.h>

namespace velto {

void print_run_header(const RunHeader& header, const Machine& machine, std::ostream& out) {
  write_line(out, cpu_brand_string(machine.cpuid()));
  write_line(out, isa_feature_list(detect_isa_features(machine.cpuid())));
  write_line(out, fmt::format("running with {} thread{} ({})", header.threads,
                              header.threads > 1 ? "s" : "", header.manager));
  write_line(out, header.grids + " grid");
  write_line(out, format_bytes(header.bytes_per_thread) + " per thread");
  write_line(out, format_bytes(header.bytes_per_thread * header.threads) + " total");
}

void describe_timers(const TimerInfo& fast, const TimerInfo& coarse, std::ostream& out) {
  write_line(out, fmt::format("Fast Timer Frequency: {} ({})",
                              format_quantity(shown_frequency(fast), "Hz"),
                              timer_source_name(fast.source)));
  write_line(out, "Coarse Timer Frequency: " + format_quantity(shown_frequency(coarse), "Hz"));
}

} // namespace velto
