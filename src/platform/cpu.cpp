// Processor identification and feature decoding: only code that is the same on
// every OS. The registers come through a CpuidSource, so any processor can be
// described by a recording.
#include "platform/cpu.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <utility>

namespace velto {

namespace {

class LiveCpuidSource final : public CpuidSource {
public:
  CpuidRegisters cpuid(std::uint32_t leaf, std::uint32_t subleaf) const override {
    return velto::cpuid(leaf, subleaf);
  }
  std::uint64_t xgetbv(std::uint32_t index) const override { return velto::xgetbv(index); }
};

enum class Leaf { basic1, ext7_0, ext7_1, amd1 };
enum class Reg { eax, ebx, ecx, edx };
// avx: XMM and YMM state saved by the OS; avx512: also the opmask and ZMM state.
enum class Gate { none, avx, avx512 };
// The AVX-512 names give way to the AVX10 entry when AVX10 is present.
enum class Group { plain, avx512, avx10 };

struct FeatureBit {
  std::string_view name;
  bool IsaFeatures::*flag;
  Leaf leaf;
  Reg reg;
  int bit;
  Gate gate;
  Group group;
};

// In the order of the printed list.
constexpr std::array kFeatureBits{
    FeatureBit{"MMX", &IsaFeatures::mmx, Leaf::basic1, Reg::edx, 23, Gate::none, Group::plain},
    FeatureBit{"SSE", &IsaFeatures::sse, Leaf::basic1, Reg::edx, 25, Gate::none, Group::plain},
    FeatureBit{"SSE2", &IsaFeatures::sse2, Leaf::basic1, Reg::edx, 26, Gate::none, Group::plain},
    FeatureBit{"SSE3", &IsaFeatures::sse3, Leaf::basic1, Reg::ecx, 0, Gate::none, Group::plain},
    FeatureBit{"SSSE3", &IsaFeatures::ssse3, Leaf::basic1, Reg::ecx, 9, Gate::none, Group::plain},
    FeatureBit{"SSE4.1", &IsaFeatures::sse4_1, Leaf::basic1, Reg::ecx, 19, Gate::none,
               Group::plain},
    FeatureBit{"SSE4.2", &IsaFeatures::sse4_2, Leaf::basic1, Reg::ecx, 20, Gate::none,
               Group::plain},
    FeatureBit{"SSE4a", &IsaFeatures::sse4a, Leaf::amd1, Reg::ecx, 6, Gate::none, Group::plain},
    FeatureBit{"POPCNT", &IsaFeatures::popcnt, Leaf::basic1, Reg::ecx, 23, Gate::none,
               Group::plain},
    FeatureBit{"AES", &IsaFeatures::aes, Leaf::basic1, Reg::ecx, 25, Gate::none, Group::plain},
    FeatureBit{"FMA", &IsaFeatures::fma, Leaf::basic1, Reg::ecx, 12, Gate::none, Group::plain},
    FeatureBit{"RDRAND", &IsaFeatures::rdrand, Leaf::basic1, Reg::ecx, 30, Gate::none,
               Group::plain},
    FeatureBit{"BMI1", &IsaFeatures::bmi1, Leaf::ext7_0, Reg::ebx, 3, Gate::none, Group::plain},
    FeatureBit{"BMI2", &IsaFeatures::bmi2, Leaf::ext7_0, Reg::ebx, 8, Gate::none, Group::plain},
    FeatureBit{"LZCNT", &IsaFeatures::lzcnt, Leaf::amd1, Reg::ecx, 5, Gate::none, Group::plain},
    FeatureBit{"XOP", &IsaFeatures::xop, Leaf::amd1, Reg::ecx, 11, Gate::none, Group::plain},
    FeatureBit{"AVX", &IsaFeatures::avx, Leaf::basic1, Reg::ecx, 28, Gate::avx, Group::plain},
    FeatureBit{"AVX2", &IsaFeatures::avx2, Leaf::ext7_0, Reg::ebx, 5, Gate::avx, Group::plain},
    FeatureBit{"AVX512F", &IsaFeatures::avx512f, Leaf::ext7_0, Reg::ebx, 16, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512BW", &IsaFeatures::avx512bw, Leaf::ext7_0, Reg::ebx, 30, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512VL", &IsaFeatures::avx512vl, Leaf::ext7_0, Reg::ebx, 31, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512DQ", &IsaFeatures::avx512dq, Leaf::ext7_0, Reg::ebx, 17, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512IFMA", &IsaFeatures::avx512ifma, Leaf::ext7_0, Reg::ebx, 21, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512PF", &IsaFeatures::avx512pf, Leaf::ext7_0, Reg::ebx, 26, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512ER", &IsaFeatures::avx512er, Leaf::ext7_0, Reg::ebx, 27, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512CD", &IsaFeatures::avx512cd, Leaf::ext7_0, Reg::ebx, 28, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512VBMI", &IsaFeatures::avx512vbmi, Leaf::ext7_0, Reg::ecx, 1, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512VBMI2", &IsaFeatures::avx512vbmi2, Leaf::ext7_0, Reg::ecx, 6, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512VNNI", &IsaFeatures::avx512vnni, Leaf::ext7_0, Reg::ecx, 11, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512BITALG", &IsaFeatures::avx512bitalg, Leaf::ext7_0, Reg::ecx, 12, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512VPOPCNTDQ", &IsaFeatures::avx512vpopcntdq, Leaf::ext7_0, Reg::ecx, 14,
               Gate::avx512, Group::avx512},
    FeatureBit{"AVX512_BF16", &IsaFeatures::avx512_bf16, Leaf::ext7_1, Reg::eax, 5, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512_FP16", &IsaFeatures::avx512_fp16, Leaf::ext7_0, Reg::edx, 23, Gate::avx512,
               Group::avx512},
    FeatureBit{"AVX512_4VNNIW", &IsaFeatures::avx512_4vnniw, Leaf::ext7_0, Reg::edx, 2,
               Gate::avx512, Group::avx512},
    FeatureBit{"AVX512_4FMAPS", &IsaFeatures::avx512_4fmaps, Leaf::ext7_0, Reg::edx, 3,
               Gate::avx512, Group::avx512},
    FeatureBit{"AVX512_VP2INTERSECT", &IsaFeatures::avx512_vp2intersect, Leaf::ext7_0, Reg::edx, 8,
               Gate::avx512, Group::avx512},
    FeatureBit{"AVX10", &IsaFeatures::avx10, Leaf::ext7_1, Reg::edx, 19, Gate::avx512,
               Group::avx10},
    FeatureBit{"APX", &IsaFeatures::apx, Leaf::ext7_1, Reg::edx, 21, Gate::none, Group::plain},
    FeatureBit{"GFNI", &IsaFeatures::gfni, Leaf::ext7_0, Reg::ecx, 8, Gate::avx, Group::plain},
    FeatureBit{"VAES", &IsaFeatures::vaes, Leaf::ext7_0, Reg::ecx, 9, Gate::avx, Group::plain},
    FeatureBit{"VPCLMULQDQ", &IsaFeatures::vpclmulqdq, Leaf::ext7_0, Reg::ecx, 10, Gate::avx,
               Group::plain},
    FeatureBit{"SHA", &IsaFeatures::sha, Leaf::ext7_0, Reg::ebx, 29, Gate::none, Group::plain},
    FeatureBit{"RDPID", &IsaFeatures::rdpid, Leaf::ext7_0, Reg::ecx, 22, Gate::none, Group::plain},
    FeatureBit{"WAITPKG", &IsaFeatures::waitpkg, Leaf::ext7_0, Reg::ecx, 5, Gate::none,
               Group::plain},
    FeatureBit{"MOVDIRI", &IsaFeatures::movdiri, Leaf::ext7_0, Reg::ecx, 27, Gate::none,
               Group::plain},
    FeatureBit{"MOVDIR64B", &IsaFeatures::movdir64b, Leaf::ext7_0, Reg::ecx, 28, Gate::none,
               Group::plain},
    FeatureBit{"SERIALIZE", &IsaFeatures::serialize, Leaf::ext7_0, Reg::edx, 14, Gate::none,
               Group::plain},
    FeatureBit{"TSXLDTRK", &IsaFeatures::tsxldtrk, Leaf::ext7_0, Reg::edx, 16, Gate::none,
               Group::plain},
    FeatureBit{"PKU", &IsaFeatures::pku, Leaf::ext7_0, Reg::ecx, 3, Gate::none, Group::plain},
    FeatureBit{"OSPKE", &IsaFeatures::ospke, Leaf::ext7_0, Reg::ecx, 4, Gate::none, Group::plain},
    FeatureBit{"SGX", &IsaFeatures::sgx, Leaf::ext7_0, Reg::ebx, 2, Gate::none, Group::plain},
    FeatureBit{"CLWB", &IsaFeatures::clwb, Leaf::ext7_0, Reg::ebx, 24, Gate::none, Group::plain},
    FeatureBit{"CLFLUSHOPT", &IsaFeatures::clflushopt, Leaf::ext7_0, Reg::ebx, 23, Gate::none,
               Group::plain},
    FeatureBit{"AMX_TILE", &IsaFeatures::amx_tile, Leaf::ext7_0, Reg::edx, 24, Gate::none,
               Group::plain},
    FeatureBit{"AMX_INT8", &IsaFeatures::amx_int8, Leaf::ext7_0, Reg::edx, 25, Gate::none,
               Group::plain},
    FeatureBit{"AMX_BF16", &IsaFeatures::amx_bf16, Leaf::ext7_0, Reg::edx, 22, Gate::none,
               Group::plain},
    FeatureBit{"AMX_FP16", &IsaFeatures::amx_fp16, Leaf::ext7_1, Reg::eax, 21, Gate::none,
               Group::plain},
    FeatureBit{"CET_IBT", &IsaFeatures::cet_ibt, Leaf::ext7_0, Reg::edx, 20, Gate::none,
               Group::plain},
    FeatureBit{"CET_SHSTK", &IsaFeatures::cet_shstk, Leaf::ext7_0, Reg::ecx, 7, Gate::none,
               Group::plain},
    FeatureBit{"FSRM", &IsaFeatures::fsrm, Leaf::ext7_0, Reg::edx, 4, Gate::none, Group::plain},
    FeatureBit{"HRESET", &IsaFeatures::hreset, Leaf::ext7_1, Reg::eax, 22, Gate::none,
               Group::plain},
    FeatureBit{"UINTR", &IsaFeatures::uintr, Leaf::ext7_0, Reg::edx, 5, Gate::none, Group::plain},
};

constexpr std::uint32_t kOsXsaveBit = 1u << 27;  // leaf 1 ECX: the OS enabled XSAVE
constexpr std::uint32_t kAvxBit = 1u << 28;      // leaf 1 ECX
constexpr std::uint64_t kAvxStateMask = 0x6;     // XMM and YMM
constexpr std::uint64_t kAvx512StateMask = 0xE6; // XMM, YMM, opmask, ZMM0-15 upper, ZMM16-31

std::uint32_t register_of(const CpuidRegisters& r, Reg reg) {
  switch (reg) {
  case Reg::eax:
    return r.eax;
  case Reg::ebx:
    return r.ebx;
  case Reg::ecx:
    return r.ecx;
  case Reg::edx:
    return r.edx;
  }
  return 0;
}

} // namespace

RecordedCpuidSource::RecordedCpuidSource(std::vector<CpuidLeaf> leaves, std::uint64_t xcr0)
    : leaves_(std::move(leaves)), xcr0_(xcr0) {}

CpuidRegisters RecordedCpuidSource::cpuid(std::uint32_t leaf, std::uint32_t subleaf) const {
  for (const CpuidLeaf& recorded : leaves_) {
    if (recorded.leaf == leaf && recorded.subleaf == subleaf) {
      return recorded.registers;
    }
  }
  return {};
}

std::uint64_t RecordedCpuidSource::xgetbv(std::uint32_t index) const {
  ++xgetbv_calls_;
  return index == 0 ? xcr0_ : 0;
}

const CpuidSource& live_cpuid_source() {
  static const LiveCpuidSource source;
  return source;
}

CpuVendor cpu_vendor_from_brand(std::string_view brand) {
  if (brand.find("Intel") != std::string_view::npos) {
    return CpuVendor::intel;
  }
  if (brand.find("AMD") != std::string_view::npos) {
    return CpuVendor::amd;
  }
  return CpuVendor::unknown;
}

std::string cpu_brand_string(const CpuidSource& source) {
  const std::uint32_t highest_extended = source.cpuid(0x80000000u, 0).eax;
  if (highest_extended < 0x80000004u) {
    return {};
  }
  // 48 bytes of brand and a terminating zero in case the processor gives none.
  char text[49] = {};
  for (std::uint32_t i = 0; i < 3; ++i) {
    const CpuidRegisters r = source.cpuid(0x80000002u + i, 0);
    const std::uint32_t words[4] = {r.eax, r.ebx, r.ecx, r.edx};
    std::memcpy(text + 16 * i, words, sizeof words);
  }
  return std::string(text);
}

CpuIdentity identify_cpu(const CpuidSource& source) {
  CpuIdentity identity;
  identity.brand = cpu_brand_string(source);
  identity.vendor = cpu_vendor_from_brand(identity.brand);
  const std::uint32_t eax = source.cpuid(1, 0).eax;
  // The extended family is not added; the extended model always is.
  identity.family = static_cast<std::int32_t>((eax >> 8) & 0xF);
  identity.model = static_cast<std::int32_t>(((eax >> 16) & 0xF) * 16 + ((eax >> 4) & 0xF));
  return identity;
}

namespace {

// The highest-level cache of one deterministic cache leaf (4 on Intel,
// 0x8000001D on AMD; both share the layout), as {level, bytes}.
std::pair<std::uint32_t, std::uint64_t> largest_cache_of_leaf(const CpuidSource& source,
                                                              std::uint32_t leaf) {
  std::pair<std::uint32_t, std::uint64_t> best{0, 0};
  for (std::uint32_t subleaf = 0; subleaf < 16; ++subleaf) {
    const CpuidRegisters r = source.cpuid(leaf, subleaf);
    if ((r.eax & 0x1F) == 0) { // no more caches
      break;
    }
    const std::uint32_t level = (r.eax >> 5) & 0x7;
    const std::uint64_t ways = ((r.ebx >> 22) & 0x3FF) + 1;
    const std::uint64_t partitions = ((r.ebx >> 12) & 0x3FF) + 1;
    const std::uint64_t line = (r.ebx & 0xFFF) + 1;
    const std::uint64_t sets = static_cast<std::uint64_t>(r.ecx) + 1;
    const std::pair<std::uint32_t, std::uint64_t> cache{level, ways * partitions * line * sets};
    best = std::max(best, cache);
  }
  return best;
}

} // namespace

std::uint64_t last_level_cache_bytes(const CpuidSource& source) {
  const std::uint32_t highest_basic = source.cpuid(0, 0).eax;
  const std::uint32_t highest_extended = source.cpuid(0x80000000u, 0).eax;
  std::pair<std::uint32_t, std::uint64_t> best{0, 0};
  if (highest_basic >= 4) {
    best = largest_cache_of_leaf(source, 4);
  }
  if (highest_extended >= 0x8000001Du) {
    best = std::max(best, largest_cache_of_leaf(source, 0x8000001Du));
  }
  if (best.second != 0) {
    return best.second;
  }
  // The older AMD leaf: L3 size in units of 512 KiB in EDX[31:18].
  if (highest_extended >= 0x80000006u) {
    return static_cast<std::uint64_t>(source.cpuid(0x80000006u, 0).edx >> 18) * (512u << 10);
  }
  return 0;
}

IsaFeatures detect_isa_features(const CpuidSource& source) {
  const std::uint32_t highest_basic = source.cpuid(0, 0).eax;
  const std::uint32_t highest_extended = source.cpuid(0x80000000u, 0).eax;

  const CpuidRegisters leaf1 = source.cpuid(1, 0);
  const bool have7 = highest_basic >= 7;
  const bool have_amd1 = highest_extended >= 0x80000001u;
  const CpuidRegisters leaf7_0 = have7 ? source.cpuid(7, 0) : CpuidRegisters{};
  const CpuidRegisters leaf7_1 = have7 ? source.cpuid(7, 1) : CpuidRegisters{};
  const CpuidRegisters amd1 = have_amd1 ? source.cpuid(0x80000001u, 0) : CpuidRegisters{};

  // XGETBV faults unless the OS enabled XSAVE, so it runs only after both bits.
  bool avx_state = false;
  bool avx512_state = false;
  if ((leaf1.ecx & kOsXsaveBit) != 0 && (leaf1.ecx & kAvxBit) != 0) {
    const std::uint64_t xcr0 = source.xgetbv(0);
    avx_state = (xcr0 & kAvxStateMask) == kAvxStateMask;
    avx512_state = (xcr0 & kAvx512StateMask) == kAvx512StateMask;
  }

  IsaFeatures features;
  for (const FeatureBit& f : kFeatureBits) {
    const CpuidRegisters* regs = nullptr;
    switch (f.leaf) {
    case Leaf::basic1:
      regs = &leaf1;
      break;
    case Leaf::ext7_0:
      regs = &leaf7_0;
      break;
    case Leaf::ext7_1:
      regs = &leaf7_1;
      break;
    case Leaf::amd1:
      regs = &amd1;
      break;
    }
    const bool bit = ((register_of(*regs, f.reg) >> f.bit) & 1u) != 0;
    const bool gate = f.gate == Gate::none || (f.gate == Gate::avx && avx_state) ||
                      (f.gate == Gate::avx512 && avx512_state);
    features.*(f.flag) = bit && gate;
  }

  if (features.avx10 && highest_basic >= 0x24) {
    const std::uint32_t ebx = source.cpuid(0x24, 0).ebx;
    features.avx10_version = static_cast<std::int32_t>(ebx & 0xFF);
    if ((ebx & (1u << 18)) != 0) {
      features.avx10_width = 3;
    } else if ((ebx & (1u << 17)) != 0) {
      features.avx10_width = 2;
    } else if ((ebx & (1u << 16)) != 0) {
      features.avx10_width = 1;
    }
  }
  return features;
}

std::string isa_feature_list(const IsaFeatures& features) {
  std::string list;
  const auto append = [&list](std::string_view name) {
    if (!list.empty()) {
      list += ' ';
    }
    list += name;
  };
  for (const FeatureBit& f : kFeatureBits) {
    if (f.group == Group::avx512 && features.avx10) {
      continue;
    }
    if (!(features.*(f.flag))) {
      continue;
    }
    append(f.name);
    if (f.group == Group::avx10) {
      if (features.avx10_version != 0) {
        list += '.';
        list += std::to_string(features.avx10_version);
      }
      static constexpr std::string_view kWidths[] = {"", "-128", "-256", "-512"};
      if (features.avx10_width >= 1 && features.avx10_width <= 3) {
        list += kWidths[features.avx10_width];
      }
    }
  }
  return list;
}

CpuIdentity identify_cpu() {
  return identify_cpu(live_cpuid_source());
}

} // namespace velto
