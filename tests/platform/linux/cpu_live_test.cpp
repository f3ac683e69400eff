// The live processor against what the kernel says in /proc/cpuinfo.
#include "platform/cpu.hpp"

#include "platform/linux/file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

namespace velto {
namespace {

std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

// The fields of the first processor in /proc/cpuinfo.
std::map<std::string, std::string> first_processor() {
  std::map<std::string, std::string> fields;
  std::istringstream lines(linux_os::read_text_file("/proc/cpuinfo"));
  std::string line;
  while (std::getline(lines, line) && !line.empty()) {
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      fields[trimmed(line.substr(0, colon))] = trimmed(line.substr(colon + 1));
    }
  }
  return fields;
}

std::set<std::string> words(const std::string& text) {
  std::set<std::string> set;
  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    set.insert(word);
  }
  return set;
}

TEST(CpuLive, FamilyAndModelMatchTheKernel) {
  const auto fields = first_processor();
  ASSERT_TRUE(fields.count("cpu family") && fields.count("model")) << "no /proc/cpuinfo";
  const CpuIdentity identity = identify_cpu();
  // The kernel adds the extended family to family 0xF; velto keeps the base field.
  const int kernel_family = std::stoi(fields.at("cpu family"));
  EXPECT_EQ(identity.family, std::min(kernel_family, 0xF));
  EXPECT_EQ(identity.model, std::stoi(fields.at("model")));
}

TEST(CpuLive, BrandMatchesTheKernelModelName) {
  const auto fields = first_processor();
  ASSERT_TRUE(fields.count("model name")) << "no /proc/cpuinfo";
  const std::string brand = trimmed(cpu_brand_string(live_cpuid_source()));
  const std::string& kernel = fields.at("model name");
  // A hypervisor may show the kernel other brand leaves than user mode gets
  // (the kernel keeps what it read at boot); only bare metal must agree.
  if (brand != kernel && fields.count("flags") && words(fields.at("flags")).count("hypervisor")) {
    GTEST_SKIP() << "virtual machine: CPUID says \"" << brand << "\", the kernel \"" << kernel
                 << "\"";
  }
  EXPECT_EQ(brand, kernel);
}

TEST(CpuLive, BasicAndLeaf7FeaturesMatchTheKernelFlags) {
  const auto fields = first_processor();
  ASSERT_TRUE(fields.count("flags")) << "no /proc/cpuinfo";
  const std::set<std::string> kernel = words(fields.at("flags"));
  const std::set<std::string> listed =
      words(isa_feature_list(detect_isa_features(live_cpuid_source())));
  // Names from leaves 1 and 7 only: the extended leaves are the likeliest to be
  // shown differently to the kernel by a hypervisor.
  const std::pair<const char*, const char*> names[] = {
      {"MMX", "mmx"},
      {"SSE", "sse"},
      {"SSE2", "sse2"},
      {"SSE3", "pni"},
      {"SSSE3", "ssse3"},
      {"SSE4.1", "sse4_1"},
      {"SSE4.2", "sse4_2"},
      {"POPCNT", "popcnt"},
      {"AES", "aes"},
      {"FMA", "fma"},
      {"RDRAND", "rdrand"},
      {"BMI1", "bmi1"},
      {"BMI2", "bmi2"},
      {"AVX", "avx"},
      {"AVX2", "avx2"},
      {"AVX512F", "avx512f"},
      {"AVX512BW", "avx512bw"},
      {"AVX512VL", "avx512vl"},
      {"AVX512DQ", "avx512dq"},
      {"AVX512IFMA", "avx512ifma"},
      {"AVX512CD", "avx512cd"},
      {"AVX512VBMI", "avx512vbmi"},
      {"AVX512VBMI2", "avx512_vbmi2"},
      {"AVX512VNNI", "avx512_vnni"},
      {"AVX512BITALG", "avx512_bitalg"},
      {"AVX512VPOPCNTDQ", "avx512_vpopcntdq"},
      {"AVX512_BF16", "avx512_bf16"},
      {"AVX512_FP16", "avx512_fp16"},
      {"AVX512_VP2INTERSECT", "avx512_vp2intersect"},
      {"GFNI", "gfni"},
      {"VAES", "vaes"},
      {"VPCLMULQDQ", "vpclmulqdq"},
      {"SHA", "sha_ni"},
      {"RDPID", "rdpid"},
      {"WAITPKG", "waitpkg"},
      {"MOVDIRI", "movdiri"},
      {"MOVDIR64B", "movdir64b"},
      {"SERIALIZE", "serialize"},
      {"CLWB", "clwb"},
      {"CLFLUSHOPT", "clflushopt"},
      {"FSRM", "fsrm"},
  };
  const bool avx10 = listed.count("AVX10") != 0 ||
                     std::any_of(listed.begin(), listed.end(),
                                 [](const std::string& w) { return w.rfind("AVX10", 0) == 0; });
  for (const auto& [ours, theirs] : names) {
    if (avx10 && std::string_view(ours).rfind("AVX512", 0) == 0) {
      continue; // the AVX10 entry stands for these
    }
    EXPECT_EQ(listed.count(ours), kernel.count(theirs)) << ours << " / " << theirs;
  }
}

} // namespace
} // namespace velto
