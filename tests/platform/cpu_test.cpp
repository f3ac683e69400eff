#include "platform/cpu.hpp"

#include "support/cpuid_fixtures.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace velto {
namespace {

constexpr std::uint32_t bit(int n) {
  return 1u << n;
}

constexpr std::uint32_t kOsAvxBits = bit(27) | bit(28); // OSXSAVE and AVX in leaf 1 ECX

// A processor described by the registers the decoding reads.
struct Chip {
  std::uint32_t max_basic = 0x24;
  std::uint32_t max_extended = 0x80000008;
  CpuidRegisters leaf1;
  CpuidRegisters leaf7_0;
  CpuidRegisters leaf7_1;
  CpuidRegisters amd1;
  std::uint32_t leaf24_ebx = 0;
  std::uint64_t xcr0 = 0xE7;
  std::string brand;

  RecordedCpuidSource source() const {
    std::vector<CpuidLeaf> leaves = {
        {0, 0, {max_basic, 0, 0, 0}},
        {1, 0, leaf1},
        {7, 0, leaf7_0},
        {7, 1, leaf7_1},
        {0x24, 0, {0, leaf24_ebx, 0, 0}},
        {0x80000000, 0, {max_extended, 0, 0, 0}},
        {0x80000001, 0, amd1},
    };
    for (const CpuidLeaf& leaf : testing::brand_leaves(brand)) {
      leaves.push_back(leaf);
    }
    return RecordedCpuidSource(leaves, xcr0);
  }
};

std::string list_of(const Chip& chip) {
  return isa_feature_list(detect_isa_features(chip.source()));
}

void expect_well_formed(const std::string& list) {
  EXPECT_NE(list.front(), ' ') << list;
  EXPECT_NE(list.back(), ' ') << list;
  EXPECT_EQ(list.find("  "), std::string::npos) << list;
}

// Every register bit set, except those named in the case.
Chip every_bit_chip() {
  Chip chip;
  const CpuidRegisters all{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  chip.leaf1 = chip.leaf7_0 = chip.leaf7_1 = chip.amd1 = all;
  chip.xcr0 = 0xFF;
  return chip;
}

TEST(CpuIdentity, VendorComesFromTheBrandString) {
  struct Case {
    const char* brand;
    CpuVendor vendor;
  };
  const Case cases[] = {
      {"Intel(R) Xeon(R) CPU E5-2690 v4 @ 2.60GHz", CpuVendor::intel},
      {"        Intel(R) Core(TM)2 CPU", CpuVendor::intel},
      {"AMD Ryzen 9 7950X 16-Core Processor", CpuVendor::amd},
      {"Genuine AMD part with Intel inside", CpuVendor::intel},
      {"", CpuVendor::unknown},
      {"intel core", CpuVendor::unknown},
      {"amd athlon", CpuVendor::unknown},
      {"VIA Nano", CpuVendor::unknown},
  };
  for (const auto& c : cases) {
    Chip chip;
    chip.brand = c.brand;
    const CpuIdentity identity = identify_cpu(chip.source());
    EXPECT_EQ(identity.brand, c.brand);
    EXPECT_EQ(identity.vendor, c.vendor) << c.brand;
  }
}

TEST(CpuIdentity, FamilyIsTheBaseFieldAndModelAlwaysTakesTheExtendedModel) {
  struct Case {
    std::uint32_t eax;
    std::int32_t family;
    std::int32_t model;
  };
  const Case cases[] = {
      {0x000906EA, 6, 0x9E},   {0x00A20F10, 0xF, 0x21}, // extended family 0xA is not added
      {0x00B00F21, 0xF, 0x02}, {0x000006F6, 6, 0x0F},
      {0x00000F4A, 0xF, 0x04}, {0xFFFFFFFF, 0xF, 0xFF},
  };
  for (const auto& c : cases) {
    Chip chip;
    chip.leaf1.eax = c.eax;
    const CpuIdentity identity = identify_cpu(chip.source());
    EXPECT_EQ(identity.family, c.family) << std::hex << c.eax;
    EXPECT_EQ(identity.model, c.model) << std::hex << c.eax;
  }
}

TEST(CpuIdentity, BrandNeedsTheBrandLeavesAndStopsAtTheFirstZero) {
  const std::string full48 = "0123456789abcdef0123456789ABCDEF  blanks stay  ";
  struct Case {
    std::uint32_t max_extended;
    std::string recorded;
    std::string brand;
  };
  const Case cases[] = {
      {0x80000004, full48 + "!", full48 + "!"}, // 48 bytes and no zero at all
      {0x80000004, "  Intel  ", "  Intel  "},
      {0x80000008, std::string("AMD\0hidden", 10), "AMD"},
      {0x80000003, "Intel(R) Pentium(R) 4", ""}, // brand leaves not offered
      {0x00000007, "Intel(R) Pentium(R) 4", ""}, // no extended leaves: not >= 0x80000004 unsigned
  };
  for (const auto& c : cases) {
    Chip chip;
    chip.max_extended = c.max_extended;
    chip.brand = c.recorded;
    const CpuIdentity identity = identify_cpu(chip.source());
    EXPECT_EQ(identity.brand, c.brand) << std::hex << c.max_extended;
    if (c.brand.empty()) {
      EXPECT_EQ(identity.vendor, CpuVendor::unknown);
    }
  }
}

TEST(IsaFeatures, ListNamesFlagsInOrderWithTheirGating) {
  struct Case {
    const char* what;
    Chip chip;
    const char* list;
  };
  std::vector<Case> cases;
  {
    Chip c;
    c.leaf1.edx = bit(23) | bit(25) | bit(26);
    cases.push_back({"MMX, SSE and SSE2 only", c, "MMX SSE SSE2"});
  }
  {
    Chip c; // AVX reported, but the OS does not save the wider state
    c.leaf1.ecx = bit(28) | bit(12);
    c.leaf7_0.ebx = bit(5) | bit(16) | bit(30);
    c.leaf7_0.ecx = bit(8) | bit(9) | bit(10) | bit(1);
    c.leaf7_1.edx = bit(19);
    cases.push_back({"OSXSAVE clear", c, "FMA"});
  }
  {
    Chip c;
    c.leaf1.ecx = kOsAvxBits;
    c.leaf7_0.ebx = bit(5) | bit(16) | bit(30);
    c.leaf7_0.ecx = bit(8) | bit(14);
    c.leaf7_0.edx = bit(23);
    c.xcr0 = 0x7;
    cases.push_back({"XCR0 without AVX-512 state", c, "AVX AVX2 GFNI"});
  }
  {
    Chip c;
    c.leaf1.ecx = kOsAvxBits;
    c.leaf7_0.ebx = bit(5) | bit(16);
    c.leaf7_1.edx = bit(19);
    c.xcr0 = 0x7;
    cases.push_back({"AVX10 without AVX-512 state", c, "AVX AVX2"});
  }
  {
    Chip c;
    c.leaf1.ecx = kOsAvxBits;
    c.leaf7_0.ebx = bit(16);
    c.leaf7_0.ecx = bit(8);
    c.leaf7_1.edx = bit(21);
    cases.push_back({"APX after the AVX-512 names", c, "AVX AVX512F APX GFNI"});
    c.leaf7_1.edx |= bit(19);
    cases.push_back({"APX after the AVX10 entry", c, "AVX AVX10 APX GFNI"});
  }
  {
    Chip c;
    c.max_basic = 6;
    c.leaf1.edx = bit(23);
    c.leaf7_0 = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    c.leaf7_1 = c.leaf7_0;
    cases.push_back({"leaf 7 above the highest leaf", c, "MMX"});
  }
  {
    Chip c;
    c.max_extended = 0x80000000;
    c.amd1.ecx = bit(5) | bit(6) | bit(11);
    cases.push_back({"leaf 0x80000001 above the highest extended leaf", c, ""});
    c.max_extended = 0x80000001;
    cases.push_back({"leaf 0x80000001 read", c, "SSE4a LZCNT XOP"});
  }
  {
    Chip c = every_bit_chip();
    c.leaf7_1.edx &= ~bit(19);
    cases.push_back(
        {"every flag but AVX10", c,
         "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 SSE4a POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT XOP "
         "AVX AVX2 AVX512F AVX512BW AVX512VL AVX512DQ AVX512IFMA AVX512PF AVX512ER AVX512CD "
         "AVX512VBMI AVX512VBMI2 AVX512VNNI AVX512BITALG AVX512VPOPCNTDQ AVX512_BF16 AVX512_FP16 "
         "AVX512_4VNNIW AVX512_4FMAPS AVX512_VP2INTERSECT APX GFNI VAES VPCLMULQDQ SHA RDPID "
         "WAITPKG MOVDIRI MOVDIR64B SERIALIZE TSXLDTRK PKU OSPKE SGX CLWB CLFLUSHOPT AMX_TILE "
         "AMX_INT8 AMX_BF16 AMX_FP16 CET_IBT CET_SHSTK FSRM HRESET UINTR"});
  }
  {
    Chip c = every_bit_chip();
    c.leaf24_ebx = bit(16) | bit(17) | bit(18) | 2;
    cases.push_back({"every flag with AVX10", c,
                     "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 SSE4a POPCNT AES FMA RDRAND BMI1 BMI2 "
                     "LZCNT XOP AVX AVX2 AVX10.2-512 APX GFNI VAES VPCLMULQDQ SHA RDPID WAITPKG "
                     "MOVDIRI MOVDIR64B SERIALIZE TSXLDTRK PKU OSPKE SGX CLWB CLFLUSHOPT AMX_TILE "
                     "AMX_INT8 AMX_BF16 AMX_FP16 CET_IBT CET_SHSTK FSRM HRESET UINTR"});
  }
  for (const auto& c : cases) {
    const std::string list = list_of(c.chip);
    EXPECT_EQ(list, c.list) << c.what;
    if (!list.empty()) {
      expect_well_formed(list);
    }
  }
}

TEST(IsaFeatures, Avx10EntryShowsVersionAndWidthInPlaceOfTheAvx512Names) {
  struct Case {
    std::uint32_t max_basic;
    std::uint32_t leaf24_ebx;
    std::int32_t version;
    std::int32_t width;
    const char* list;
  };
  const Case cases[] = {
      {0x24, 0, 0, 0, "AVX AVX2 AVX10"},
      {0x24, 1, 1, 0, "AVX AVX2 AVX10.1"},
      {0x24, bit(17), 0, 2, "AVX AVX2 AVX10-256"},
      {0x24, 1 | bit(16), 1, 1, "AVX AVX2 AVX10.1-128"},
      {0x24, 2 | bit(16) | bit(17) | bit(18), 2, 3, "AVX AVX2 AVX10.2-512"},
      {0x24, 255 | bit(18), 255, 3, "AVX AVX2 AVX10.255-512"},
      {0x23, 2 | bit(18), 0, 0, "AVX AVX2 AVX10"}, // leaf 0x24 not offered
  };
  for (const auto& c : cases) {
    Chip chip;
    chip.max_basic = c.max_basic;
    chip.leaf1.ecx = kOsAvxBits;
    chip.leaf7_0.ebx = bit(5) | bit(16) | bit(30) | bit(31); // AVX2 and AVX-512 names
    chip.leaf7_1.edx = bit(19);
    chip.leaf24_ebx = c.leaf24_ebx;
    const IsaFeatures features = detect_isa_features(chip.source());
    EXPECT_TRUE(features.avx512f);
    EXPECT_EQ(features.avx10_version, c.version) << std::hex << c.leaf24_ebx;
    EXPECT_EQ(features.avx10_width, c.width) << std::hex << c.leaf24_ebx;
    EXPECT_EQ(isa_feature_list(features), c.list);
  }
}

TEST(IsaFeatures, ExtendedControlRegisterIsReadOnlyAfterOsxsaveAndAvx) {
  struct Case {
    std::uint32_t leaf1_ecx;
    int xgetbv_calls;
  };
  const Case cases[] = {{0, 0}, {bit(27), 0}, {bit(28), 0}, {kOsAvxBits, 1}};
  for (const auto& c : cases) {
    Chip chip;
    chip.leaf1.ecx = c.leaf1_ecx;
    const RecordedCpuidSource source = chip.source();
    detect_isa_features(source);
    EXPECT_EQ(source.xgetbv_calls(), c.xgetbv_calls) << std::hex << c.leaf1_ecx;
  }
}

TEST(IsaFeatures, HybridDesktopProcessorWithoutAvx512) {
  // Performance and efficient cores on one die: AVX-512 fused off, AVX-VNNI
  // (not listed) and the hybrid flag (not listed either).
  Chip chip;
  chip.max_basic = 0x20;
  chip.brand = "12th Gen Intel(R) Core(TM) i7-12700K";
  chip.leaf1 = {0x00090672, 0x00800800, 0x7FFAFBFF, 0xBFEBFBFF};
  chip.leaf7_0.ebx = bit(0) | bit(3) | bit(5) | bit(7) | bit(8) | bit(9) | bit(10) | bit(18) |
                     bit(19) | bit(20) | bit(23) | bit(24) | bit(29);
  chip.leaf7_0.ecx =
      bit(2) | bit(5) | bit(7) | bit(8) | bit(9) | bit(10) | bit(22) | bit(27) | bit(28);
  chip.leaf7_0.edx = bit(4) | bit(14) | bit(15) | bit(20);
  chip.leaf7_1.eax = bit(4) | bit(22);
  chip.amd1.ecx = bit(0) | bit(5) | bit(8);
  chip.xcr0 = 0x207;

  const RecordedCpuidSource source = chip.source();
  const CpuIdentity identity = identify_cpu(source);
  EXPECT_EQ(identity.vendor, CpuVendor::intel);
  EXPECT_EQ(identity.family, 6);
  EXPECT_EQ(identity.model, 0x97);
  EXPECT_EQ(isa_feature_list(detect_isa_features(source)),
            "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT AVX AVX2 "
            "GFNI VAES VPCLMULQDQ SHA RDPID WAITPKG MOVDIRI MOVDIR64B SERIALIZE CLWB CLFLUSHOPT "
            "CET_IBT CET_SHSTK FSRM HRESET");
}

TEST(IsaFeatures, DevelopmentMachineRecording) {
  const RecordedCpuidSource source(testing::dev_machine_leaves(), testing::kDevMachineXcr0);
  const CpuIdentity identity = identify_cpu(source);
  EXPECT_EQ(identity.brand, "Oxide Virtual Turin-like Processor" + std::string(13, ' '));
  EXPECT_EQ(identity.vendor, CpuVendor::unknown); // neither maker's name in the brand
  EXPECT_EQ(identity.family, 0xF);
  EXPECT_EQ(identity.model, 0x02);
  EXPECT_EQ(isa_feature_list(detect_isa_features(source)),
            "MMX SSE SSE2 SSE3 SSSE3 SSE4.1 SSE4.2 SSE4a POPCNT AES FMA RDRAND BMI1 BMI2 LZCNT AVX "
            "AVX2 AVX512F AVX512BW AVX512VL AVX512DQ AVX512IFMA AVX512CD AVX512VBMI AVX512VBMI2 "
            "AVX512VNNI AVX512BITALG AVX512VPOPCNTDQ AVX512_BF16 AVX512_VP2INTERSECT GFNI VAES "
            "VPCLMULQDQ SHA MOVDIRI MOVDIR64B CLWB CLFLUSHOPT FSRM");
}

TEST(CpuCache, LastLevelIsTheHighestLevelAnyCacheLeafDescribes) {
  constexpr std::uint32_t mib = 1u << 20;
  // EAX: type 1 (data) or 3 (unified) and level; EBX: ways, partitions and
  // line size less one; ECX: sets less one.
  const CpuidRegisters l1{0x21, (7u << 22) | 63, 63, 0};        // 32 KiB
  const CpuidRegisters l3_30{0x63, (11u << 22) | 63, 40959, 0}; // 30 MiB
  const CpuidRegisters l3_32{0x63, (15u << 22) | 63, 32767, 0}; // 32 MiB
  struct Case {
    const char* name;
    std::vector<CpuidLeaf> leaves;
    std::uint64_t bytes;
  };
  const Case cases[] = {
      {"leaf 4", {{0, 0, {4, 0, 0, 0}}, {4, 0, l1}, {4, 1, l3_30}}, 30ull * mib},
      {"leaf 0x8000001D",
       {{0x80000000, 0, {0x8000001D, 0, 0, 0}}, {0x8000001D, 0, l1}, {0x8000001D, 1, l3_32}},
       32ull * mib},
      {"leaf 4 beyond the highest basic leaf", {{0, 0, {2, 0, 0, 0}}, {4, 1, l3_30}}, 0},
      {"L3 of leaf 0x80000006",
       {{0x80000000, 0, {0x80000006, 0, 0, 0}}, {0x80000006, 0, {0, 0, 0, 64u << 18}}},
       32ull * mib},
      {"no cache leaf", {}, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(last_level_cache_bytes(RecordedCpuidSource(c.leaves, 0)), c.bytes) << c.name;
  }
}

} // namespace
} // namespace velto
