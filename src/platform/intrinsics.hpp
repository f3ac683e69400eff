// The processor instructions velto needs, wrapped once for every compiler:
// CPUID, XGETBV and the SSE control register.
#pragma once

#include <cstdint>

namespace velto {

/// The four registers one CPUID leaf returns.
struct CpuidRegisters {
  std::uint32_t eax = 0;
  std::uint32_t ebx = 0;
  std::uint32_t ecx = 0;
  std::uint32_t edx = 0;
};

/// Executes CPUID with EAX = leaf and ECX = subleaf.
CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf = 0);

/// Executes XGETBV for the extended control register `index`. Only valid when
/// CPUID reports OSXSAVE; callers check that first.
std::uint64_t xgetbv(std::uint32_t index);

/// Reads the calling thread's SSE control and status register (MXCSR).
std::uint32_t read_sse_control();

/// Writes the calling thread's MXCSR.
void write_sse_control(std::uint32_t value);

/// Bits 15 (flush-to-zero) and 6 (denormals-are-zero) of MXCSR.
inline constexpr std::uint32_t kFlushDenormalsBits = 0x8040;

/// Sets flush-to-zero and denormals-are-zero on the calling thread and leaves
/// them set; every later field computation on the thread flushes denormals.
void enable_flush_denormals();

} // namespace velto
