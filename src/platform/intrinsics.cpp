// Compiler-specific spellings of CPUID, XGETBV and MXCSR access; the same on
// every OS.
#include "platform/intrinsics.hpp"

#include "platform/compiler.hpp"

#if VELTO_COMPILER_MSVC
#include <immintrin.h>
#include <intrin.h>
#else
#include <cpuid.h>
#include <xmmintrin.h>
#endif

namespace velto {

CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
  CpuidRegisters r;
#if VELTO_COMPILER_MSVC
  int regs[4];
  __cpuidex(regs, static_cast<int>(leaf), static_cast<int>(subleaf));
  r.eax = static_cast<std::uint32_t>(regs[0]);
  r.ebx = static_cast<std::uint32_t>(regs[1]);
  r.ecx = static_cast<std::uint32_t>(regs[2]);
  r.edx = static_cast<std::uint32_t>(regs[3]);
#else
  // __cpuid_count, not __get_cpuid_count: the leaf is executed even above the
  // highest reported leaf, as callers that read leaf 0x80000007 unchecked expect.
  __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#endif
  return r;
}

std::uint64_t xgetbv(std::uint32_t index) {
#if VELTO_COMPILER_MSVC
  return _xgetbv(index);
#else
  std::uint32_t lo = 0;
  std::uint32_t hi = 0;
  // Encoded as bytes so no -mxsave is needed.
  __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(lo), "=d"(hi) : "c"(index));
  return (static_cast<std::uint64_t>(hi) << 32) | lo;
#endif
}

std::uint32_t read_sse_control() {
  return _mm_getcsr();
}

void write_sse_control(std::uint32_t value) {
  _mm_setcsr(value);
}

void enable_flush_denormals() {
  write_sse_control(read_sse_control() | kFlushDenormalsBits);
}

} // namespace velto
