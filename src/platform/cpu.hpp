// Processor identification and instruction-set features from CPUID and XGETBV.
#pragma once

#include <cstdint>
#include <string>

namespace velto {

/// 0 Intel, 1 AMD, 2 unknown; decided from the brand string.
enum class CpuVendor : std::uint32_t { intel = 0, amd = 1, unknown = 2 };

struct CpuIdentity {
  std::string brand; ///< at most 48 characters; empty without the brand leaves
  CpuVendor vendor = CpuVendor::unknown;
  std::int32_t family = 0; ///< base family, bits 8..11 of leaf 1 EAX
  std::int32_t model = 0;  ///< extended model × 16 + model, for every family
};

/// The processor brand string (empty when the brand leaves are missing).
std::string cpu_brand_string();

/// Brand, vendor, family and model of the processor this runs on.
CpuIdentity identify_cpu();

/// The space-separated list of supported instruction-set extensions.
std::string isa_feature_list();

} // namespace velto
