// Recorded processors for the CPUID decoding tests.
#pragma once

#include "platform/cpu.hpp"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace velto::testing {

/// The development machine, a 2-core virtual machine, recorded with CPUID from
/// user mode: its brand leaves read "Oxide Virtual Turin-like Processor" padded
/// with blanks, leaf 1 EAX 0x00B00F21 (family 0xF + 0xB, model 2), AVX-512
/// without AVX10, no leaves 0x15/0x16, invariant TSC.
inline std::vector<CpuidLeaf> dev_machine_leaves() {
  return {
      {0x00000000, 0, {0x0000000D, 0x68747541, 0x444D4163, 0x69746E65}},
      {0x00000001, 0, {0x00B00F21, 0xB3FE0800, 0xFED83203, 0x178BFBFF}},
      {0x00000007, 0, {0x00000001, 0xF1BB03A9, 0x18005F42, 0x00000110}},
      {0x00000007, 1, {0x00000030, 0x00000000, 0x00000000, 0x00000000}},
      {0x00000015, 0, {0x00000000, 0x00000000, 0x00000000, 0x00000000}},
      {0x00000016, 0, {0x00000000, 0x00000000, 0x00000000, 0x00000000}},
      {0x00000024, 0, {0x00000000, 0x00000000, 0x00000000, 0x00000000}},
      {0x80000000, 0, {0x80000021, 0x68747541, 0x444D4163, 0x69746E65}},
      {0x80000001, 0, {0x00B00F21, 0x40000000, 0x440001F1, 0x25D3FBFF}},
      {0x80000002, 0, {0x6469784F, 0x69562065, 0x61757472, 0x7554206C}},
      {0x80000003, 0, {0x2D6E6972, 0x656B696C, 0x6F725020, 0x73736563}},
      {0x80000004, 0, {0x2020726F, 0x20202020, 0x20202020, 0x00202020}},
      {0x80000005, 0, {0xFF60FF40, 0xFF60FF40, 0x300C0140, 0x20080140}},
      {0x80000006, 0, {0x40802040, 0x60804040, 0x04006140, 0x0FE09140}},
      {0x80000007, 0, {0x00000000, 0x00000000, 0x00000000, 0x00000100}},
      {0x80000008, 0, {0x00003030, 0x20000005, 0x00000000, 0x00000000}},
  };
}
inline constexpr std::uint64_t kDevMachineXcr0 = 0xE7;

/// The three brand leaves 0x80000002..4 holding `brand` (at most 48 bytes),
/// zero-padded.
inline std::vector<CpuidLeaf> brand_leaves(std::string_view brand) {
  char bytes[48] = {};
  std::memcpy(bytes, brand.data(), brand.size() < 48 ? brand.size() : 48);
  std::vector<CpuidLeaf> leaves;
  for (std::uint32_t i = 0; i < 3; ++i) {
    std::uint32_t words[4];
    std::memcpy(words, bytes + 16 * i, sizeof words);
    leaves.push_back({0x80000002u + i, 0, {words[0], words[1], words[2], words[3]}});
  }
  return leaves;
}

} // namespace velto::testing
