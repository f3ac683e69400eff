#include "app/printouts.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

namespace velto {
namespace {

TEST(Printouts, GridSizeLimitsDependOnTheSizeType) {
  for (std::uint64_t size : {64, 128, 192, 256, 320, 384, 448}) {
    EXPECT_EQ(grid_size_limit_message(size, UINT32_MAX), "") << size;
  }
  for (std::uint64_t size : {512, 640, 768, 1024}) {
    EXPECT_EQ(grid_size_limit_message(size, UINT32_MAX),
              "grid size " + std::to_string(size) + " would overflow memory calculation");
  }
  for (std::uint64_t size : {2048, 4096, 8192}) {
    EXPECT_EQ(grid_size_limit_message(size, UINT32_MAX),
              "grid size " + std::to_string(size) + " is too large for the address space");
  }
  for (std::uint64_t size : {64, 448, 512, 1024, 2048, 8192}) {
    EXPECT_EQ(grid_size_limit_message(size, UINT64_MAX), "") << size;
  }
}

TEST(TimerReport, PrintsEveryLineInOrder) {
  TimerFacts report;
  report.fast = {10000000, 2994000000, TimerSource::itsc};
  report.coarse = {1000, 64, TimerSource::unknown};
  report.tsc = {true, 2994000000, 0};
  report.cpu = {"  Some CPU @ 3.00GHz ", CpuVendor::intel, 6, 0x9E};
  report.compliant = true;
  std::ostringstream out;
  print_timer_report(report, out);
  EXPECT_EQ(out.str(), "Fast timer: iTSC\n"
                       "underlying frequency: 2.99 GHz\n"
                       "report frequency: 10.00 MHz\n"
                       "Coarse timer: \n"
                       "underlying frequency: 64 Hz\n"
                       "report frequency: 1.00 KHz\n"
                       "\n"
                       "tsc info:\n"
                       "tsc: 2.99 GHz\n"
                       "crystal: 0 Hz\n"
                       "invariant: true\n"
                       "\n"
                       "  Some CPU @ 3.00GHz \n"
                       "Intel detected\n"
                       "detected family: 6 model: 9e\n"
                       "\n"
                       "Fast timer is hwbot compliant\n");
}

TEST(TimerReport, NotCompliantTellsHowToBypass) {
  TimerFacts report;
  report.cpu.vendor = CpuVendor::amd;
  report.cpu.family = 0xF;
  report.cpu.model = 0x21;
  std::ostringstream out;
  print_timer_report(report, out);
  const std::string text = out.str();
  EXPECT_NE(text.find("\nAMD detected\ndetected family: f model: 21\n\n"
                      "Fast timer is not compliant with HWBOT rules\n"
                      "Use --bypass-timer-check to run regardless if you are sure that this is a "
                      "detection error in terms of your windows version, processor, or timer\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.rfind("Fast timer: unknown\n", 0), 0u);
  report.cpu.vendor = CpuVendor::unknown;
  std::ostringstream unknown;
  print_timer_report(report, unknown);
  EXPECT_NE(unknown.str().find("\nunknown vendor\n"), std::string::npos);
}

} // namespace
} // namespace velto
