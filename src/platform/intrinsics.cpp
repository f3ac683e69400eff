// CPUID, XGETBV and MXCSR access in GCC's and clang's spelling; the same on
// every OS.
#include "platform/intrinsics.hpp"

#include "platform/compiler.hpp"

#include <cpuid.h>
#include <xmmintrin.h>

namespace velto {

CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
  CpuidRegisters r;
  // __cpuid_count, not __get_cpuid_count: the leaf is executed even above the
  // highest reported leaf, as callers that read leaf 0x80000007 unchecked expect.
  __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
  return r;
}

std::uint64_t xgetbv(std::uint32_t index) {
  std::uint32_t lo = 0;
  std::uint32_t hi = 0;
  // Encoded as bytes so no -mxsave is needed.
  __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(lo), "=d"(hi) : "c"(index));
  return (static_cast<std::uint64_t>(hi) << 32) | lo;
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
