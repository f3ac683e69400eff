// Processor identification and instruction-set features from CPUID and XGETBV.
#pragma once

#include "platform/intrinsics.hpp"
#include "platform/name_table.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

/// The processor's maker, decided from the brand string.
enum class CpuVendor : std::uint8_t { intel, amd, unknown };

/// The makers and the names the record gives them.
inline constexpr NameTable<CpuVendor, 3> cpu_vendor_table = {{
    {CpuVendor::intel, "intel"},
    {CpuVendor::amd, "amd"},
    {CpuVendor::unknown, "unknown"},
}};

struct CpuIdentity {
  std::string brand; ///< at most 48 characters; empty without the brand leaves
  CpuVendor vendor = CpuVendor::unknown;
  std::int32_t family = 0; ///< base family, bits 8..11 of leaf 1 EAX
  std::int32_t model = 0;  ///< extended model × 16 + model, for every family
};

/// One flag per listed extension, in list order, then the AVX10 details and APX.
struct IsaFeatures {
  bool mmx = false;
  bool sse = false;
  bool sse2 = false;
  bool sse3 = false;
  bool ssse3 = false;
  bool sse4_1 = false;
  bool sse4_2 = false;
  bool sse4a = false;
  bool popcnt = false;
  bool aes = false;
  bool rdrand = false;
  bool bmi1 = false;
  bool bmi2 = false;
  bool lzcnt = false;
  bool xop = false;
  bool avx = false;
  bool avx2 = false;
  bool fma = false;
  bool avx512f = false;
  bool avx512bw = false;
  bool avx512vl = false;
  bool avx512dq = false;
  bool avx512ifma = false;
  bool avx512pf = false;
  bool avx512er = false;
  bool avx512cd = false;
  bool avx512vbmi = false;
  bool avx512vbmi2 = false;
  bool avx512vnni = false;
  bool avx512bitalg = false;
  bool avx512vpopcntdq = false;
  bool gfni = false;
  bool vaes = false;
  bool vpclmulqdq = false;
  bool sha = false;
  bool movdiri = false;
  bool movdir64b = false;
  bool serialize = false;
  bool tsxldtrk = false;
  bool pku = false;
  bool ospke = false;
  bool rdpid = false;
  bool waitpkg = false;
  bool clwb = false;
  bool clflushopt = false;
  bool sgx = false;
  bool avx512_4vnniw = false;
  bool avx512_4fmaps = false;
  bool avx512_vp2intersect = false;
  bool amx_tile = false;
  bool amx_int8 = false;
  bool amx_bf16 = false;
  bool amx_fp16 = false;
  bool cet_ibt = false;
  bool cet_shstk = false;
  bool fsrm = false;
  bool hreset = false;
  bool uintr = false;
  bool avx512_bf16 = false;
  bool avx512_fp16 = false;
  bool avx10 = false;
  std::int32_t avx10_version = 0; ///< converged version; 0 when not read
  std::int32_t avx10_width = 0;   ///< 0 none, 1 128-bit, 2 256-bit, 3 512-bit
  bool apx = false;
};

/// Where CPUID and XGETBV values come from: the processor itself, or a recording.
class CpuidSource {
public:
  virtual ~CpuidSource() = default;
  /// The registers of CPUID `leaf`.`subleaf`.
  virtual CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) const = 0;
  /// The extended control register `index`; only asked after OSXSAVE was seen.
  virtual std::uint64_t xgetbv(std::uint32_t index) const = 0;
};

/// The processor this runs on.
const CpuidSource& live_cpuid_source();

/// One recorded CPUID leaf.
struct CpuidLeaf {
  std::uint32_t leaf = 0;
  std::uint32_t subleaf = 0;
  CpuidRegisters registers;
};

/// A processor described by a table of leaves; leaves not in the table read as
/// zeros, and XCR0 is the recorded value (other XCRs read as 0).
class RecordedCpuidSource final : public CpuidSource {
public:
  RecordedCpuidSource(std::vector<CpuidLeaf> leaves, std::uint64_t xcr0);
  CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) const override;
  std::uint64_t xgetbv(std::uint32_t index) const override;
  /// How often xgetbv was asked (the real instruction faults without OSXSAVE).
  int xgetbv_calls() const { return xgetbv_calls_; }

private:
  std::vector<CpuidLeaf> leaves_;
  std::uint64_t xcr0_ = 0;
  mutable int xgetbv_calls_ = 0;
};

/// Intel when the brand contains "Intel", else AMD when it contains "AMD", else unknown.
CpuVendor cpu_vendor_from_brand(std::string_view brand);

/// The brand string of leaves 0x80000002..4 (empty when they are missing).
std::string cpu_brand_string(const CpuidSource& source);
/// Brand, vendor, family and model of the processor `source` describes.
CpuIdentity identify_cpu(const CpuidSource& source);
/// Every flag with its operating-system gating, and the AVX10 details.
IsaFeatures detect_isa_features(const CpuidSource& source);
/// The space-separated list text of `features`.
std::string isa_feature_list(const IsaFeatures& features);
/// Bytes of one of the processor's last-level caches (the highest level that
/// CPUID's deterministic cache leaves, 4 or 0x8000001D, describe; else the L3
/// of leaf 0x80000006); 0 when no leaf says.
std::uint64_t last_level_cache_bytes(const CpuidSource& source);

/// Brand, vendor, family and model of the processor this runs on.
CpuIdentity identify_cpu();

} // namespace velto
